#include "recordings/download/RateLimit.h"

#include <algorithm>

namespace fsv::download {

RateLimit::RateLimit(uint64_t bytesPerSecond) : rate_(std::max<uint64_t>(bytesPerSecond, 1)) {}

std::chrono::nanoseconds RateLimit::timeFor(uint64_t bytes) const {
    // Whole seconds and the rest apart, so that no product overflows.
    constexpr uint64_t kNs = 1'000'000'000;
    return std::chrono::nanoseconds((bytes / rate_) * kNs + (bytes % rate_) * kNs / rate_);
}

std::chrono::nanoseconds RateLimit::reserve(uint64_t bytes, TimePoint now) {
    std::lock_guard lock(mutex_);
    // Time not used while the bucket was idle counts for at most the burst.
    const TimePoint earliest = now - kBurst;
    if (!due_ || *due_ < earliest) due_ = earliest;
    *due_ += timeFor(bytes);
    return *due_ > now ? std::chrono::nanoseconds(*due_ - now) : std::chrono::nanoseconds(0);
}

}  // namespace fsv::download
