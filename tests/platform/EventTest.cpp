#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Event.h"

using namespace std::chrono_literals;
using fsv::platform::Event;
using fsv::platform::kWaitTimeout;
using fsv::platform::waitAny;

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
    EXPECT_TRUE(c.isSet()) << "c must not be consumed when b was reported";
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

// Many producers set auto-reset events while many consumers wait on all of them. Each
// producer sets its event again only once the last set was taken, so every set must be taken
// exactly once: a lost signal leaves its producer waiting (caught by a generous deadline), a
// doubled one shows as a count above the sets.
TEST(Event, ManyThreadsNeitherLoseNorDoubleSignals) {
    constexpr int kProducers = 4, kSetsEach = 1000, kConsumers = 4;
    Event events[kProducers];
    Event stop(Event::Reset::Manual);
    std::mutex m;
    std::condition_variable taking;
    int taken[kProducers] = {};  // under m
    std::atomic<int> lost{0};

    std::vector<std::thread> consumers;
    for (int c = 0; c < kConsumers; ++c)
        consumers.emplace_back([&] {
            Event* list[] = {&stop, &events[0], &events[1], &events[2], &events[3]};
            for (;;) {
                const int r = waitAny(list);
                if (r == 0) return;
                {
                    std::lock_guard lock(m);
                    ++taken[r - 1];
                }
                taking.notify_all();
            }
        });
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 1; i <= kSetsEach; ++i) {
                events[p].set();
                std::unique_lock lock(m);
                if (!taking.wait_for(lock, 20s, [&] { return taken[p] >= i; })) {
                    ++lost;
                    return;
                }
            }
        });
    for (auto& t : producers) t.join();
    stop.set();
    for (auto& t : consumers) t.join();
    EXPECT_EQ(lost.load(), 0) << "a set was never taken";
    for (int p = 0; p < kProducers; ++p) {
        EXPECT_EQ(taken[p], kSetsEach) << "event " << p;
        EXPECT_FALSE(events[p].isSet());
    }
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
