#pragma once
// Time as the players see it: a millisecond tick and a wait for events with a time-out. The
// program uses the system's; tests use a manual clock whose time-outs pass at once.

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Event.h"
#include "platform/System.h"

namespace fsv::playback {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t now() = 0;
    // The index of the first event set, or platform::kWaitTimeout.
    virtual int waitAny(std::initializer_list<platform::Event*> events,
                        std::optional<std::chrono::milliseconds> timeout) = 0;
};

class SystemClock : public Clock {
  public:
    uint32_t now() override { return platform::tickCount(); }
    int waitAny(std::initializer_list<platform::Event*> events,
                std::optional<std::chrono::milliseconds> timeout) override {
        return platform::waitAny(events, timeout);
    }
};

// Time moves only by advance() and by waits that run out: a wait with a time-out returns an
// event already set, or else adds the time-out to the clock and reports the time-out at once.
// A wait without a time-out really waits. Every wait's time-out is recorded.
class ManualClock : public Clock {
  public:
    uint32_t now() override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void advance(uint32_t ms) {
        std::lock_guard lock(mutex_);
        now_ += ms;
    }
    int waitAny(std::initializer_list<platform::Event*> events,
                std::optional<std::chrono::milliseconds> timeout) override {
        if (!timeout) return platform::waitAny(events, std::nullopt);
        int fired = platform::waitAny(events, std::chrono::milliseconds(0));
        std::lock_guard lock(mutex_);
        waits_.push_back(static_cast<uint32_t>(timeout->count()));
        if (fired == platform::kWaitTimeout) now_ += static_cast<uint32_t>(timeout->count());
        return fired;
    }
    std::vector<uint32_t> waits() const {
        std::lock_guard lock(mutex_);
        return waits_;
    }

  private:
    mutable std::mutex mutex_;
    uint32_t now_ = 100000;
    std::vector<uint32_t> waits_;
};

}  // namespace fsv::playback
