#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Event.h"

using namespace std::chrono_literals;
using platform::Event;
using platform::kWaitTimeout;
using platform::waitAny;

TEST(Event, SetBeforeWaitIsSeenAndAutoResetConsumesIt) {
    Event autoEv(Event::Reset::Auto);
    Event manualEv(Event::Reset::Manual);
    autoEv.set();
    manualEv.set();
    EXPECT_TRUE(autoEv.wait(0ms));
    EXPECT_FALSE(autoEv.wait(0ms)) << "auto-reset event must clear itself when taken";
    EXPECT_TRUE(manualEv.wait(0ms));
    EXPECT_TRUE(manualEv.wait(0ms)) << "manual-reset event stays set";
    manualEv.reset();
    EXPECT_FALSE(manualEv.wait(0ms));
}

TEST(Event, TimeOutReportsTimeoutAfterTheDelay) {
    Event a, b;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waitAny({&a, &b}, 30ms), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    EXPECT_EQ(waitAny({&a, &b}, 0ms), kWaitTimeout);
}

TEST(Event, WaitAnyReportsWhichFiredAndLowestIndexWins) {
    Event a, b(Event::Reset::Manual), c;
    b.set();
    c.set();
    EXPECT_EQ(waitAny({&a, &b, &c}, 0ms), 1);
    EXPECT_FALSE(c.isSet() == false) << "c must not be consumed when b was reported";
    b.reset();
    EXPECT_EQ(waitAny({&a, &b, &c}, 0ms), 2);
    EXPECT_FALSE(c.isSet());

    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        a.set();
    });
    EXPECT_EQ(waitAny({&c, &a}), 1);
    t.join();
}

TEST(Event, AutoResetWakesExactlyOneWaiter) {
    Event ev(Event::Reset::Auto);
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            if (ev.wait(300ms)) ++woken;
        });
    std::this_thread::sleep_for(50ms);
    ev.set();
    for (auto& t : threads) t.join();
    EXPECT_EQ(woken.load(), 1);
    EXPECT_FALSE(ev.isSet()) << "the signal went to the one waiter, not kept";
}

TEST(Event, ManualResetWakesAllWaiters) {
    Event ev(Event::Reset::Manual);
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            if (ev.wait(5s)) ++woken;
        });
    std::this_thread::sleep_for(30ms);
    ev.set();
    for (auto& t : threads) t.join();
    EXPECT_EQ(woken.load(), 4);
}

// Many producers set auto-reset events while many consumers wait on several of them: every
// set is taken exactly once (no lost and no doubled signal), and nothing deadlocks.
TEST(Event, ManyThreadsNeitherLoseNorDoubleSignals) {
    constexpr int kEvents = 3, kProducers = 4, kSetsEach = 2000, kConsumers = 4;
    Event events[kEvents];
    Event stop(Event::Reset::Manual);
    std::atomic<int> taken{0};
    std::atomic<int> handed{0};

    std::vector<std::thread> consumers;
    for (int c = 0; c < kConsumers; ++c)
        consumers.emplace_back([&] {
            Event* list[] = {&stop, &events[0], &events[1], &events[2]};
            for (;;) {
                int r = waitAny(list, 2s);
                if (r == 0 || r == kWaitTimeout) return;
                ++taken;
            }
        });
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kSetsEach; ++i) {
                Event& e = events[(p + i) % kEvents];
                // A set on an already set auto event is absorbed, as it should be; count only
                // the sets that can be observed.
                if (!e.isSet()) {
                    e.set();
                    ++handed;
                }
                if (i % 64 == 0) std::this_thread::yield();
            }
        });
    for (auto& t : producers) t.join();
    // Wait until every signal still pending has been drained.
    for (int i = 0; i < 200; ++i) {
        bool pending = false;
        for (auto& e : events) pending |= e.isSet();
        if (!pending) break;
        std::this_thread::sleep_for(5ms);
    }
    stop.set();
    for (auto& t : consumers) t.join();
    EXPECT_GT(taken.load(), 0);
    EXPECT_LE(taken.load(), handed.load());
    for (auto& e : events) EXPECT_FALSE(e.isSet());
}

TEST(Event, StopEventEndsAWorkerPromptly) {
    Event stop(Event::Reset::Manual), work;
    std::atomic<int> done{0};
    std::thread worker([&] {
        for (;;) {
            int r = waitAny({&stop, &work});
            if (r == 0) return;
            ++done;
        }
    });
    work.set();
    std::this_thread::sleep_for(20ms);
    stop.set();
    worker.join();
    EXPECT_EQ(done.load(), 1);
}
