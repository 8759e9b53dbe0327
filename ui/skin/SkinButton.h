#pragma once
// A button drawn from five images. Its look state is set by the program: -1 normal (it follows
// the mouse), 0 disabled, 1 highlighted (pressed look), 3 the play image. A two-state button
// flips at each release. Clicks report (line, index) through `clicked`.

#include <QAbstractButton>
#include <QImage>
#include <array>

namespace fsv::ui::skin {

enum Look { LookNormal = -1, LookDisabled = 0, LookHighlighted = 1, LookPlay = 3 };

class SkinButton : public QAbstractButton {
    Q_OBJECT
  public:
    // Images in the order up, down, disabled, play, focus; any of them may be null.
    SkinButton(int line, int index, std::array<QImage, 5> images, QWidget* parent = nullptr);

    int line() const { return line_; }
    int index() const { return index_; }
    int look() const { return look_; }
    // Whether the button has its normal (up) picture: without it, it shows as nothing.
    bool hasPicture() const { return !images_[0].isNull(); }
    // Sets the look and redraws at once. A disabled look also takes clicks away.
    void setLook(int look);
    // The image being drawn now (0 up, 1 down, 2 disabled, 3 play, 4 focus).
    int shownImage() const;
    QSize sizeHint() const override { return size(); }

  Q_SIGNALS:
    void skinClicked(int line, int index);

  protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override { update(); }
    void leaveEvent(QEvent*) override { update(); }

  private:
    int line_, index_;
    int look_ = LookNormal;
    std::array<QImage, 5> images_;
};

}  // namespace fsv::ui::skin
