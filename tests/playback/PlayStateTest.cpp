#include <gtest/gtest.h>

#include <thread>

#include "platform/ScriptedUserPort.h"
#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/PlayState.h"

using namespace fsv;
using namespace fsv::playback;

namespace {

SystemTime at(int h, int m, int s, int ms = 0) {
    SystemTime t;
    t.hour = static_cast<uint16_t>(h);
    t.minute = static_cast<uint16_t>(m);
    t.second = static_cast<uint16_t>(s);
    t.milliseconds = static_cast<uint16_t>(ms);
    return t;
}

struct SpeedLog : PlayObserver {
    std::vector<std::pair<int, bool>> speeds;
    void atStart(bool) override {}
    void frameShown(const SystemTime&, uint32_t) override {}
    void speed(int value, bool slow) override { speeds.emplace_back(value, slow); }
};

TEST(PlayState, SlowerHalvesDownToOneEighth) {
    ManualClock clock;
    PlayState s(10, clock);
    SpeedLog log;
    s.setObserver(&log);
    for (int i = 0; i < 4; ++i) s.slower();
    EXPECT_EQ(s.slowDivisor(), 8);
    EXPECT_EQ(log.speeds,
              (std::vector<std::pair<int, bool>>{{2, true}, {4, true}, {8, true}, {8, true}}));
    // Faster first undoes the slowing.
    s.faster();
    EXPECT_EQ(s.slowDivisor(), 4);
    EXPECT_EQ(s.fastFactor(), 1);
    // A factor from the speed menu is the speed: the slowing goes.
    s.setSpeed(3);
    EXPECT_EQ(s.slowDivisor(), 1);
    EXPECT_EQ(s.fastFactor(), 3);
    EXPECT_EQ(log.speeds.back(), (std::pair<int, bool>{3, false}));
}

TEST(PlayState, FasterRaisesTheFactorOnDownloadAndPlay) {
    ManualClock clock;
    PlayState s(10, clock);
    std::vector<int> factors;
    for (int i = 0; i < 5; ++i) {
        s.faster();
        factors.push_back(s.fastFactor());
    }
    EXPECT_EQ(factors, (std::vector<int>{2, 3, 4, 5, 5}));
    s.slower();
    EXPECT_EQ(s.fastFactor(), 4);
    EXPECT_EQ(s.slowDivisor(), 1);
}

TEST(PlayState, FasterJumpsAheadOnJustPlay) {
    ManualClock clock;
    PlayState s(12, clock);
    s.setFrameCount(100);
    s.advance();  // the pending start command: frame 0
    for (int i = 0; i < 10; ++i) s.advance();
    ASSERT_EQ(s.position(), 10u);
    s.faster();
    EXPECT_EQ(s.fastFactor(), 1);
    EXPECT_TRUE(s.wakeUp().isSet());
    s.advance();
    EXPECT_EQ(s.position(), 13u);
    // Near the end the jump is capped at the last frame.
    ASSERT_TRUE(s.goTo(98));
    s.advance();
    s.faster();
    s.advance();
    EXPECT_EQ(s.position(), 99u);
}

TEST(PlayState, PacingFollowsTheFrameTimes) {
    struct Case {
        const char* name;
        uint8_t mode;
        int slower, faster;
        SystemTime next;
        uint32_t elapsed;
        uint32_t expected;
    } cases[] = {
        {"40 ms apart, 10 ms gone", 12, 0, 0, at(8, 0, 0, 40), 10, 30},
        {"a 5 s gap waits 3 s", 12, 0, 0, at(8, 0, 5), 0, 3000},
        {"more than a second gone shows at once", 12, 0, 0, at(8, 0, 5), 1001, 0},
        {"time going backwards waits nothing", 12, 0, 0, at(7, 59, 59), 0, 0},
        {"half speed doubles", 12, 1, 0, at(8, 0, 0, 40), 0, 80},
        {"slow waits however long ago", 12, 3, 0, at(8, 0, 5), 2000, 24000},
        {"slow with nothing left waits its divisor", 12, 1, 0, at(8, 0, 0, 40), 100, 2},
        {"fast divides by twice the factor", 10, 0, 1, at(8, 0, 0, 400), 0, 100},
        {"fast only on download and play", 12, 0, 0, at(8, 0, 0, 400), 0, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualClock clock;
        PlayState s(c.mode, clock);
        for (int i = 0; i < c.slower; ++i) s.slower();
        for (int i = 0; i < c.faster; ++i) s.faster();
        EXPECT_EQ(s.pacingWait(at(8, 0, 0)), 0u) << "the first frame shows at once";
        s.shown(at(8, 0, 0));
        clock.advance(c.elapsed);
        EXPECT_EQ(s.pacingWait(c.next), c.expected);
        s.setNoPacing(true);
        EXPECT_EQ(s.pacingWait(c.next), 0u);
    }
}

TEST(PlayState, PaceWaitsOnTheClockAndStopsOnStop) {
    ManualClock clock;
    PlayState s(12, clock);
    fsv::platform::Event stop(fsv::platform::Event::Reset::Manual);
    s.shown(at(8, 0, 0));
    EXPECT_TRUE(s.pace(at(8, 0, 1), stop));
    EXPECT_EQ(clock.waits(), std::vector<uint32_t>{1000});
    s.shown(at(8, 0, 1));
    stop.set();
    EXPECT_FALSE(s.pace(at(8, 0, 2), stop));
}

TEST(PlayState, CommandsMoveThePosition) {
    ManualClock clock;
    PlayState s(12, clock);
    s.setFrameCount(5);
    s.advance();
    EXPECT_EQ(s.position(), 0u);
    s.stepBack();
    s.advance();
    EXPECT_EQ(s.position(), 0u) << "not below 0";
    EXPECT_FALSE(s.goTo(5));
    EXPECT_EQ(s.pendingCommands(), 0);
    ASSERT_TRUE(s.goTo(3));
    s.advance();
    EXPECT_EQ(s.position(), 3u);
    s.stepForward();
    s.advance();
    EXPECT_EQ(s.position(), 4u);
    EXPECT_TRUE(s.holding()) << "stepping onto the last frame holds";
    s.stepForward();
    s.advance();
    EXPECT_EQ(s.position(), 4u) << "capped at the last frame";
    // Plain advancing stops at the end once.
    PlayState t(12, clock);
    t.setFrameCount(2);
    t.advance();
    t.advance();
    t.advance();
    EXPECT_EQ(t.position(), 1u);
    EXPECT_FALSE(t.stopAtEnd());
}

TEST(PlayState, HoldAtTheEndRestartsOrAppliesACommand) {
    ManualClock clock;
    PlayState s(12, clock);
    fsv::platform::Event stop(fsv::platform::Event::Reset::Manual);
    s.setFrameCount(50);
    {
        std::thread ui([&] {
            while (!s.holding()) std::this_thread::yield();
            s.play();
        });
        EXPECT_EQ(s.holdAtEnd(stop), PlayState::HoldResult::Restart);
        ui.join();
    }
    EXPECT_EQ(s.position(), 0u);
    EXPECT_FALSE(s.paused());
    EXPECT_TRUE(s.continueEvent().isSet());
    {
        std::thread ui([&] {
            while (!s.holding()) std::this_thread::yield();
            s.goTo(20);
        });
        EXPECT_EQ(s.holdAtEnd(stop), PlayState::HoldResult::Command);
        ui.join();
    }
    EXPECT_EQ(s.position(), 20u);
    EXPECT_TRUE(s.paused()) << "a command leaves the stream paused";
    EXPECT_FALSE(s.continueEvent().isSet());
    stop.set();
    EXPECT_EQ(s.holdAtEnd(stop), PlayState::HoldResult::Stop);
    EXPECT_EQ(s.position(), 49u);
}

struct FakePlayer : Player {
    int panel = -1;
    void attachPanel(int p) override { panel = p; }
};

TEST(ChannelTable, TakeReusesLowestFreeAndRespectsTheLimit) {
    ScriptedUserPort port;
    ChannelTable table(port, 3);
    FakePlayer a, b, c, d;
    EXPECT_EQ(table.take(ChannelKind::RemoteStream, &a), 0);
    EXPECT_EQ(table.take(ChannelKind::RemoteStream, &b), 1);
    EXPECT_EQ(table.take(ChannelKind::LocalFile, &c), 2);
    EXPECT_EQ(table.take(ChannelKind::RemoteStream, &d), -1);
    table.giveBack(1);
    EXPECT_EQ(b.panel, -1);
    EXPECT_EQ(table.size(), 3);
    EXPECT_EQ(table.take(ChannelKind::RemoteStream, &d), 1);
    table.giveBack(2);
    table.giveBack(1);
    EXPECT_EQ(table.size(), 1) << "trailing free positions go";
    EXPECT_EQ(table.usedCount(), 1);
    EXPECT_EQ(table.panelPlayer(1), nullptr);
}

TEST(ChannelTable, PagesSwapsAndPuts) {
    ScriptedUserPort port;
    ChannelTable table(port, 32);
    FakePlayer p[17];
    for (auto& player : p) table.take(ChannelKind::RemoteStream, &player);
    EXPECT_EQ(p[15].panel, 15);
    EXPECT_EQ(p[16].panel, -1) << "the 17th channel waits for the page to move";
    table.showPage(1, 16);
    EXPECT_EQ(p[0].panel, -1);
    EXPECT_EQ(p[16].panel, 15);
    EXPECT_EQ(table.panelPlayer(0), &p[1]);

    table.swap(1, 16);
    EXPECT_EQ(table.playerAt(1), &p[16]);
    EXPECT_EQ(p[16].panel, 0);
    EXPECT_EQ(p[1].panel, 15);
    int redraws = 0;
    for (auto& post : port.posts()) redraws += post.message == PanelMessage::RedrawChannel;
    EXPECT_EQ(redraws, 2);

    FakePlayer replacement;
    table.put(16, ChannelKind::LocalFile, &replacement);
    EXPECT_EQ(p[1].panel, -1);
    EXPECT_EQ(replacement.panel, 15);
    EXPECT_EQ(table.kindAt(16), ChannelKind::LocalFile);
    EXPECT_EQ(table.usedCount(), 17);
}

}  // namespace
