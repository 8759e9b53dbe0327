#include "app/Viewer.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "platform/System.h"
#include "platform/UserPort.h"
#include "recordings/download/DownloadSession.h"
#include "skin/Skin.h"
#include "state/ResumeFile.h"
#include "state/Settings.h"
#include "ui/Prompts.h"
#include "ui/dialogs/PeriodDialog.h"
#include "ui/lists/ArchiveWindow.h"
#include "ui/lists/ChannelListWindow.h"
#include "ui/lists/ConnectionListWindow.h"
#include "ui/lists/DownloadHistoryWindow.h"
#include "ui/lists/DownloadListWindow.h"
#include "ui/lists/EventListWindow.h"
#include "ui/models/DownloadFeed.h"
#include "ui/models/DownloadRows.h"

namespace fsv::app {

Viewer::Viewer(net::SessionTiming timing)
    : backend_(std::make_unique<CoreBackend>(timing)),
      window_(std::make_unique<ui::MainWindow>(*backend_)) {
    backend_->user().setWindow(window_.get());
    window_->installEventFilter(this);
    makeListWindows();
    connect(window_.get(), &ui::MainWindow::exited, this, &Viewer::endProgram);
}

void Viewer::endProgram() {
    // The main window is gone and the backend shut down: no other window of the program may
    // keep it alive, whether it is a list window, the period dialog or a box still open.
    if (period_) period_->abort();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != window_.get() && w->isVisible()) w->close();
    Q_EMIT ended();
    // Queued: the main window's close is still on the stack. Nothing happens without a loop.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

Viewer::~Viewer() {
    // A period query in progress ends first (its thread is the controller's).
    if (period_) period_->abort();
    if (rows_) rows_->setShuttingDown(true);
    backend_->shutdown();
    disconnect(&backend_->notices(), nullptr, this, nullptr);
    period_.reset();
    feed_.reset();
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
    // The settings read at start, with the size just chosen (and written), are written back, so
    // that a first run leaves a complete file.
    state::Settings settings = backend_->settings();
    settings.panelWidth = size.width;
    settings.panelHeight = size.height;
    state::writeSettings(state::settingsPath(), settings);
    backend_->settingsChanged(settings);
    window_->setFixedSize(size.width, size.height);
    // The skin of the chosen style at the panel width; without one the plain controls stay.
    window_->useSkin(settings.skinStyle, size.width, skin::defaultSkinRoots());
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
    makeEventListWindow();
    makeChannelList();
    makeConnectionList();
    makeFileLists();
    makeDownloadList();
    makeBrowsing();
}

void Viewer::makeEventListWindow() {
    using client::EventListChanged;
    auto& c = backend_->controller();
    eventList_ = std::make_unique<ui::EventListWindow>(c.eventList(), &backend_->user());
    eventList_->setWindowTitle(QStringLiteral("Event List"));
    connect(&backend_->notices(), &ui::BackendSignals::eventListChanged, this,
            [this](const EventListChanged& e) { eventListChanged(e); });
    window_->setListWindow(ui::cmd::kNormal, eventList_.get());
    // The timeline's recorder rows are the recorder the event list window shows; a click on
    // one of its recordings selects it there and starts the work as the window's button does.
    window_->timelineRecorder = [this](playback::TimelineModel& model) {
        model.setRecorder(backend_->controller().eventList(), eventList_->shownRecorder());
    };
    window_->onTimelineRecording = [this](const EventRef& ref) {
        auto& list = backend_->controller().eventList();
        if (list.eventMark(ref.recorder, ref.channel, ref.day, ref.event) != kMarkSelected)
            list.actOnEvent(ref, kMarkSelected, &backend_->user());
        startWork(false);
    };
}

void Viewer::eventListChanged(const client::EventListChanged& e) {
    using client::EventListChanged;
    switch (e.what) {
        case EventListChanged::What::Refresh:
            eventList_->onRefresh();
            break;
        case EventListChanged::What::Recorders:
            eventList_->onRecordersChanged();
            showNewRecorder();
            break;
        case EventListChanged::What::Row:
            eventList_->onRowChanged(QString::fromStdString(e.key), e.mark);
            break;
        case EventListChanged::What::EventRemoved:
            eventList_->onEventRemoved();
            break;
        case EventListChanged::What::Waiting:
            eventList_->onWaiting(e.waiting);
            break;
        case EventListChanged::What::Controls:
            eventList_->onControlsEnabled(e.enabled);
            break;
        case EventListChanged::What::Title:
            eventList_->onTitle(QString::fromStdString(e.key));
            break;
    }
}

void Viewer::makeChannelList() {
    channelList_ = std::make_unique<ui::ChannelListWindow>();
    channelList_->setWindowTitle(QStringLiteral("Channel List"));
    channelHost_ = std::make_unique<ChannelListHost>(*backend_, *window_);
    channelList_->setHost(channelHost_.get());
    window_->setListWindow(ui::cmd::kChannelList, channelList_.get());
}

void Viewer::makeConnectionList() {
    connectionList_ = std::make_unique<ui::ConnectionListWindow>();
    connectionList_->setWindowTitle(QStringLiteral("Connection List"));
    connectionHost_ = std::make_unique<ConnectionListHost>(backend_->controller());
    connectionList_->setHost(connectionHost_.get());
    window_->setListWindow(ui::cmd::kConnectionList, connectionList_.get());
}

// The windows whose files play as local files: the download history and an archive's catalog.
void Viewer::makeFileLists() {
    history_ = std::make_unique<ui::DownloadHistoryWindow>();
    history_->setWindowTitle(QStringLiteral("Download History"));
    historyFiles_ = std::make_unique<LocalFileHost>(*backend_);
    historyFiles_->tellOver(history_.get());
    history_->setFiles(historyFiles_.get());
    window_->setListWindow(ui::cmd::kDownloadHistory, history_.get());

    // The catalog of an archive folder kept by fsv archive; its recordings play as local files.
    archive_ = std::make_unique<ui::ArchiveWindow>();
    archiveFiles_ = std::make_unique<LocalFileHost>(*backend_);
    archiveFiles_->tellOver(archive_.get());
    archive_->setFiles(archiveFiles_.get());
    window_->setListWindow(ui::cmd::kArchive, archive_.get());
}

void Viewer::makeDownloadList() {
    auto& c = backend_->controller();
    rows_ = std::make_unique<ui::DownloadRows>(&c.workList());
    downloads_ = std::make_unique<ui::DownloadListWindow>(*rows_, &c.workList());
    downloads_->setWindowTitle(QStringLiteral("DownLoad List"));
    window_->setListWindow(ui::cmd::kDownloadList, downloads_.get());
}

void Viewer::makeBrowsing() {
    auto& c = backend_->controller();
    // A day opened in the tree is asked for when its events are not loaded.
    days_ = std::make_unique<DayHost>(c);
    eventList_->setDayOpener(days_.get());

    // The period dialog: the days of the period are asked for on a controller thread; a
    // selection made there starts work on another.
    period_ = std::make_unique<ui::PeriodDialog>(c.eventList(), *backend_);
    period_->onSelected = [this] { return startWork(true); };
    connect(eventList_.get(), &ui::EventListWindow::periodRequested, this, [this](int recorder) {
        if (!starting_) period_->openFor(recorder);
    });
    connect(eventList_.get(), &ui::EventListWindow::startRequested, this,
            [this] { startWork(false); });
    connect(&backend_->notices(), &ui::BackendSignals::workStarted, this, &Viewer::workStartEnded);

    // The download list and the history, fed by the work list's rows.
    feed_ = std::make_unique<ui::DownloadFeed>(*rows_);
    feed_->onFinished = [this](const ui::FinishedDownload& f) {
        // Told on the UI thread: the work list's rows reach the feed through the bridge.
        history_->appendRow(QString::fromStdString(f.serverName),
                            QString::fromStdString(f.serverAddress),
                            QString::fromStdString(f.deviceName),
                            QString::fromStdString(f.eventKey), QString::fromStdString(f.savePath));
    };
    // A row names its session: the recorder is looked up the first time the row is seen, and
    // remembered, so that rows told after their connection closed still show it.
    feed_->serverOf = [this](int session, std::string* name, std::string* address) {
        auto known = servers_.find(session);
        if (known == servers_.end()) {
            for (const auto& s : backend_->controller().sessions())
                servers_[s.id] = {s.recorderName, s.address};
            known = servers_.find(session);
        }
        if (known == servers_.end()) return;
        *name = known->second.first;
        *address = known->second.second;
    };
    connect(&backend_->notices(), &ui::BackendSignals::workRowChanged, this,
            [this](const download::WorkRow& row) { feed_->onWorkRow(row); });
}

bool Viewer::startWork(bool fromPeriod) {
    if (starting_ || !backend_->controller().startWorkAsync()) return false;
    starting_ = true;
    startFromPeriod_ = fromPeriod;
    eventList_->setDownloadControlsEnabled(false);
    return true;
}

void Viewer::workStartEnded(client::StartResult result) {
    starting_ = false;
    eventList_->setDownloadControlsEnabled(true);
    // A declined start from the period dialog brings the dialog back with its values.
    if (startFromPeriod_ && result != client::StartResult::Started && !backend_->user().exiting())
        period_->openFor();
    startFromPeriod_ = false;
    Q_EMIT workStarted(static_cast<int>(result));
}

void Viewer::resumeUnfinishedWork() { backend_->startUp(); }

void Viewer::showNewRecorder() {
    // A recorder enters the event list when its information has arrived (after the login, and
    // again after a refresh): the event list window comes up showing it.
    std::set<int> now;
    int arrived = -1;
    for (const auto& row : backend_->controller().eventList().recorders()) {
        now.insert(row.position);
        if (!recorders_.count(row.position)) arrived = row.position;
    }
    recorders_ = std::move(now);
    if (arrived < 0 || backend_->user().exiting()) return;
    eventList_->showRecorder(arrived);
    window_->runCommand(ui::cmd::kNormal);
}

bool Viewer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && !drawn_ &&
        (watched == window_.get() || watched == window_->centralWidget())) {
        drawn_ = true;
        QTimer::singleShot(0, this, &Viewer::drawn);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace fsv::app
