// The skinned main window: the skin's surface carries the toolbar of line 6, the caption
// buttons, the menu button and the playback controls; the channel view and the connection list
// sit in the surface's picture area. The window has no frame of its own: dragging the bare
// surface moves it, the caption buttons minimise and close it.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "ui/mainwindow/MainWindow.h"
#include "ui/playback/PlaybackPanel.h"
#include "ui/skin/SkinButton.h"
#include "ui/skin/SkinControls.h"
#include "ui/skin/SkinSlider.h"
#include "ui/skin/SkinSurface.h"

namespace fsv::ui {

namespace {
// Dispatcher lines of the surface.
constexpr int kLayoutLine = 0;
constexpr int kMenuLine = 1;
constexpr int kCaptionLine = 2;
constexpr int kPlayLine = 3;
constexpr int kSaveLine = 4;
enum CaptionButton : int { kMinimizeButton = 0, kExitButton = 1 };

// Whether the surface can carry the main window: its own picture is there, the toolbar has its
// connect button, and every button and slider the window works with is drawn with its picture
// inside the surface. A skin that fails this (coordinates far outside, bitmaps missing) would
// leave a frameless window whose controls cannot be seen.
bool showsTheControls(const ::fsv::ui::skin::SkinSurface& surface) {
    const QRect area(QPoint(0, 0), surface.sizeHint());
    if (!surface.hasPicture() || !surface.button(kToolbarLine, kConnectButton)) return false;
    for (const auto& [key, b] : surface.controls().buttons) {
        const int line = key / 16;
        const bool used = line == kLayoutLine || line == kMenuLine || line == kCaptionLine ||
                          line == kPlayLine || line == kSaveLine || line == kToolbarLine;
        if (used && (!b->hasPicture() || !area.contains(b->geometry()))) return false;
    }
    for (const auto& [line, sliders] : surface.controls().sliders)
        for (const auto* s : sliders)
            if (!area.contains(s->geometry())) return false;
    return true;
}

}  // namespace

bool MainWindow::useSkin(const std::string& style, int width,
                         const std::vector<std::filesystem::path>& roots) {
    if (skin_) return true;
    auto* surface = new ::fsv::ui::skin::SkinSurface(this);
    surface->setObjectName(QStringLiteral("skinSurface"));
    surface->load(style, width, roots,
                  [this](int line, int index) { dispatchButton(line, index); });
    // A skin that cannot show the window's controls is not a usable skin: the plain window
    // stays.
    if (!showsTheControls(*surface)) {
        delete surface;
        return false;
    }
    skin_ = surface;
    QWidget* content = takeCentralWidget();
    setCentralWidget(skin_);
    content->setParent(skin_);
    content->show();
    content_ = content;
    setWindowFlag(Qt::FramelessWindowHint, true);
    menuBar()->hide();
    toolbar_->hide();
    // The plain toolbar's shortcuts go with it; the same keys reach the skinned buttons.
    for (int i = 0; i < 8; ++i) {
        QToolButton* b = buttons_[static_cast<size_t>(i)];
        auto* a = new QAction(b->text(), this);
        a->setObjectName(QStringLiteral("toolbarShortcut%1").arg(i));
        a->setShortcut(b->shortcut());
        connect(a, &QAction::triggered, this, [this, i] {
            if (buttonState(kToolbarLine, i) != 0) dispatchButton(kToolbarLine, i);
        });
        addAction(a);
        if (auto* s = skin_->button(kToolbarLine, i)) {
            s->setAccessibleName(b->accessibleName());
            s->setAccessibleDescription(b->accessibleDescription());
            s->setToolTip(b->toolTip());
        }
    }
    // The menu bar's place: the main menu from the keyboard.
    auto* menuKey = new QAction(QStringLiteral("Menu"), this);
    menuKey->setObjectName(QStringLiteral("mainMenuShortcut"));
    menuKey->setShortcut(QKeySequence(Qt::Key_F10));
    connect(menuKey, &QAction::triggered, this, [this] { dispatchButton(kMenuLine, 0); });
    addAction(menuKey);
    // Until a channel is open, its playback and save buttons have nothing to act on.
    for (int i = 0; i < 16; ++i) {
        skin_->setButtonLook(kPlayLine, i, ::fsv::ui::skin::LookDisabled);
        skin_->setButtonLook(kSaveLine, i, ::fsv::ui::skin::LookDisabled);
    }
    for (int i = 0; i < 8; ++i) skin_->setButtonLook(kToolbarLine, i, buttonState(kToolbarLine, i));
    playback_->attachSkin(skin_);
    placeOnSkin();
    showLayoutOnSkin();
    refreshConnectionList();
    return true;
}

void MainWindow::placeOnSkin() {
    // Between the top row (menu, caption and toolbar buttons) and the bottom controls (the
    // position slider, playback, save and layout buttons).
    int top = 0, bottom = skin_->sizeHint().height();
    for (const auto& [key, b] : skin_->controls().buttons) {
        const int line = key / 16;
        if (line == kMenuLine || line == kCaptionLine || line == kToolbarLine)
            top = std::max(top, b->geometry().bottom() + 1);
        else if (line == kLayoutLine || line == kPlayLine || line == kSaveLine)
            bottom = std::min(bottom, b->geometry().top());
    }
    for (const auto& [line, sliders] : skin_->controls().sliders)
        for (auto* s : sliders) bottom = std::min(bottom, s->geometry().top());
    // The picture area's frame is drawn 15 pixels inside those rows and 8 from the sides.
    const int w = skin_->sizeHint().width();
    content_->setGeometry(10, top + 16, w - 20, bottom - top - 37);
    // The list in the skin's dark colours.
    QPalette dark = content_->palette();
    dark.setColor(QPalette::Window, QColor(0x1b, 0x1f, 0x23));
    dark.setColor(QPalette::Base, QColor(0x12, 0x15, 0x18));
    dark.setColor(QPalette::AlternateBase, QColor(0x1b, 0x1f, 0x23));
    dark.setColor(QPalette::Button, QColor(0x2a, 0x2f, 0x34));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(0xd8, 0xde, 0xe4));
    dark.setColor(QPalette::Highlight, QColor(0x2b, 0x8c, 0xd6));
    content_->setPalette(dark);
}

void MainWindow::windowButton(int line, int index) {
    if (line == kMenuLine) {
        QPoint at = mapToGlobal(QPoint(0, 0));
        if (auto* b = skin_ ? skin_->button(kMenuLine, 0) : nullptr)
            at = b->mapToGlobal(b->rect().bottomLeft());
        mainMenu_->popup(at);
    } else if (line == kCaptionLine) {
        if (index == kMinimizeButton) showMinimized();
        if (index == kExitButton) close();
    }
}

void MainWindow::showConnectionsOnSkin(int count, const QString& first) {
    auto* status = skin_ ? skin_->panelWindow(1) : nullptr;
    if (!status || status->controls.statics.empty()) return;
    QString text = count == 0   ? QStringLiteral("Not connected")
                   : count == 1 ? first
                                : QStringLiteral("%1 connections").arg(count);
    status->controls.statics[0]->setText(text);
    if (auto p = status->controls.progress.find(0); p != status->controls.progress.end())
        for (auto* bar : p->second) bar->setValue(0);
}

}  // namespace fsv::ui
