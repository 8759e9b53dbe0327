#include "client/Channels.h"

#include <algorithm>
#include <system_error>

#include "platform/Shared.h"
#include "recordings/download/Stream.h"
#include "recordings/playback/StoppedStream.h"

namespace fsv::client {

using playback::ChannelKind;
using playback::LocalPlayer;
using playback::Player;

Channels::Channels(Options options, UserPort& user, NotificationQueue& queue)
    : options_(std::move(options)),
      user_(user),
      display_(slots_, queue),
      table_(user, options_.maxChannels) {}

Channels::~Channels() {
    stopLocalPlayers();
    dropLeftovers();
}

playback::LocalChannel::Options Channels::localOptions() {
    playback::LocalChannel::Options o;
    o.sink = &display_;
    o.user = &user_;
    o.exitEvent = options_.exitEvent;
    o.captions = options_.captions;
    o.requestClose = [this](int position) {
        if (options_.post) options_.post([this, position] { closeChannel(position); });
    };
    return o;
}

// ---- what streams leave behind -------------------------------------------------------------

bool Channels::playFinishedFile(int position, const std::string& path, const std::string& id,
                                const std::string& password) {
    std::lock_guard lock(adoptLock_);
    if (exiting()) return false;
    auto player = std::make_unique<LocalPlayer>(table_, localOptions());
    table_.put(position, ChannelKind::LocalFile, player.get());
    // A player that cannot start gives the position back as it goes.
    if (!player->start(path, false, position, id, password)) return true;
    arrived_.push_back(std::move(player));
    if (options_.post) options_.post([this] { adoptArrived(); });
    return true;
}

bool Channels::keepStopped(int position, std::unique_ptr<Player> still) {
    std::lock_guard lock(adoptLock_);
    if (exiting() || !still) return false;
    table_.put(position, ChannelKind::RemoteStream, still.get());
    stills_.push_back(std::move(still));
    return true;
}

void Channels::adoptArrived() {
    std::lock_guard lock(adoptLock_);
    for (auto& p : arrived_) {
        sync_.join(p->channel());
        players_.push_back(std::move(p));
    }
    arrived_.clear();
}

// ---- local files ---------------------------------------------------------------------------

Channels::OpenResult Channels::openLocalFile(const std::filesystem::path& file) {
    dropFailedFiles();
    if (isPlaying(file)) return OpenResult::AlreadyPlaying;
    if (table_.usedCount() >= table_.maxChannels()) return OpenResult::OverMaximum;
    // The position is taken now, so that files chosen together take their channels in the
    // order chosen; the file's thread takes it up once the file is open.
    auto player = std::make_unique<LocalPlayer>(table_, localOptions());
    const int position = table_.take(ChannelKind::LocalFile, player.get());
    if (position < 0) return OpenResult::OverMaximum;
    player->keepPosition(position);
    if (!player->start(file, true)) {
        table_.giveBack(position);
        return OpenResult::Failed;
    }
    sync_.join(player->channel());
    players_.push_back(std::move(player));
    return OpenResult::Opened;
}

void Channels::dropFailedFiles() {
    // A file that failed to open has ended without taking up the position kept for it.
    std::erase_if(players_, [this](auto& p) {
        if (!p->channel().finished() || p->channel().channelPosition() >= 0) return false;
        sync_.leave(p->channel());
        for (int i = 0; i < table_.size(); ++i)
            if (table_.playerAt(i) == p.get()) table_.giveBack(i);
        return true;
    });
}

void Channels::setCaptionParts(const playback::CaptionParts& parts) {
    {
        // A queue worker reads them when it makes a finished download's player.
        std::lock_guard lock(adoptLock_);
        options_.captions = parts;
    }
    adoptArrived();
    for (auto& p : players_) p->channel().setCaptionParts(parts);
}

LocalPlayer* Channels::playerAt(int position) const {
    if (position < 0) return nullptr;
    // A file still opening holds its position in the table before its channel knows it.
    const Player* held = table_.playerAt(position);
    for (auto& p : players_)
        if (p->channel().channelPosition() == position || p.get() == held) return p.get();
    return nullptr;
}

std::string Channels::streamCaption(int position, const std::string& server,
                                    const std::string& camera) const {
    const playback::CaptionParts& c = options_.captions;
    std::string caption;
    const int parts = int(c.channelNumber) + int(c.serverName) + int(c.cameraName);
    if (c.channelNumber) caption = format(parts == 1 ? "%d" : "%d.", position + 1);
    if (c.serverName) caption += " " + server;
    if (c.cameraName) caption += " " + camera;
    return caption;
}

std::optional<std::string> Channels::panelCaption(int panel) const {
    auto* shown = table_.panelPlayer(panel);
    if (!shown) return std::nullopt;
    for (auto& p : players_)
        if (p.get() == shown) return p->channel().caption();
    // A stream, or what a stopped one left: found under the table's lock, which keeps it.
    const int position = table_.pageFirst() + panel;
    std::string caption;
    table_.withPlayer(position, [&](Player& p) {
        if (auto* stream = dynamic_cast<download::Stream*>(&p))
            caption = streamCaption(position, stream->serverName(), stream->cameraName());
        else if (auto* still = dynamic_cast<playback::StoppedStream*>(&p))
            caption = streamCaption(position, still->serverName(), still->cameraName());
    });
    return caption;
}

bool Channels::hasChannel(int position) const {
    return playerAt(position) != nullptr || table_.playerAt(position) != nullptr;
}

std::vector<std::filesystem::path> Channels::channelFiles() const {
    std::vector<std::filesystem::path> out(static_cast<size_t>(std::max(table_.size(), 0)));
    for (size_t i = 0; i < out.size(); ++i)
        if (auto* p = playerAt(static_cast<int>(i))) out[i] = p->channel().path();
    return out;
}

bool Channels::isPlaying(const std::filesystem::path& file) const {
    std::error_code ec;
    for (auto& p : players_)
        if (std::filesystem::equivalent(p->channel().path(), file, ec)) return true;
    return false;
}

std::optional<Channels::StreamSource> Channels::streamSource(int position) const {
    std::optional<StreamSource> source;
    table_.withPlayer(position, [&](Player& p) {
        if (auto* stream = dynamic_cast<download::Stream*>(&p))
            source =
                StreamSource{stream->serverName(), stream->cameraName(), stream->item().eventKey};
        else if (auto* still = dynamic_cast<playback::StoppedStream*>(&p))
            source = StreamSource{still->serverName(), still->cameraName(), still->eventKey()};
    });
    return source;
}

std::optional<Channels::ClipSource> Channels::clipSource(int position) const {
    // Only a local file channel makes clips; its path and credential never change once started.
    if (table_.kindAt(position) != ChannelKind::LocalFile) return std::nullopt;
    auto* p = playerAt(position);
    if (!p) return std::nullopt;
    return ClipSource{p->channel().path(), p->channel().credential()};
}

std::vector<Channels::LocalFile> Channels::localFiles() const {
    std::vector<LocalFile> out;
    for (auto& p : players_) {
        const int position = p->channel().channelPosition();
        auto times = p->channel().frameTimes();
        if (position < 0 || !times || times->empty()) continue;
        out.push_back({position, p->channel().caption(), p->channel().path(), std::move(times)});
    }
    std::sort(out.begin(), out.end(),
              [](const auto& a, const auto& b) { return a.position < b.position; });
    return out;
}

// ---- the control panel ---------------------------------------------------------------------

bool Channels::pauseChannel(int position, bool pause) {
    auto* p = playerAt(position);
    if (!p || syncedAt(position))
        return channelCommand(position,
                              pause ? playback::PlayCommand::Pause : playback::PlayCommand::Play);
    p->channel().setPaused(pause);
    return true;
}

bool Channels::closeChannel(int position) {
    adoptArrived();
    auto* p = playerAt(position);
    if (!p) {
        {
            // What a stopped stream left: its picture goes with the channel.
            std::lock_guard lock(adoptLock_);
            auto* shown = table_.playerAt(position);
            auto it = std::find_if(stills_.begin(), stills_.end(),
                                   [&](auto& s) { return s.get() == shown; });
            if (shown && it != stills_.end()) {
                table_.giveBack(position);
                stills_.erase(it);
                return true;
            }
        }
        // A stream stops; its queue then gives the channel back or on to its next item.
        bool closed = false;
        table_.withPlayer(position, [&](Player& player) {
            if (auto* stream = dynamic_cast<download::Stream*>(&player)) {
                stream->close();
                closed = true;
            }
        });
        return closed;
    }
    sync_.leave(p->channel());
    // The position goes back first: a file still opening holds it before its channel knows it.
    if (table_.playerAt(position) == p) table_.giveBack(position);
    // The player stops its thread as it goes.
    std::erase_if(players_, [p](auto& q) { return q.get() == p; });
    return true;
}

playback::LocalChannel* Channels::syncedAt(int position) const {
    if (!sync_.on()) return nullptr;
    auto* p = playerAt(position);
    return p && sync_.contains(p->channel()) ? &p->channel() : nullptr;
}

bool Channels::channelCommand(int position, playback::PlayCommand command) {
    if (auto* channel = syncedAt(position)) return sync_.command(*channel, command);
    bool done = false;
    table_.withPlayer(position, [&](Player& p) { done = p.command(command); });
    return done;
}

bool Channels::goToFrame(int position, uint32_t frame) {
    if (auto* channel = syncedAt(position)) return sync_.goTo(*channel, frame);
    bool done = false;
    table_.withPlayer(position, [&](Player& p) { done = p.goTo(frame); });
    return done;
}

bool Channels::setChannelSpeed(int position, int factor) {
    bool done = false;
    table_.withPlayer(position, [&](Player& p) { done = p.setSpeed(factor); });
    return done;
}

bool Channels::setChannelNoPacing(int position, bool on) {
    bool done = false;
    table_.withPlayer(position, [&](Player& p) { done = p.setNoPacing(on); });
    return done;
}

std::optional<playback::PlayStatus> Channels::channelStatus(int position) const {
    // A file still opening has nothing to steer yet.
    if (auto* p = playerAt(position); p && p->channel().channelPosition() < 0) return std::nullopt;
    std::optional<playback::PlayStatus> status;
    table_.withPlayer(position, [&](Player& p) { status = p.playStatus(); });
    return status;
}

std::optional<playback::PausedPicture> Channels::pausedPicture(int position) const {
    std::optional<playback::PausedPicture> out;
    table_.withPlayer(position, [&](Player& p) {
        playback::PausedPicture picture;
        if (p.pausedPicture(picture)) out = std::move(picture);
    });
    return out;
}

bool Channels::seekChannelTime(int position, int64_t t) {
    auto* p = playerAt(position);
    auto times = p ? p->channel().frameTimes() : nullptr;
    if (!times || times->empty()) return false;
    const int frame = std::max(playback::frameAtOrBefore(*times, t), 0);
    return goToFrame(position, static_cast<uint32_t>(frame));
}

// ---- playing in step -----------------------------------------------------------------------

bool Channels::setSync(bool on, int activePosition) {
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

std::optional<int64_t> Channels::syncTime() {
    if (!sync_.on()) return std::nullopt;
    return sync_.clock().now();
}

// ---- the end -------------------------------------------------------------------------------

void Channels::stopLocalPlayers() {
    sync_.stop();
    players_.clear();
}

void Channels::dropLeftovers() {
    // The queues have ended: nothing is handed over any more.
    std::lock_guard lock(adoptLock_);
    arrived_.clear();
    for (int position = table_.size() - 1; position >= 0; --position) {
        auto* p = table_.playerAt(position);
        if (std::any_of(stills_.begin(), stills_.end(), [&](auto& s) { return s.get() == p; }))
            table_.giveBack(position);
    }
    stills_.clear();
}

}  // namespace fsv::client
