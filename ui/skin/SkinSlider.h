#pragma once
// A slider drawn from a background image and two thumb images (normal; active while pressed or
// under the mouse). A press on the thumb drags it; a press beside it moves it there.

#include <QAbstractSlider>
#include <QImage>

namespace fsv::ui::skin {

class SkinSlider : public QAbstractSlider {
    Q_OBJECT
  public:
    SkinSlider(Qt::Orientation o, QImage background, QImage thumb, QImage activeThumb,
               QWidget* parent = nullptr);
    QRect thumbRect() const;
    QSize sizeHint() const override { return size(); }

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void enterEvent(QEnterEvent*) override { update(); }
    void leaveEvent(QEvent*) override { update(); }

  private:
    QSize thumbSize() const;
    int valueAt(QPoint pos) const;

    QImage background_, thumb_, active_;
    int grabOffset_ = 0;
};

}  // namespace fsv::ui::skin
