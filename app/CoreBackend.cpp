#include "app/CoreBackend.h"

#include <QMetaObject>
#include <algorithm>
#include <memory>
#include <system_error>
#include <type_traits>
#include <variant>

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
    controller_ = std::make_unique<client::Controller>(o, *user_, notes_);
    controller_->onResumeFile = [this](const std::filesystem::path& f) { return resumeFile(f); };
    connector_ = std::thread([this] { connectLoop(); });
}

CoreBackend::~CoreBackend() { shutdown(); }

void CoreBackend::startUp() { controller_->startUp(); }

// ---- the bridge ----------------------------------------------------------------------------

template <typename Emit>
void CoreBackend::notify(Emit emit) {
    QMetaObject::invokeMethod(&bridge_, std::move(emit), Qt::QueuedConnection);
}

void CoreBackend::drain() {
    notes_.drain([this](client::Notification& n) { handle(n); });
    dropFailedFiles();
}

// One signal per notification; a question is asked here instead, and a deferred box is dropped
// once the program exits.
void CoreBackend::handle(client::Notification& n) {
    ui::BackendSignals& s = signals_;
    std::visit(
        [&](auto& note) {
            using T = std::decay_t<decltype(note)>;
            if constexpr (std::is_same_v<T, client::MessageBoxNote>) {
                if (!user_->exiting()) Q_EMIT s.messageBox(note.text, note.style);
            } else if constexpr (std::is_same_v<T, client::Question>) {
                user_->answerQueued(note);
            } else if constexpr (std::is_same_v<T, client::SessionAdded>) {
                Q_EMIT s.sessionAdded(note);
            } else if constexpr (std::is_same_v<T, client::SessionRemoved>) {
                Q_EMIT s.sessionRemoved(note);
            } else if constexpr (std::is_same_v<T, client::EventListChanged>) {
                Q_EMIT s.eventListChanged(note);
            } else if constexpr (std::is_same_v<T, client::PanelsChanged>) {
                Q_EMIT s.panelsChanged(note.panel);
            } else if constexpr (std::is_same_v<T, client::FrameReady>) {
                Q_EMIT s.frameReady(note.panel);
            } else if constexpr (std::is_same_v<T, client::WorkRowChanged>) {
                Q_EMIT s.workRowChanged(note.row);
            } else if constexpr (std::is_same_v<T, client::WorkStarted>) {
                Q_EMIT s.workStarted(note.result);
            } else {
                static_assert(std::is_same_v<T, client::PlaybackPosition>);
                Q_EMIT s.playbackPosition(note);
            }
        },
        n);
}

void CoreBackend::showStatus(const std::string& text) {
    notify([this, text] { Q_EMIT signals_.statusShown(text); });
}

void CoreBackend::hideStatus() {
    notify([this] { Q_EMIT signals_.statusHidden(); });
}

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
        notify([this] { Q_EMIT signals_.connectFinished(); });
    }
}

void CoreBackend::cancelWait() { controller_->statusCancelEvent().set(); }

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
        const std::string text =
            r.status == state::ReadStatus::WrongFormat ? r.message : state::kReadFileFail;
        notify([this, text] {
            Q_EMIT signals_.messageBox(text, {client::BoxButtons::Ok, client::BoxIcon::Stop});
        });
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
    sync_.stop();
    players_.clear();
    controller_->shutDown(false);
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
