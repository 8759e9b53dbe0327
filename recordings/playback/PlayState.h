#pragma once
// The playing state of a stream that is shown while it arrives: which frame to ask for next,
// the commands of the control panel, the speed, pacing by the frames' own time stamps, and the
// hold at the end of a play-only recording. The user-interface thread issues commands; the
// stream's thread paces, shows and advances.

#include <cstdint>
#include <mutex>

#include "platform/Event.h"
#include "platform/Shared.h"
#include "recordings/playback/Clock.h"

namespace fsv::playback {

// The control panel, while the stream is on the active panel.
class PlayObserver {
  public:
    virtual ~PlayObserver() = default;
    virtual void atStart(bool atStart) = 0;
    virtual void frameShown(const SystemTime& time, uint32_t position) = 0;
    // The factor when it is 2 or more (slow false), else the divisor (slow true; 1 is normal).
    virtual void speed(int value, bool slow) = 0;
};

class PlayState {
  public:
    static constexpr int32_t kBack = -1;
    static constexpr int32_t kForward = -2;
    static constexpr uint32_t kMaxPacingMs = 3000;

    // `mode` is the stream mode: 10 download and play, 12 play only.
    PlayState(uint8_t mode, Clock& clock);

    uint8_t mode() const { return mode_; }
    platform::Event& wakeUp() { return wakeUp_; }
    platform::Event& continueEvent() { return continue_; }

    void setFrameCount(uint32_t count);
    uint32_t frameCount() const;
    uint32_t position() const;  // the frame asked for next
    void setObserver(PlayObserver* observer);

    // Commands (any thread).
    void stepBack();
    void stepForward();
    void toFirst();
    void toLast();
    bool goTo(uint32_t frame);  // false: beyond the frame count, ignored
    void pause();
    void play();
    void setNoPacing(bool on);
    void slower();
    void faster();
    void setSpeed(int factor);  // the speed menu, 1 … 5

    uint8_t slowDivisor() const;
    uint8_t fastFactor() const;
    bool paused() const;
    bool holding() const;
    bool noPacing() const;
    bool stopAtEnd() const;
    int pendingCommands() const;

    // The stream's thread. How long to wait before showing a frame stamped `frameTime`.
    uint32_t pacingWait(const SystemTime& frameTime);
    // Waits that long for the stop or wake-up event; false when stop ended the wait.
    bool pace(const SystemTime& frameTime, platform::Event& stop);
    // The frame was shown: remember its time and the tick, tell the control panel.
    void shown(const SystemTime& frameTime);
    // Chooses the next position (pending command, else one forward).
    void advance();

    enum class HoldResult { Stop, Restart, Command };
    // At the end of a play-only recording with nothing queued behind it: hold at the last
    // frame until stop, play (restart at frame 0) or a command (applied, capped at the end).
    HoldResult holdAtEnd(platform::Event& stop);

  private:
    void addTarget(int32_t target);
    void takeCommandLocked();
    void notifySpeedLocked();

    const uint8_t mode_;
    Clock& clock_;
    mutable std::mutex mutex_;
    platform::Event wakeUp_{platform::Event::Reset::Manual, false};
    platform::Event continue_{platform::Event::Reset::Manual, true};
    PlayObserver* observer_ = nullptr;
    uint32_t frameCount_ = 0;
    uint32_t position_ = 0;
    int32_t target_ = 0;
    int32_t pending_ = 1;  // the first frame asked for is frame 0
    uint8_t slow_ = 1;
    uint8_t fast_ = 1;
    bool paused_ = false, holding_ = false, noPacing_ = false, stopAtEnd_ = true;
    bool hasShown_ = false;
    SystemTime lastTime_{};
    uint32_t lastTick_ = 0;
};

}  // namespace fsv::playback
