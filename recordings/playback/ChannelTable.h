#pragma once
// The table of open players (remote streams and local files) and the display panels that show
// a page of them. Positions are 0-based; a free position holds no player.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Shared.h"
#include "platform/UserPort.h"

namespace fsv::playback {

enum class ChannelKind : uint8_t { LocalFile = 0, RemoteStream = 1 };

// Whatever occupies a channel. The table tells it which panel shows it (-1: none).
// What the control panel asks of a channel, whatever plays in it.
enum class PlayCommand { Play, Pause, StepBack, StepForward, First, Last, Slower, Faster };

// Where a channel's playing stands, for the control panel.
struct PlayStatus {
    bool paused = false;
    bool atEnd = false;       // held at the last frame
    bool local = false;       // a local file (else a stream of a recorder)
    uint32_t position = 0;    // the frame shown, 0-based
    uint32_t frameCount = 0;  // 0: not known yet
    int speed = 1;            // the factor, or the divisor when `slow`
    bool slow = false;
    SystemTime time{};  // the recording time of the frame shown
    std::string caption;
    // Following the clock of channels that play in step; and the clock is outside this
    // channel's recording (the panel shows "No recording" over its last picture).
    bool synced = false;
    bool noRecording = false;
    // A stream's recorder and camera, for the lines written on a snapshot (empty: local).
    std::string serverName, cameraName;
};

// A paused channel's picture: bottom-up 24-bit bits, `width` x `height`.
struct PausedPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bits;
};

class Player {
  public:
    virtual ~Player() = default;
    virtual void attachPanel(int panel) = 0;
    // The control panel's commands; false where the player has none.
    virtual bool command(PlayCommand) { return false; }
    virtual bool goTo(uint32_t /*frame*/) { return false; }  // 0-based
    virtual bool setSpeed(int /*factor*/) { return false; }  // the speed menu, 1 ... 5
    virtual std::optional<PlayStatus> playStatus() const { return std::nullopt; }
    // Holding one-frame-forward: frames follow each other without pacing while it is on.
    virtual bool setNoPacing(bool /*on*/) { return false; }
    // The picture on show while paused (its 40-byte header and bottom-up 24-bit bits), for a
    // snapshot; false while playing or where the player has none.
    virtual bool pausedPicture(PausedPicture& /*out*/) const { return false; }
};

class ChannelTable {
  public:
    static constexpr int kPanels = 16;

    // `port` receives the repaint requests of panels that changed.
    ChannelTable(UserPort& port, int maxChannels);

    void setMaxChannels(int max);
    int maxChannels() const;

    // The lowest free position (reused before the array grows), or -1 when the number of used
    // channels has reached the limit. A position on the shown page appears in its panel.
    int take(ChannelKind kind, Player* player);
    // Frees a position; trailing free positions are dropped; its panel empties and repaints.
    void giveBack(int position);
    // Replaces the player of a position; a panel that showed the old one shows the new one.
    void put(int position, ChannelKind kind, Player* player);
    // Shows channels first … first + panelCount - 1 in panels 0 … panelCount - 1.
    void showPage(int first, int panelCount);
    // Exchanges two positions; both panels are updated and asked to repaint.
    void swap(int a, int b);

    int usedCount() const;
    int size() const;  // array length, free positions included
    Player* playerAt(int position) const;
    // Runs `f` with the player of a position under the table's lock, so that the player cannot
    // go meanwhile (a player gives its position back before it is destroyed). False when the
    // position is free. `f` must not wait for the player's thread.
    bool withPlayer(int position, const std::function<void(Player&)>& f) const;
    ChannelKind kindAt(int position) const;
    Player* panelPlayer(int panel) const;  // nullptr: the panel shows "Empty"
    int pageFirst() const;
    // The panel showing a position, or -1.
    int panelOf(int position) const;

  private:
    struct Slot {
        Player* player = nullptr;
        ChannelKind kind = ChannelKind::LocalFile;
    };
    struct Panel {
        Player* player = nullptr;
        ChannelKind kind = ChannelKind::LocalFile;
    };
    void repaint(int panel);
    int panelOfLocked(int position) const;

    UserPort& port_;
    mutable std::recursive_mutex channelLock_;
    mutable std::recursive_mutex panelLock_;  // always taken after channelLock_
    std::vector<Slot> slots_;
    int used_ = 0;
    int max_;
    Panel panels_[kPanels];
    int pageFirst_ = 0;
    int pageCount_ = kPanels;
};

}  // namespace fsv::playback
