#pragma once
// The skinned main surface: paints the skin's background and carries every control the skin
// places, plus the panel windows. Button clicks go to one dispatcher as (line, index); the
// buttons of line 0 form a one-of-many set that keeps exactly one of them highlighted.
// Dragging the bare surface moves the window it sits in.

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "skin/Skin.h"
#include "ui/skin/SkinControls.h"

namespace fsv::ui::skin {

class SkinImages;

// A floating window drawn from a background picture, with its own lines of controls.
class SkinPanelWindow : public QWidget {
    Q_OBJECT
  public:
    SkinPanelWindow(QImage background, QWidget* parent);
    SkinControlSet controls;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QImage background_;
};

class SkinSurface : public QWidget {
    Q_OBJECT
  public:
    using Dispatcher = std::function<void(int line, int index)>;

    explicit SkinSurface(QWidget* parent = nullptr);
    ~SkinSurface() override;

    // Builds the controls of `spec`, pictures from `folder`. Called once.
    void build(const ::fsv::skin::SkinSpec& spec, const QString& folder, Dispatcher dispatcher);
    // Finds the skin (style, width) under `roots`, reads and builds it.
    void load(const std::string& style, int width, const std::vector<std::filesystem::path>& roots,
              Dispatcher dispatcher);

    const SkinControlSet& controls() const { return controls_; }
    SkinButton* button(int line, int index) const { return controls_.button(line, index); }
    SkinPanelWindow* panelWindow(int i) const;
    int panelWindowCount() const { return static_cast<int>(windows_.size()); }

    // Sets a button's look when it differs; returns whether anything changed.
    bool setButtonLook(int line, int index, int look);
    // The selected entry of line 0, -1 when line 0 has no buttons.
    int selectedLayout() const { return selected_; }
    // Highlights entry `index` of line 0 without reporting a click.
    void selectLayout(int index);

    QSize sizeHint() const override;
    // Whether the skin's own picture (the surface's background) could be read.
    bool hasPicture() const { return !background_.isNull(); }

  Q_SIGNALS:
    // A button of a panel window (window number, line, index).
    void panelWindowButton(int window, int line, int index);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

  private:
    void clicked(int line, int index);

    QImage background_;
    SkinControlSet controls_;
    std::vector<SkinPanelWindow*> windows_;
    Dispatcher dispatch_;
    int selected_ = -1;
    QPoint dragFrom_;
    bool dragging_ = false;
};

}  // namespace fsv::ui::skin
