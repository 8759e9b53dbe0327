#include "app/CoreBackend.h"

#include <QMetaObject>
#include <algorithm>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/System.h"
#include "recordings/download/StoppedStream.h"
#include "recordings/download/Stream.h"
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
    const state::Settings settings = state::readSettings(state::settingsPath());
    captionNumber_ = settings.channelNum;
    captionServer_ = settings.serverName;
    captionCamera_ = settings.cameraName;
    table_ = std::make_unique<download::ChannelTable>(*user_, settings.maxChannel);
    client::Controller::Options o;
    o.dataFolder = platform::dataFolder();
    o.channels = table_.get();
    o.display = &display_;
    o.successor = this;
    o.timing = timing;
    o.exitEvent = &exit_;
    o.status = this;
    // Read once here: the controller works with the same values as the channel table.
    o.settings = settings;
    o.connectFinished = [this] { notify(ui::ViewerNotice::Kind::ConnectFinished, true); };
    controller_ = std::make_unique<client::Controller>(o, *user_, notes_);
    controller_->onResumeFile = [this](const std::filesystem::path& f) { return resumeFile(f); };
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
    dropFailedFiles();
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
        if (auto* gone = std::get_if<client::SessionRemoved>(&n); gone && onSessionRemoved)
            onSessionRemoved(gone->session);
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
    } else if (auto* row = std::get_if<client::WorkRowChanged>(&n)) {
        if (onWorkRow) onWorkRow(row->row);
        return;
    } else if (auto* started = std::get_if<client::WorkStarted>(&n)) {
        if (onWorkStarted) onWorkStarted(started->result);
        return;
    } else if (auto* period = std::get_if<client::PeriodQueried>(&n)) {
        if (auto done = std::exchange(periodDone_, nullptr)) done(period->summary);
        return;
    } else if (auto* play = std::get_if<client::PlaybackPosition>(&n)) {
        // Only the latest of a panel is queued; the control panel reads the rest itself.
        notice.kind = ui::ViewerNotice::Kind::PlayPosition;
        notice.wParam = play->panel;
    } else {
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

// The controller's connector runs the connects one after the other; each one's end comes back
// as ConnectFinished.
bool CoreBackend::connect(const ConnectRequest& request) { return controller_->connect(request); }

void CoreBackend::cancelWait() { controller_->cancelConnect(); }

bool CoreBackend::connecting() const { return controller_->connecting(); }

bool CoreBackend::resumeFile(const std::filesystem::path& file) {
    // The housekeeping thread: the controller connects, rebuilds the work and deletes the file;
    // a file it could not take up stays for a later start.
    const bool loaded = controller_->loadResumeFile(file);
    resumeLoaded_ = loaded;
    resumeLoads_.fetch_add(1);
    return loaded;
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
    // A file that is no resume file is told about at once; a usable one goes to the
    // housekeeping thread, which connects to its recorder and takes its work up.
    auto r = state::loadResumeFile(file);
    if (!r.usable() || r.status == state::ReadStatus::Missing) {
        ui::ViewerNotice n;
        n.kind = ui::ViewerNotice::Kind::MessageBox;
        n.text = r.status == state::ReadStatus::WrongFormat ? r.message : state::kReadFileFail;
        n.type = mb::kOk | mb::kIconStop;
        notify(n);
        return false;
    }
    controller_->queueResumeFile(file);
    return true;
}

// ---- the channels ------------------------------------------------------------------------

playback::LocalChannel::Options CoreBackend::localOptions() {
    playback::LocalChannel::Options o;
    o.queue = &notes_;
    o.exitEvent = &exit_;
    o.captions = {captionNumber_, captionServer_, captionCamera_};
    o.requestClose = [this](int position) {
        QMetaObject::invokeMethod(
            &bridge_, [this, position] { closeChannel(position); }, Qt::QueuedConnection);
    };
    return o;
}

bool CoreBackend::playFinishedFile(int position, const std::string& path, const std::string& id,
                                   const std::string& password) {
    std::lock_guard lock(adoptLock_);
    if (exit_.isSet()) return false;
    auto player = std::make_unique<playback::LocalPlayer>(*table_, slots_, localOptions());
    table_->put(position, download::ChannelKind::LocalFile, player.get());
    // A player that cannot start gives the position back as it goes.
    if (!player->start(path, false, position, id, password)) return true;
    arrived_.push_back(std::move(player));
    QMetaObject::invokeMethod(
        &bridge_, [this] { adoptArrived(); }, Qt::QueuedConnection);
    return true;
}

bool CoreBackend::keepStopped(int position, std::unique_ptr<download::Player> still) {
    std::lock_guard lock(adoptLock_);
    if (exit_.isSet() || !still) return false;
    table_->put(position, download::ChannelKind::RemoteStream, still.get());
    stills_.push_back(std::move(still));
    return true;
}

void CoreBackend::adoptArrived() {
    std::lock_guard lock(adoptLock_);
    for (auto& p : arrived_) {
        sync_.join(p->channel());
        players_.push_back(std::move(p));
    }
    arrived_.clear();
}

std::string CoreBackend::streamCaption(int position, const std::string& server,
                                       const std::string& camera) const {
    std::string caption;
    const int parts = int(captionNumber_) + int(captionServer_) + int(captionCamera_);
    if (captionNumber_) caption = format(parts == 1 ? "%d" : "%d.", position + 1);
    if (captionServer_) caption += " " + server;
    if (captionCamera_) caption += " " + camera;
    return caption;
}

ui::ViewerBackend::OpenResult CoreBackend::openLocalFile(const std::filesystem::path& file) {
    dropFailedFiles();
    std::error_code ec;
    for (auto& p : players_)
        if (std::filesystem::equivalent(p->channel().path(), file, ec))
            return OpenResult::AlreadyPlaying;
    if (table_->usedCount() >= table_->maxChannels()) return OpenResult::OverMaximum;
    // The position is taken now, so that files chosen together take their channels in the
    // order chosen; the file's thread takes it up once the file is open.
    auto player = std::make_unique<playback::LocalPlayer>(*table_, slots_, localOptions());
    const int position = table_->take(download::ChannelKind::LocalFile, player.get());
    if (position < 0) return OpenResult::OverMaximum;
    player->keepPosition(position);
    if (!player->start(file, true)) {
        table_->giveBack(position);
        return OpenResult::Failed;
    }
    sync_.join(player->channel());
    players_.push_back(std::move(player));
    return OpenResult::Opened;
}

void CoreBackend::dropFailedFiles() {
    // A file that failed to open has ended without taking up the position kept for it.
    std::erase_if(players_, [this](auto& p) {
        if (!p->channel().finished() || p->channel().channelPosition() >= 0) return false;
        sync_.leave(p->channel());
        for (int i = 0; i < table_->size(); ++i)
            if (table_->playerAt(i) == p.get()) table_->giveBack(i);
        return true;
    });
}

void CoreBackend::showPage(int first, int count) { table_->showPage(first, count); }
int CoreBackend::channelCount() const { return table_->size(); }

void CoreBackend::settingsChanged() {
    const state::Settings settings = state::readSettings(state::settingsPath());
    // The work already queued or running obeys the new flags from now on.
    controller_->applySettings(settings);
    captionNumber_ = settings.channelNum;
    captionServer_ = settings.serverName;
    captionCamera_ = settings.cameraName;
    const playback::CaptionParts parts{captionNumber_, captionServer_, captionCamera_};
    adoptArrived();
    for (auto& p : players_) p->channel().setCaptionParts(parts);
}

std::optional<std::string> CoreBackend::panelCaption(int panel) const {
    auto* shown = table_->panelPlayer(panel);
    if (!shown) return std::nullopt;
    for (auto& p : players_)
        if (p.get() == shown) return p->channel().caption();
    // A stream, or what a stopped one left: found under the table's lock, which keeps it.
    const int position = table_->pageFirst() + panel;
    std::string caption;
    table_->withPlayer(position, [&](download::Player& p) {
        if (auto* stream = dynamic_cast<download::Stream*>(&p))
            caption = streamCaption(position, stream->serverName(), stream->cameraName());
        else if (auto* still = dynamic_cast<download::StoppedStream*>(&p))
            caption = streamCaption(position, still->serverName(), still->cameraName());
    });
    return caption;
}

playback::LocalPlayer* CoreBackend::playerAt(int position) const {
    if (position < 0) return nullptr;
    // A file still opening holds its position in the table before its channel knows it.
    const download::Player* held = table_->playerAt(position);
    for (auto& p : players_)
        if (p->channel().channelPosition() == position || p.get() == held) return p.get();
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

std::optional<CoreBackend::StreamSource> CoreBackend::streamSource(int position) const {
    std::optional<StreamSource> source;
    table_->withPlayer(position, [&](download::Player& p) {
        if (auto* stream = dynamic_cast<download::Stream*>(&p))
            source =
                StreamSource{stream->serverName(), stream->cameraName(), stream->item().eventKey};
        else if (auto* still = dynamic_cast<download::StoppedStream*>(&p))
            source = StreamSource{still->serverName(), still->cameraName(), still->eventKey()};
    });
    return source;
}

bool CoreBackend::hasChannel(int position) const {
    return playerAt(position) != nullptr || table_->playerAt(position) != nullptr;
}

bool CoreBackend::pauseChannel(int position, bool pause) {
    auto* p = playerAt(position);
    if (!p || syncedAt(position))
        return channelCommand(position,
                              pause ? download::PlayCommand::Pause : download::PlayCommand::Play);
    p->channel().setPaused(pause);
    return true;
}

bool CoreBackend::closeChannel(int position) {
    adoptArrived();
    auto* p = playerAt(position);
    if (!p) {
        {
            // What a stopped stream left: its picture goes with the channel.
            std::lock_guard lock(adoptLock_);
            auto* shown = table_->playerAt(position);
            auto it = std::find_if(stills_.begin(), stills_.end(),
                                   [&](auto& s) { return s.get() == shown; });
            if (shown && it != stills_.end()) {
                table_->giveBack(position);
                stills_.erase(it);
                return true;
            }
        }
        // A stream stops; its queue then gives the channel back or on to its next item.
        bool closed = false;
        table_->withPlayer(position, [&](download::Player& player) {
            if (auto* stream = dynamic_cast<download::Stream*>(&player)) {
                stream->close();
                closed = true;
            }
        });
        return closed;
    }
    sync_.leave(p->channel());
    // The position goes back first: a file still opening holds it before its channel knows it.
    if (table_->playerAt(position) == p) table_->giveBack(position);
    // The player stops its thread as it goes.
    std::erase_if(players_, [p](auto& q) { return q.get() == p; });
    return true;
}

playback::LocalChannel* CoreBackend::syncedAt(int position) const {
    if (!sync_.on()) return nullptr;
    auto* p = playerAt(position);
    return p && sync_.contains(p->channel()) ? &p->channel() : nullptr;
}

bool CoreBackend::setSync(bool on, int activePosition) {
    if (!on) {
        sync_.stop();
        return true;
    }
    adoptArrived();
    auto* active = playerAt(activePosition);
    if (!active) return false;
    std::vector<playback::LocalChannel*> members;
    for (auto& p : players_) members.push_back(&p->channel());
    sync_.start(active->channel(), members);
    return true;
}

std::vector<playback::LocalExtent> CoreBackend::localExtents() const {
    std::vector<playback::LocalExtent> out;
    for (auto& p : players_) {
        const int position = p->channel().channelPosition();
        auto times = p->channel().frameTimes();
        if (position < 0 || !times || times->empty()) continue;
        out.push_back({position, p->channel().caption(), times->front(), times->back()});
    }
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.position < b.position; });
    return out;
}

