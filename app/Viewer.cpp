#include "app/Viewer.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "platform/System.h"
#include "skin/Skin.h"
#include "state/ResumeFile.h"
#include "state/Settings.h"
#include "ui/dialogs/SetupDialog.h"

namespace fsv::app {

Viewer::Viewer(net::SessionTiming timing)
    : backend_(std::make_unique<CoreBackend>(timing)),
      window_(std::make_unique<ui::MainWindow>(*backend_)) {
    backend_->user().setWindow(window_.get());
    window_->installEventFilter(this);
}

Viewer::~Viewer() {
    backend_->shutdown();
    window_.reset();
    backend_.reset();
}

void Viewer::start() {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->size() : QSize(800, 600);
    const state::ScreenSize s{screenSize.width(), screenSize.height()};
    const auto size = state::chooseMainWindowSize(state::settingsPath(), s);
    // The setup dialog is made once without being shown: it reads the settings and writes them
    // straight back, so that a first run leaves a complete file.
    { ui::SetupDialog firstRead(nullptr); }
    window_->setFixedSize(size.width, size.height);
    // The skin of the chosen style at the panel width; without one the plain controls stay.
    window_->useSkin(skin::skinStyle(state::settingsPath()), size.width, skin::defaultSkinRoots());
    // A skin covers the whole window: its surface is what paints first.
    if (QWidget* surface = window_->centralWidget()) surface->installEventFilter(this);
    const auto at = state::mainWindowPosition(state::appPositionPath(), size.width, size.height, s);
    if (at)
        window_->setPinnedPosition(QPoint(at->left, at->top));
    else
        window_->move(0, 0);
    window_->show();
    window_->activateWindow();
    QTimer::singleShot(0, this, &Viewer::resumeUnfinishedWork);
}

void Viewer::resumeUnfinishedWork() { backend_->startUp(); }

bool Viewer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && !drawn_ &&
        (watched == window_.get() || watched == window_->centralWidget())) {
        drawn_ = true;
        QTimer::singleShot(0, this, &Viewer::drawn);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace fsv::app
