#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "platform/Handoff.h"

using fsv::platform::Event;
using fsv::platform::Handoff;

namespace {
std::vector<uint8_t> lot(uint32_t k) {
    return std::vector<uint8_t>(1 + k % 7, static_cast<uint8_t>(k));
}
}  // namespace

// Every lot arrives whole and in order, and the producer is never more than one lot ahead:
// when put(k) returns, the consumer has finished every lot before k.
TEST(Handoff, LotsArriveInOrderAndTheProducerStaysOneAhead) {
    constexpr uint32_t kLots = 2000;
    Handoff h;
    Event stop(Event::Reset::Manual);
    std::atomic<uint32_t> done{0};
    std::thread consumer([&] {
        std::vector<uint8_t> got;
        uint32_t k = 0;
        while (k < kLots) {
            if (!h.take(got)) {
                fsv::platform::waitAny({&h.ready(), &stop});
                continue;
            }
            ASSERT_EQ(got, lot(k)) << k;
            if (k % 3 == 0) std::this_thread::yield();  // a consumer of uneven speed
            done.store(++k);
        }
    });
    for (uint32_t k = 0; k < kLots; ++k) {
        const auto bytes = lot(k);
        ASSERT_TRUE(h.put(bytes, {&stop})) << k;
        ASSERT_GE(done.load(), k) << "put(" << k << ") returned with an older lot unfinished";
    }
    consumer.join();
    std::vector<uint8_t> none;
    EXPECT_FALSE(h.take(none));
}

// A producer waiting on a busy consumer is let go by a stop, and its bytes are withdrawn.
TEST(Handoff, StopReleasesAWaitingProducer) {
    Handoff h;
    Event stop(Event::Reset::Manual);
    const std::vector<uint8_t> first{1}, second{2};
    ASSERT_TRUE(h.put(first, {&stop}));
    std::vector<uint8_t> got;
    ASSERT_TRUE(h.take(got));  // the consumer now works on `first`
    EXPECT_FALSE(h.idle());
    std::atomic<bool> result{true};
    std::thread producer([&] { result = h.put(second, {&stop}); });
    stop.set();
    producer.join();
    EXPECT_FALSE(result.load()) << "nobody took the bytes";
    EXPECT_FALSE(h.take(got)) << "withdrawn bytes must not be taken";
    EXPECT_TRUE(h.idle());
}