std::optional<int64_t> CoreBackend::syncTime() {
    if (!sync_.on()) return std::nullopt;
    return sync_.clock().now();
}

std::vector<merge::MomentCamera> CoreBackend::momentCameras() const {
    std::vector<std::pair<int, merge::MomentCamera>> found;
    for (auto& p : players_) {
        const int position = p->channel().channelPosition();
        auto times = p->channel().frameTimes();
        if (position < 0 || !times || times->empty()) continue;
        found.push_back({position, {p->channel().caption(), p->channel().path(), *times}});
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<merge::MomentCamera> out;
    for (auto& f : found) out.push_back(std::move(f.second));
    return out;
}

bool CoreBackend::seekChannelTime(int position, int64_t t) {
    auto* p = playerAt(position);
    auto times = p ? p->channel().frameTimes() : nullptr;
    if (!times || times->empty()) return false;
    const int frame = std::max(playback::frameAtOrBefore(*times, t), 0);
    return goToFrame(position, static_cast<uint32_t>(frame));
}

bool CoreBackend::channelCommand(int position, download::PlayCommand command) {
    if (auto* channel = syncedAt(position)) return sync_.command(*channel, command);
    bool done = false;
    table_->withPlayer(position, [&](download::Player& p) { done = p.command(command); });
    return done;
}

bool CoreBackend::goToFrame(int position, uint32_t frame) {
    if (auto* channel = syncedAt(position)) return sync_.goTo(*channel, frame);
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
    // A file still opening has nothing to steer yet.
    if (auto* p = playerAt(position); p && p->channel().channelPosition() < 0) return std::nullopt;
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

// ---- the period query ----------------------------------------------------------------------

bool CoreBackend::startPeriodQuery(int recorder, const std::vector<int>& channels,
                                   const Period& period, std::chrono::milliseconds replyTimeout,
                                   Done done) {
    if (shutDown_) return false;
    for (const auto& s : controller_->sessions()) {
        if (s.connectionNumber != recorder) continue;
        // The dialog asks only while it is on show: a time-out asks whether to wait again.
        if (!controller_->queryPeriodAsync(s.id, channels, period, replyTimeout, true))
            return false;
        periodDone_ = std::move(done);
        return true;
    }
    return false;
}

void CoreBackend::cancelPeriodQuery() { controller_->cancelPeriodQuery(); }

// ---- the end -------------------------------------------------------------------------------

void CoreBackend::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    user_->setExiting();
    // Every wait of a connect also watches the exit and cancel events.
    exit_.set();
    controller_->cancelConnect();
    sync_.stop();
    players_.clear();
    controller_->shutDown(false);
    periodDone_ = nullptr;
    // The queues have ended: nothing is handed over any more.
    std::lock_guard lock(adoptLock_);
    arrived_.clear();
    for (int position = table_->size() - 1; position >= 0; --position) {
        auto* p = table_->playerAt(position);
        if (std::any_of(stills_.begin(), stills_.end(), [&](auto& s) { return s.get() == p; }))
            table_->giveBack(position);
    }
    stills_.clear();
}

}  // namespace fsv::app
