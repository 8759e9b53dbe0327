#pragma once
// A panel with a background image, text items and image sets. Changing a text redraws only that
// item's rectangle, and only when the text differs.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <vector>

namespace fsv::ui::skin {

class SkinPanel : public QWidget {
    Q_OBJECT
  public:
    struct Text {
        QString name;
        QRect rect;
        QFont font;
        QColor colour;
        bool flag = false;  // true: the text is centred vertically in its rectangle
        QString text;
    };
    struct Images {
        QString name;
        QPoint at;
        std::vector<QImage> images;
        int shown = 0;  // -1: none
    };

    SkinPanel(QImage background, QWidget* parent = nullptr);
    void addText(Text t);
    void addImages(Images set);

    const QImage& background() const { return background_; }
    int textCount() const { return static_cast<int>(texts_.size()); }
    const Text& text(int i) const { return texts_.at(static_cast<size_t>(i)); }
    // Returns false when the text was already shown (nothing redrawn) or there is no such item.
    bool setText(int i, const QString& text);
    void showImage(int set, int image);
    QSize sizeHint() const override { return size(); }

  Q_SIGNALS:
    // A click inside a text item: its number and where (for popups at the item).
    void textClicked(int item, QPoint at);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

  private:
    QImage background_;
    std::vector<Text> texts_;
    std::vector<Images> sets_;
};

}  // namespace fsv::ui::skin
