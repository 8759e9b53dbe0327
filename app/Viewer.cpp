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
#include "ui/lists/ChannelListWindow.h"
#include "ui/lists/ConnectionListWindow.h"
#include "ui/lists/DownloadHistoryWindow.h"
#include "ui/lists/DownloadListWindow.h"
#include "ui/lists/EventListWindow.h"
#include "ui/models/DownloadRows.h"

namespace fsv::app {

Viewer::Viewer(net::SessionTiming timing)
    : backend_(std::make_unique<CoreBackend>(timing)),
      window_(std::make_unique<ui::MainWindow>(*backend_)) {
    backend_->user().setWindow(window_.get());
    window_->installEventFilter(this);
    makeListWindows();
}

Viewer::~Viewer() {
    backend_->shutdown();
    backend_->onEventList = nullptr;
    downloads_.reset();
    rows_.reset();
    history_.reset();
    channelList_.reset();
    connectionList_.reset();
    eventList_.reset();
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

void Viewer::makeListWindows() {
    using client::EventListChanged;
    auto& c = backend_->controller();
    eventList_ = std::make_unique<ui::EventListWindow>(c.eventList(), &backend_->user());
    eventList_->setWindowTitle(QStringLiteral("Event List"));
    backend_->onEventList = [this](const EventListChanged& e) {
        switch (e.what) {
            case EventListChanged::What::Refresh:
                eventList_->onRefresh();
                break;
            case EventListChanged::What::Recorders:
                eventList_->onRecordersChanged();
                break;
            case EventListChanged::What::Row:
                eventList_->onRowChanged(QString::fromStdString(e.key), e.mark);
                break;
        }
    };
    window_->setListWindow(ui::cmd::kNormal, eventList_.get());

    channelList_ = std::make_unique<ui::ChannelListWindow>();
    channelList_->setWindowTitle(QStringLiteral("Channel List"));
    channelList_->channels = [this] {
        std::vector<ui::ChannelListWindow::Channel> out;
        const auto files = backend_->channelFiles();
        for (size_t i = 0; i < files.size(); ++i) {
            ui::ChannelListWindow::Channel ch;
            if (!files[i].empty()) {
                ch.source = ui::ChannelListWindow::Channel::Source::Local;
                ch.fileName = files[i].string();
            } else if (auto s = backend_->streamSource(static_cast<int>(i))) {
                ch.source = ui::ChannelListWindow::Channel::Source::Recorder;
                ch.serverName = s->serverName;
                ch.cameraName = s->cameraName;
                ch.eventKey = s->eventKey;
            }
            out.push_back(std::move(ch));
        }
        return out;
    };
    channelList_->closeChannel = [this](int channel) { backend_->closeChannel(channel); };
    window_->setListWindow(ui::cmd::kChannelList, channelList_.get());

    // The connections; their works arrive with the download queues.
    connectionList_ = std::make_unique<ui::ConnectionListWindow>();
    connectionList_->setWindowTitle(QStringLiteral("Connection List"));
    connectionList_->connections = [this] {
        std::vector<ui::ConnectionListWindow::Connection> out;
        for (const auto& s : backend_->sessions()) {
            ui::ConnectionListWindow::Connection c;
            c.id = static_cast<int>(out.size());
            c.serverName = s.recorderName;
            c.serverAddress = s.address;
            c.loginTime = s.connectionTime;
            out.push_back(std::move(c));
        }
        return out;
    };
    connectionList_->worksOf = [](int) {
        return std::vector<ui::ConnectionListWindow::WorkEntry>{};
    };
    connectionList_->hasUnfinishedWork = [](int) { return false; };
    connectionList_->disconnect = [this](int id, const std::string& resumeFile) {
        backend_->controller().queueConnectionClose(id, resumeFile);
    };
    window_->setListWindow(ui::cmd::kConnectionList, connectionList_.get());

    history_ = std::make_unique<ui::DownloadHistoryWindow>();
    history_->setWindowTitle(QStringLiteral("Download History"));
    history_->isPlaying = [this](const std::filesystem::path& f) { return backend_->isPlaying(f); };
    history_->openAvi = [this](const std::filesystem::path& f) { backend_->openLocalFile(f); };
    window_->setListWindow(ui::cmd::kDownloadHistory, history_.get());

    rows_ = std::make_unique<ui::DownloadRows>(&c.workList());
    downloads_ = std::make_unique<ui::DownloadListWindow>(*rows_, &c.workList());
    downloads_->setWindowTitle(QStringLiteral("DownLoad List"));
    window_->setListWindow(ui::cmd::kDownloadList, downloads_.get());
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
