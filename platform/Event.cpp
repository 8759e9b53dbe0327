#include "platform/Event.h"

#include <algorithm>
#include <condition_variable>

namespace fsv::platform {

// One waitAny call. The lock order is always event mutex, then waiter mutex.
struct Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    int fired = kWaitTimeout;
    std::vector<Event*> registrations;  // touched only by the waiting thread
};

Event::Event(Reset reset, bool initiallySet)
    : manual_(reset == Reset::Manual), signaled_(initiallySet) {}

Event::~Event() = default;

void Event::set() {
    std::lock_guard lock(mutex_);
    for (auto [w, index] : waiters_) {
        {
            std::lock_guard wl(w->mutex);
            if (w->fired != kWaitTimeout) continue;  // already released by another event
            w->fired = index;
        }
        // Woken outside its lock, so that it does not wake only to wait for that lock. The
        // waiter stays alive meanwhile: leaving waitAny takes this event's lock, held here.
        w->cv.notify_one();
        if (!manual_) return;  // handed to exactly one waiter, not kept
    }
    signaled_ = true;
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    signaled_ = false;
}

bool Event::isSet() const {
    std::lock_guard lock(mutex_);
    return signaled_;
}

bool Event::wait(std::optional<std::chrono::milliseconds> timeout) {
    Event* self = this;
    return waitAny(std::span<Event* const>(&self, 1), timeout) == 0;
}

int waitAny(std::initializer_list<Event*> events, std::optional<std::chrono::milliseconds> timeout) {
    return waitAny(std::span<Event* const>(events.begin(), events.size()), timeout);
}

int waitAny(std::span<Event* const> events, std::optional<std::chrono::milliseconds> timeout) {
    const auto deadline =
        timeout ? std::optional(std::chrono::steady_clock::now() + *timeout) : std::nullopt;
    Waiter waiter;
    waiter.registrations.reserve(events.size());

    auto unregister = [&] {
        for (Event* ev : waiter.registrations) {
            std::lock_guard lock(ev->mutex_);
            auto& ws = ev->waiters_;
            ws.erase(std::remove_if(ws.begin(), ws.end(),
                                    [&](const auto& e) { return e.first == &waiter; }),
                     ws.end());
        }
    };

    // Register with each event in order; an event already set is taken at once.
    for (int i = 0; i < static_cast<int>(events.size()); ++i) {
        Event* ev = events[i];
        std::lock_guard lock(ev->mutex_);
        {
            std::lock_guard wl(waiter.mutex);
            if (waiter.fired != kWaitTimeout) break;  // an earlier event fired meanwhile
            if (ev->signaled_) {
                if (!ev->manual_) ev->signaled_ = false;
                waiter.fired = i;
                break;
            }
        }
        waiter.registrations.push_back(ev);
        ev->waiters_.emplace_back(&waiter, i);
    }

    {
        std::unique_lock wl(waiter.mutex);
        auto fired = [&] { return waiter.fired != kWaitTimeout; };
        if (deadline)
            waiter.cv.wait_until(wl, *deadline, fired);
        else
            waiter.cv.wait(wl, fired);
    }
    // After unregistering no event can touch the waiter any more; a signal handed over between
    // the time-out and here is reported, not lost.
    unregister();
    std::lock_guard wl(waiter.mutex);
    return waiter.fired;
}

}  // namespace fsv::platform
