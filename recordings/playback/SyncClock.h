#pragma once
// The clock of channels that play in step. One clock holds a recording time (milliseconds on a
// civil calendar, from the frames' own time stamps), runs at the speed the user chose while it
// plays, and stops at the end of the latest recording that follows it. Channels that follow it
// show their frame at or just before its time; each follower gives it an event that is set
// whenever the clock is moved, started, stopped or changes speed, so a follower waiting for its
// next frame looks again at once.
//
// Any thread may call it. Its lock is the innermost one: it is never held while calling out,
// only while setting the followers' events.

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/Event.h"
#include "platform/Shared.h"
#include "recordings/playback/Clock.h"

namespace fsv::playback {

// A frame's time stamp as milliseconds since 1970-01-01 00:00 of its own calendar (no zone).
int64_t stampMs(const SystemTime& time);
SystemTime stampTime(int64_t ms);

// The index of the last time in `times` (ascending) that is not after `t`; -1 when all are.
int frameAtOrBefore(std::span<const int64_t> times, int64_t t);

class SyncClock {
  public:
    static constexpr uint8_t kMaxFast = 32;
    static constexpr uint8_t kMaxSlow = 8;

    // `ticks` gives the real time; it outlives the clock.
    explicit SyncClock(Clock& ticks) : ticks_(ticks) {}

    // The recording time now. A playing clock that reaches its end stops there.
    int64_t now();
    bool playing() const;
    void play();
    void pause();
    // Moves the clock to `t`, playing or not as before.
    void seek(int64_t t);
    // Where a playing clock stops (nullopt: nowhere).
    void setEnd(std::optional<int64_t> end);
    std::optional<int64_t> end() const;
    // Speed steps as a single channel takes them: ×2 … ×32 and ÷2 … ÷8.
    void faster();
    void slower();
    void setSpeed(uint8_t fast, uint8_t slow);
    uint8_t fastFactor() const;
    uint8_t slowFactor() const;
    // Real milliseconds until the clock reaches `t` (0 when it has); nullopt while stopped.
    std::optional<uint32_t> realUntil(int64_t t);

    // The events set on every change; an event stays subscribed until it is unsubscribed.
    void subscribe(platform::Event* event);
    void unsubscribe(platform::Event* event);

  private:
    int64_t nowLocked();
    void rebaseLocked();
    void changedLocked();

    Clock& ticks_;
    mutable std::mutex mutex_;
    int64_t base_ = 0;       // the clock's time at baseTick_
    uint32_t baseTick_ = 0;  // real tick of the last change
    bool playing_ = false;
    uint8_t fast_ = 1;
    uint8_t slow_ = 1;
    std::optional<int64_t> end_;
    std::vector<platform::Event*> followers_;
};

}  // namespace fsv::playback
