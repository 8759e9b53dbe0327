#pragma once
// The channels of a front end, without its windows: the frame slots of the display panels and
// the display that fills them, the channel table, the local files playing in it, the group of
// local files playing in step, and what streams leave on their channels when they end (a
// finished download that goes on as a local file, the still of a stream that stopped early).
//
// Threads and who calls what:
// - The owner's thread (the viewer's UI thread) makes every call below unless one says
//   otherwise. It alone makes, finds and destroys local players (`players_`), so those need no
//   lock. A player reaches the table only under the table's own locks.
// - A queue worker calls playFinishedFile and keepStopped (the ChannelSuccessor side) while its
//   stream leaves a channel. What it hands over waits in `arrived_`/`stills_` under adoptLock_;
//   `post` then schedules the owner's adoption of the new local player.
// - The players' threads (streams, local channels) write into the frame slots and the
//   notification queue through display(), and a local channel whose frames stopped being
//   readable asks, through `post`, for its channel to be closed.
//
// Locks, in order: adoptLock_ → the table's channelLock_ → its panelLock_ → a player's picture
// locks → a frame slot's locks → the notification queue. The owner's thread never waits for a
// player's thread under adoptLock_ except to stop a local channel whose thread takes none of
// these locks.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/FrameSlot.h"
#include "client/Notifications.h"
#include "platform/Event.h"
#include "platform/UserPort.h"
#include "recordings/playback/ChannelSuccessor.h"
#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/Clock.h"
#include "recordings/playback/LocalPlayer.h"
#include "recordings/playback/SyncGroup.h"
#include "recordings/playback/Timeline.h"

namespace fsv::client {

class Channels : private playback::ChannelSuccessor {
  public:
    struct Options {
        int maxChannels = 16;
        playback::CaptionParts captions;
        // The program's exit event: once set, nothing a stream leaves is taken over. May be
        // null (nothing then stops the hand-overs but shutDown).
        platform::Event* exitEvent = nullptr;
        // Runs `call` on the owner's thread later, never inside the caller. Called from queue
        // workers and local channel threads; the call may come after the caller has gone, never
        // after this object has.
        std::function<void(std::function<void()> call)> post;
    };

    // `user` gets the table's repaint requests and the local files' messages; `queue` the
    // pictures' and positions' notifications. Both outlive this object.
    Channels(Options options, UserPort& user, NotificationQueue& queue);
    ~Channels() override;
    Channels(const Channels&) = delete;
    Channels& operator=(const Channels&) = delete;

    // What the controller's streams need: the table they take positions in, the display they
    // draw into, and who takes their channels over.
    playback::ChannelTable& table() { return table_; }
    const playback::ChannelTable& table() const { return table_; }
    playback::FrameSink& display() { return display_; }
    playback::ChannelSuccessor& successor() { return *this; }
    FrameSlots& frameSlots() { return slots_; }

    enum class OpenResult { Opened, AlreadyPlaying, OverMaximum, Failed };
    // Plays a local file in a new channel; it takes its position now and shows once open.
    OpenResult openLocalFile(const std::filesystem::path& file);
    // Players of files that could not be opened go and free the positions kept for them.
    void dropFailedFiles();
    void showPage(int first, int count) { table_.showPage(first, count); }
    int channelCount() const { return table_.size(); }
    void setCaptionParts(const playback::CaptionParts& parts);

    // A local file at a position, for the windows.
    std::optional<std::string> panelCaption(int panel) const;
    bool hasChannel(int position) const;
    // The file of each channel position (empty: a free position or not a local file).
    std::vector<std::filesystem::path> channelFiles() const;
    bool isPlaying(const std::filesystem::path& file) const;
    // The recording a stream's channel shows (or showed until it stopped); nullopt for any
    // other position.
    struct StreamSource {
        std::string serverName, cameraName, eventKey;
    };
    std::optional<StreamSource> streamSource(int position) const;
    // A local file channel's file and the credential text it plays with.
    struct ClipSource {
        std::filesystem::path file;
        std::string credential;
    };
    std::optional<ClipSource> clipSource(int position) const;
    // The local files that have opened, by position, with their frame times.
    struct LocalFile {
        int position = -1;
        std::string caption;
        std::filesystem::path path;
        std::shared_ptr<const std::vector<int64_t>> times;  // never empty here
    };
    std::vector<LocalFile> localFiles() const;

    // The control panel on a channel, local file or stream alike; false (or nullopt) when there
    // is none or it cannot do that. While in step, a local file's commands move the clock.
    bool pauseChannel(int position, bool pause);
    bool closeChannel(int position);
    bool channelCommand(int position, playback::PlayCommand command);
    bool goToFrame(int position, uint32_t frame);
    bool setChannelSpeed(int position, int factor);
    bool setChannelNoPacing(int position, bool on);
    std::optional<playback::PlayStatus> channelStatus(int position) const;
    std::optional<playback::PausedPicture> pausedPicture(int position) const;
    bool seekChannelTime(int position, int64_t t);

    // Playing in step, from the frame time of the local channel at `activePosition`.
    bool setSync(bool on, int activePosition);
    bool synced() const { return sync_.on(); }
    std::optional<int64_t> syncTime();

    // The end, in two halves around the end of the controller's queues: first the local
    // players stop (each thread joined), then what the streams left goes.
    void stopLocalPlayers();
    void dropLeftovers();

  private:
    // playback::ChannelSuccessor (queue worker threads).
    bool playFinishedFile(int position, const std::string& path, const std::string& id,
                          const std::string& password) override;
    bool keepStopped(int position, std::unique_ptr<playback::Player> still) override;

    playback::LocalChannel::Options localOptions();
    void adoptArrived();
    playback::LocalPlayer* playerAt(int position) const;
    // The group's member a command for `position` goes to while in step, or null.
    playback::LocalChannel* syncedAt(int position) const;
    bool exiting() const { return options_.exitEvent && options_.exitEvent->isSet(); }
    // The caption of a stream's panel (channel number, server name, camera name as set).
    std::string streamCaption(int position, const std::string& server,
                              const std::string& camera) const;

    Options options_;
    UserPort& user_;
    FrameSlots slots_{playback::ChannelTable::kPanels};  // made once: a slot never moves
    SlotDisplay display_;
    playback::ChannelTable table_;
    std::vector<std::unique_ptr<playback::LocalPlayer>> players_;  // owner's thread
    // Declared after the players: it goes first, leaving each channel as it is; a player
    // leaves it before it is destroyed.
    playback::SystemClock syncTicks_;
    playback::SyncGroup sync_{syncTicks_};

    // What streams left on their channels, handed over on the queues' threads.
    mutable std::mutex adoptLock_;
    std::vector<std::unique_ptr<playback::LocalPlayer>> arrived_;  // until the owner adopts them
    std::vector<std::unique_ptr<playback::Player>> stills_;        // stopped streams' pictures
};

}  // namespace fsv::client
