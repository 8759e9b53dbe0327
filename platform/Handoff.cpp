#include "platform/Handoff.h"

#include <vector>

namespace fsv::platform {

bool Handoff::put(std::span<const uint8_t> bytes, std::initializer_list<Event*> stops) {
    {
        std::lock_guard lock(mutex_);
        if (!full_ && !busy_) {
            buffer_.assign(bytes.begin(), bytes.end());
            full_ = true;
            ready_.set();
            return true;
        }
        taken_.reset();
        offered_ = bytes;
        offering_ = true;
    }
    std::vector<Event*> events{&taken_};
    events.insert(events.end(), stops.begin(), stops.end());
    waitAny(events);
    std::lock_guard lock(mutex_);
    if (!offering_) return true;  // taken, perhaps just as a stop came
    offering_ = false;
    offered_ = {};
    return false;
}

bool Handoff::idle() {
    std::lock_guard lock(mutex_);
    return !full_ && !offering_ && !busy_;
}

bool Handoff::take(std::vector<uint8_t>& out) {
    std::lock_guard lock(mutex_);
    if (full_) {
        out.swap(buffer_);  // the buffers trade places; neither is given up
        full_ = false;
        busy_ = true;
        return true;
    }
    if (offering_) {
        out.assign(offered_.begin(), offered_.end());
        offering_ = false;
        offered_ = {};
        busy_ = true;
        taken_.set();
        return true;
    }
    busy_ = false;
    return false;
}

}  // namespace fsv::platform
