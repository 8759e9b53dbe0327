// The bucket behind --limit-rate, driven by a clock of the test's own: the waits it asks for
// must add up to the bytes at the rate.
#include <gtest/gtest.h>

#include "recordings/download/RateLimit.h"

using namespace std::chrono;
using fsv::download::RateLimit;

namespace {

const RateLimit::TimePoint kStart = RateLimit::TimePoint{} + hours(1);

// A writer that writes each block the moment its wait is over; the time all blocks took.
nanoseconds writeAll(RateLimit& limit, RateLimit::TimePoint& now, uint64_t block, int blocks) {
    nanoseconds waited{0};
    for (int i = 0; i < blocks; ++i) {
        const nanoseconds w = limit.reserve(block, now);
        EXPECT_GE(w.count(), 0);
        waited += w;
        now += w;
    }
    return waited;
}

TEST(RateLimit, WaitsAddUpToTheBytesAtTheRateLessOneBurst) {
    struct Case {
        uint64_t rate, block;
        int blocks;
    } cases[] = {
        {1024, 100, 500},              // small blocks, a low rate
        {256 * 1024, 16 * 1024, 200},  // --limit-rate 256 with the recorder's block size
        {1000, 5000, 10},              // every block bigger than the burst
        {3, 1, 100},                   // a rate that does not divide a second
    };
    for (const auto& c : cases) {
        RateLimit limit(c.rate);
        auto now = kStart;
        const nanoseconds waited = writeAll(limit, now, c.block, c.blocks);
        // A fresh bucket lets one burst through at once; the rest follows at the rate.
        const nanoseconds expected = limit.timeFor(c.block) * c.blocks - RateLimit::kBurst;
        EXPECT_EQ(waited, expected) << c.rate << " B/s, " << c.blocks << " x " << c.block;
        EXPECT_NEAR(duration<double>(waited).count(),
                    double(c.block * c.blocks) / double(c.rate) - 0.125, 1e-6);
    }
}

TEST(RateLimit, IdleTimeIsNotSavedUpBeyondOneBurst) {
    RateLimit limit(10'000);
    auto now = kStart;
    writeAll(limit, now, 1'000, 50);
    now += seconds(30);  // a quiet half minute between two files
    // The next ten thousand bytes still take a second, less the one burst.
    EXPECT_EQ(writeAll(limit, now, 1'000, 10), seconds(1) - RateLimit::kBurst);
}

TEST(RateLimit, AWriterSlowerThanTheRateNeverWaits) {
    RateLimit limit(10'000);
    auto now = kStart;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(limit.reserve(1'000, now).count(), 0) << i;
        now += milliseconds(150);  // 6,700 bytes a second
    }
}

}  // namespace
