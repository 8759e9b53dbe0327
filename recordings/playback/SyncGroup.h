#pragma once
// Channels of local files that play in step: one SyncClock, the channels that follow it, and
// the control panel's commands turned into moves of the clock. The clock's time is the active
// channel's frame time: stepping moves it to the active channel's next or previous frame, the
// slider to the frame chosen there, first and last to the active channel's first and last
// frame. Play, pause and the speeds act on the clock and so on every channel.
//
// The group is used from one thread (the user interface's); the channels' threads read only
// the clock. A channel must leave the group before it is destroyed.

#include <optional>
#include <vector>

#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/LocalChannel.h"
#include "recordings/playback/SyncClock.h"

namespace fsv::playback {

class SyncGroup {
  public:
    // `ticks` outlives the group.
    explicit SyncGroup(Clock& ticks) : clock_(ticks) {}
    ~SyncGroup();

    // Starts playing in step: the clock takes the frame time, the play state and the speed of
    // `active` (which is also followed), then every channel of `members` follows it.
    void start(LocalChannel& active, const std::vector<LocalChannel*>& members);
    // Leaves playing in step: each channel stays on its frame, paused or playing as the clock
    // was, at its own speed.
    void stop();
    bool on() const { return on_; }

    // A channel opened while in step joins; one about to close leaves.
    void join(LocalChannel& channel);
    void leave(LocalChannel& channel);
    bool contains(const LocalChannel& channel) const;

    // The control panel's commands with `active` the channel of the active panel. False when
    // the command cannot apply (the active channel has not opened yet).
    bool command(LocalChannel& active, PlayCommand command);
    bool goTo(LocalChannel& active, uint32_t frame);

    SyncClock& clock() { return clock_; }
    // Where the clock stops: the end of the latest recording of the group (nullopt while none
    // has opened).
    std::optional<int64_t> latestEnd() const;
    std::optional<int64_t> earliestStart() const;

  private:
    void refreshEnd();

    SyncClock clock_;
    std::vector<LocalChannel*> members_;
    bool on_ = false;
};

}  // namespace fsv::playback
