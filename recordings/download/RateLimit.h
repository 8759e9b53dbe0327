#pragma once
// A rate limit for the bytes of a recorder's file streams: a token bucket. Each block reserves
// its bytes and is told how long to wait before writing them. The bucket holds an eighth of a
// second of the rate: after a quiet moment that much goes through at once, past it the blocks
// follow at the rate. Time is handed in by the caller, so a test drives it with its own clock.
// Thread-safe: the file streams of one session share one bucket.
//
//   RateLimit limit(256 * 1024);  // bytes per second
//   auto wait = limit.reserve(block.size(), std::chrono::steady_clock::now());
//   // wait (watching the stop events), then write the block

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace fsv::download {

class RateLimit {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // `bytesPerSecond` above 0.
    explicit RateLimit(uint64_t bytesPerSecond);

    // Reserves `bytes` at `now`; how long the caller waits before they go (zero: at once).
    std::chrono::nanoseconds reserve(uint64_t bytes, TimePoint now);

    uint64_t bytesPerSecond() const { return rate_; }
    // How long `bytes` take at the rate.
    std::chrono::nanoseconds timeFor(uint64_t bytes) const;

    static constexpr std::chrono::milliseconds kBurst{125};

  private:
    const uint64_t rate_;
    std::mutex mutex_;
    // When everything reserved so far has gone at the rate; guarded by mutex_.
    std::optional<TimePoint> due_;
};

}  // namespace fsv::download
