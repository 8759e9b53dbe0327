#pragma once
// Events in the style the workers are written for: manual- or auto-reset, settable from any
// thread, and a wait for the first of several events with an optional time-out.

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace fsv::platform {

struct Waiter;

class Event {
public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset reset = Reset::Auto, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event();

    // Manual reset: stays set and releases every waiter until reset().
    // Auto reset: releases exactly one waiter (now or the next to wait) and clears itself.
    void set();
    void reset();
    bool isSet() const;
    bool isManualReset() const { return manual_; }

    // Waits for this event alone; false on time-out. No time-out means wait for ever.
    bool wait(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

private:
    friend int waitAny(std::span<Event* const>, std::optional<std::chrono::milliseconds>);
    mutable std::mutex mutex_;
    bool manual_;
    bool signaled_;
    // Waiters in the order they started waiting, each with this event's index in its call.
    std::vector<std::pair<Waiter*, int>> waiters_;
};

inline constexpr int kWaitTimeout = -1;

// Waits for the first of `events` to be set and returns its index; kWaitTimeout when the time
// ran out. When several are already set the lowest index wins. An auto-reset event is consumed
// only by the wait that reports it.
int waitAny(std::span<Event* const> events,
            std::optional<std::chrono::milliseconds> timeout = std::nullopt);
int waitAny(std::initializer_list<Event*> events,
            std::optional<std::chrono::milliseconds> timeout = std::nullopt);

}  // namespace fsv::platform
