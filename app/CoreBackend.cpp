#include "app/CoreBackend.h"

#include <QMetaObject>
#include <algorithm>
#include <system_error>

#include "platform/System.h"
#include "state/ConnectionSet.h"
#include "state/ResumeFile.h"
#include "state/Settings.h"

namespace fsv::app {

CoreBackend::CoreBackend(net::SessionTiming timing)
    : notes_([this] {
          QMetaObject::invokeMethod(
              &bridge_, [this] { drain(); }, Qt::QueuedConnection);
      }),
      user_(std::make_unique<QtUserPort>(&bridge_, notes_, exit_)) {
    client::Controller::Options o;
    o.dataFolder = platform::dataFolder();
    o.timing = timing;
    o.exitEvent = &exit_;
    o.status = this;
    controller_ = std::make_unique<client::Controller>(o, *user_, notes_);
    controller_->onResumeFile = [this](const std::filesystem::path& f) { return resumeFile(f); };
    table_ = std::make_unique<download::ChannelTable>(
        *user_, state::readSettings(state::settingsPath()).maxChannel);
    connector_ = std::thread([this] { connectLoop(); });
}

CoreBackend::~CoreBackend() { shutdown(); }

void CoreBackend::setListener(Listener listener) { listener_ = std::move(listener); }

void CoreBackend::startUp() { controller_->startUp(); }

// ---- the bridge ----------------------------------------------------------------------------

void CoreBackend::notify(const ui::ViewerNotice& notice) {
    // Queued even from the UI thread, so that a notice never runs inside the caller.
    QMetaObject::invokeMethod(
        &bridge_,
        [this, notice] {
            if (listener_) listener_(notice);
        },
        Qt::QueuedConnection);
}

void CoreBackend::notify(ui::ViewerNotice::Kind kind, bool ok) {
    ui::ViewerNotice n;
    n.kind = kind;
    n.ok = ok;
    notify(n);
}

void CoreBackend::drain() {
    notes_.drain([this](client::Notification& n) { handle(n); });
}

void CoreBackend::handle(client::Notification& n) {
    ui::ViewerNotice notice;
    if (auto* box = std::get_if<client::MessageBoxNote>(&n)) {
        if (user_->exiting()) return;
        notice.kind = ui::ViewerNotice::Kind::MessageBox;
        notice.text = box->text;
        notice.type = box->type;
    } else if (auto* q = std::get_if<client::Question>(&n)) {
        user_->answerQueued(*q);
        return;
    } else if (std::holds_alternative<client::SessionAdded>(n) ||
               std::holds_alternative<client::SessionRemoved>(n)) {
        notice.kind = ui::ViewerNotice::Kind::SessionsChanged;
    } else if (auto* e = std::get_if<client::EventListChanged>(&n)) {
        if (onEventList) onEventList(*e);
        if (e->what != client::EventListChanged::What::Recorders) return;
        // A recorder's server information arrived or went: its channel counts changed.
        notice.kind = ui::ViewerNotice::Kind::SessionsChanged;
    } else if (auto* panel = std::get_if<client::PanelNote>(&n)) {
        notice.kind = ui::ViewerNotice::Kind::PanelMessage;
        notice.message = static_cast<unsigned>(panel->message);
        notice.wParam = panel->wParam;
        notice.lParam = panel->lParam;
    } else if (auto* frame = std::get_if<client::FrameReady>(&n)) {
        notice.kind = ui::ViewerNotice::Kind::FrameReady;
        notice.wParam = frame->panel;
    } else if (auto* play = std::get_if<client::PlaybackPosition>(&n)) {
        // Only the latest of a panel is queued; the control panel reads the rest itself.
        notice.kind = ui::ViewerNotice::Kind::PlayPosition;
        notice.wParam = play->panel;
    } else {
        // The event list and the download list come with their windows.
        return;
    }
    if (listener_) listener_(notice);
}

void CoreBackend::showStatus(const std::string& text) {
    ui::ViewerNotice n;
    n.kind = ui::ViewerNotice::Kind::ShowStatus;
    n.text = text;
    notify(n);
}

void CoreBackend::hideStatus() { notify(ui::ViewerNotice::Kind::HideStatus); }

// ---- connecting ----------------------------------------------------------------------------

bool CoreBackend::connect(const ConnectRequest& request) {
    {
        std::lock_guard lock(connectLock_);
        if (stopConnects_) return false;
        requests_.push_back(request);
        connecting_.fetch_add(1);
    }
    connectWake_.notify_one();
    return true;
}

void CoreBackend::connectLoop() {
    for (;;) {
        ConnectRequest request;
        {
            std::unique_lock lock(connectLock_);
            connectWake_.wait(lock, [this] { return stopConnects_ || !requests_.empty(); });
            if (stopConnects_) return;
            request = std::move(requests_.front());
            requests_.pop_front();
        }
        // A Cancel belongs to the connect it was pressed for.
        controller_->statusCancelEvent().reset();
        controller_->connect(request);
        controller_->waitConnect();
        connecting_.fetch_sub(1);
        notify(ui::ViewerNotice::Kind::ConnectFinished, true);
    }
}

void CoreBackend::cancelWait() { controller_->statusCancelEvent().set(); }

bool CoreBackend::resumeFile(const std::filesystem::path& file) {
    auto r = state::loadResumeFile(file);
    if (!r.usable()) {
        user_->messageBox(
            r.status == state::ReadStatus::WrongFormat ? r.message : state::kReadFileFail,
            mb::kOk | mb::kIconStop);
        return false;
    }
    // This window connects to the recorder; the work itself is taken up by `fsv resume` or a
    // later start, so the file stays.
    connect(state::toConnectRequest(r.value.header));
    return false;
}

// ---- the session list ----------------------------------------------------------------------

std::vector<ui::SessionSummary> CoreBackend::sessions() const {
    std::vector<ui::SessionSummary> out;
    for (auto& s : controller_->sessions()) {
        ui::SessionSummary sum;
        sum.recorderName = s.recorderName;
        sum.address = s.address;
        sum.port = s.port;
        sum.connectionTime = s.connectionTime;
        sum.connectionNumber = s.connectionNumber;
        sum.cameras = s.cameras;
        sum.audioChannels = s.audioChannels;
        out.push_back(std::move(sum));
    }
    return out;
}

std::vector<ConnectRequest> CoreBackend::connections() const {
    return controller_->connectionRequests();
}

void CoreBackend::closeAll() {
    // The window asked already; highest position first.
    for (int p = controller_->sessionCount() - 1; p >= 0; --p) controller_->queueConnectionClose(p);
}

bool CoreBackend::loadResumeFile(const std::filesystem::path& file) {
    auto r = state::loadResumeFile(file);
    if (!r.usable() || r.status == state::ReadStatus::Missing) {
        ui::ViewerNotice n;
        n.kind = ui::ViewerNotice::Kind::MessageBox;
        n.text = r.status == state::ReadStatus::WrongFormat ? r.message : state::kReadFileFail;
        n.type = mb::kOk | mb::kIconStop;
        notify(n);
        return false;
    }
    // The work itself is rebuilt by the download queues once the recorder is connected; until
    // they are part of this window the file is kept for a later load.
    return connect(state::toConnectRequest(r.value.header));
}

// ---- the channels ------------------------------------------------------------------------

ui::ViewerBackend::OpenResult CoreBackend::openLocalFile(const std::filesystem::path& file) {
    // A file that failed to open has ended without taking a position: drop it.
    std::erase_if(players_, [](auto& p) {
        return p->channel().finished() && p->channel().channelPosition() < 0;
    });
    std::error_code ec;
    for (auto& p : players_)
        if (std::filesystem::equivalent(p->channel().path(), file, ec))
            return OpenResult::AlreadyPlaying;
    // Files still opening hold no position yet but will take one.
    if (static_cast<int>(players_.size()) >= table_->maxChannels() ||
        table_->usedCount() >= table_->maxChannels())
        return OpenResult::OverMaximum;
    playback::LocalChannel::Options o;
    o.queue = &notes_;
    o.exitEvent = &exit_;
    o.requestClose = [this](int position) {
        QMetaObject::invokeMethod(
            &bridge_, [this, position] { closeChannel(position); }, Qt::QueuedConnection);
    };
    auto player = std::make_unique<playback::LocalPlayer>(*table_, slots_, std::move(o));
    if (!player->start(file, true)) return OpenResult::Failed;
    players_.push_back(std::move(player));
    return OpenResult::Opened;
}

void CoreBackend::showPage(int first, int count) { table_->showPage(first, count); }

std::optional<std::string> CoreBackend::panelCaption(int panel) const {
    auto* shown = table_->panelPlayer(panel);
    if (!shown) return std::nullopt;
    for (auto& p : players_)
        if (p.get() == shown) return p->channel().caption();
    return std::string();
}

playback::LocalPlayer* CoreBackend::playerAt(int position) const {
    if (position < 0) return nullptr;
    for (auto& p : players_)
        if (p->channel().channelPosition() == position) return p.get();
    return nullptr;
}

std::vector<std::filesystem::path> CoreBackend::channelFiles() const {
    std::vector<std::filesystem::path> out(static_cast<size_t>(std::max(table_->size(), 0)));
    for (size_t i = 0; i < out.size(); ++i)
        if (auto* p = playerAt(static_cast<int>(i))) out[i] = p->channel().path();
    return out;
}

bool CoreBackend::isPlaying(const std::filesystem::path& file) const {
    std::error_code ec;
    for (auto& p : players_)
        if (std::filesystem::equivalent(p->channel().path(), file, ec)) return true;
    return false;
}

bool CoreBackend::hasChannel(int position) const { return playerAt(position) != nullptr; }

bool CoreBackend::pauseChannel(int position, bool pause) {
    auto* p = playerAt(position);
    if (!p) return false;
    p->channel().setPaused(pause);
    return true;
}

bool CoreBackend::closeChannel(int position) {
    auto* p = playerAt(position);
    if (!p) return false;
    // The player stops its thread and gives its position back as it goes.
    std::erase_if(players_, [p](auto& q) { return q.get() == p; });
    return true;
}

bool CoreBackend::channelCommand(int position, download::PlayCommand command) {
    bool done = false;
    table_->withPlayer(position, [&](download::Player& p) { done = p.command(command); });
    return done;
}

bool CoreBackend::goToFrame(int position, uint32_t frame) {
    bool done = false;
    table_->withPlayer(position, [&](download::Player& p) { done = p.goTo(frame); });
    return done;
}

bool CoreBackend::setChannelSpeed(int position, int factor) {
    bool done = false;
    table_->withPlayer(position, [&](download::Player& p) { done = p.setSpeed(factor); });
    return done;
}

std::optional<download::PlayStatus> CoreBackend::channelStatus(int position) const {
    std::optional<download::PlayStatus> status;
    table_->withPlayer(position, [&](download::Player& p) { status = p.playStatus(); });
    return status;
}

bool CoreBackend::setChannelNoPacing(int position, bool on) {
    bool done = false;
    table_->withPlayer(position, [&](download::Player& p) { done = p.setNoPacing(on); });
    return done;
}

std::optional<download::PausedPicture> CoreBackend::pausedPicture(int position) const {
    std::optional<download::PausedPicture> out;
    table_->withPlayer(position, [&](download::Player& p) {
        download::PausedPicture picture;
        if (p.pausedPicture(picture)) out = std::move(picture);
    });
    return out;
}

std::optional<ui::ViewerBackend::ClipSource> CoreBackend::clipSource(int position) const {
    // Only a local file channel makes clips; its path and credential never change once started.
    if (table_->kindAt(position) != download::ChannelKind::LocalFile) return std::nullopt;
    auto* p = playerAt(position);
    if (!p) return std::nullopt;
    return ClipSource{p->channel().path(), p->channel().credential()};
}

// ---- the end -------------------------------------------------------------------------------

void CoreBackend::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    user_->setExiting();
    // Every wait of a connect thread also watches the exit and cancel events.
    exit_.set();
    controller_->statusCancelEvent().set();
    {
        std::lock_guard lock(connectLock_);
        stopConnects_ = true;
        connecting_.fetch_sub(static_cast<int>(requests_.size()));
        requests_.clear();
    }
    connectWake_.notify_one();
    if (connector_.joinable()) connector_.join();
    players_.clear();
    controller_->shutDown(false);
}

}  // namespace fsv::app
