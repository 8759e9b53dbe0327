#pragma once
// The smaller skinned controls: progress bar, static text, edit and combo box, and the table of
// every control one parent (the main surface or a panel window) carries.

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <map>
#include <vector>

#include "skin/Skin.h"

namespace fsv::ui::skin {

class SkinButton;
class SkinImages;
class SkinPanel;
class SkinSlider;

class SkinProgress : public QWidget {
    Q_OBJECT
  public:
    SkinProgress(QImage background, QImage bar, bool horizontal, QWidget* parent = nullptr);
    void setRange(int minimum, int maximum);
    void setValue(int value);
    int value() const { return value_; }
    QSize sizeHint() const override { return size(); }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QImage background_, bar_;
    bool horizontal_;
    int min_ = 0, max_ = 100, value_ = 0;
};

// Every control of one parent, by line and index. Buttons sit in a table of 16 per line.
struct SkinControlSet {
    std::map<int, SkinButton*> buttons;  // line * 16 + index
    std::map<int, std::vector<SkinSlider*>> sliders;
    std::map<int, SkinPanel*> panels;
    std::map<int, std::vector<SkinProgress*>> progress;
    std::map<int, std::vector<QComboBox*>> combos;
    std::map<int, std::vector<QLineEdit*>> edits;
    std::vector<QLabel*> statics;

    SkinButton* button(int line, int index) const;
};

// Builds the controls of `c` on `parent`, with pictures from `images`.
void buildSkinControls(QWidget* parent, const ::fsv::skin::Controls& c, SkinImages& images,
                       SkinControlSet& out);

QFont skinFont(const std::string& face, int height, bool italic = false, bool underline = false,
               bool strikeout = false);

}  // namespace fsv::ui::skin
