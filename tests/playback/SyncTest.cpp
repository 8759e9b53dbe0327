// Channels that play in step: the clock on its own, and three overlapping recordings of three
// cameras driven through the group without any window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "ReferenceFrame.h"
#include "media/AviReader.h"
#include "recordings/playback/LocalChannel.h"
#include "recordings/playback/LocalPlayer.h"
#include "recordings/playback/SyncGroup.h"
#include "sim/Generate.h"
#include "tests/support/Eventually.h"

using namespace fsv;
using namespace fsv::playback;
using namespace std::chrono_literals;
using playback::PlayCommand;

using fsv::test::eventually;

namespace {

namespace fs = std::filesystem;

TEST(SyncClockTest, StampsAndCalendar) {
    struct Case {
        SystemTime t;
        int64_t ms;
    };
    const Case cases[] = {
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 0},
        {{2026, 12, 2, 1, 8, 0, 1, 250}, 1796112001250},
        {{2024, 2, 4, 29, 23, 59, 59, 999}, 1709251199999},  // a leap day
        {{2024, 3, 5, 1, 0, 0, 0, 0}, 1709251200000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ms);
        EXPECT_EQ(stampMs(c.t), c.ms);
        EXPECT_EQ(stampTime(c.ms), c.t);
    }
    const std::vector<int64_t> times{10, 20, 20, 30};
    EXPECT_EQ(frameAtOrBefore(times, 9), -1);
    EXPECT_EQ(frameAtOrBefore(times, 10), 0);
    EXPECT_EQ(frameAtOrBefore(times, 25), 2);  // the last of equal stamps
    EXPECT_EQ(frameAtOrBefore(times, 99), 3);
}

TEST(SyncClockTest, RunsAtItsSpeedStopsAtTheEndAndWakesFollowers) {
    playback::ManualClock ticks;
    SyncClock clock(ticks);
    fsv::platform::Event follower(fsv::platform::Event::Reset::Manual, false);
    clock.subscribe(&follower);
    clock.seek(1000);
    EXPECT_TRUE(follower.isSet());
    follower.reset();

    ticks.advance(500);  // stopped: no time passes
    EXPECT_EQ(clock.now(), 1000);
    EXPECT_FALSE(clock.realUntil(2000));
    clock.play();
    ticks.advance(100);
    EXPECT_EQ(clock.now(), 1100);
    clock.faster();
    clock.faster();  // x4
    ticks.advance(100);
    EXPECT_EQ(clock.now(), 1500);
    EXPECT_EQ(clock.realUntil(1901), 101u);      // rounded up: woken when the time is there
    for (int i = 0; i < 5; ++i) clock.slower();  // x4 → x1 → ÷8
    EXPECT_EQ(clock.fastFactor(), 1);
    EXPECT_EQ(clock.slowFactor(), 8);
    ticks.advance(800);
    EXPECT_EQ(clock.now(), 1600);

    follower.reset();
    clock.setEnd(1650);
    follower.reset();
    ticks.advance(1000);  // would be 1725: stops at the end, and says so
    EXPECT_EQ(clock.now(), 1650);
    EXPECT_FALSE(clock.playing());
    EXPECT_TRUE(follower.isSet());
    clock.unsubscribe(&follower);
    follower.reset();
    clock.seek(0);
    EXPECT_FALSE(follower.isSet());
}

// Three cameras whose recordings start one second apart and overlap.
class SyncGroupTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::path(FSV_BINARY_DIR) / ("test-sync-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        sim::GenerateOptions o;
        o.cameras = 3;
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 3;
        o.audioChannels = 0;
        o.cameraOffsetSeconds = 1;
        std::string error;
        ASSERT_TRUE(sim::generateRecordings(dir_, o, &error)) << error;
        for (int c = 0; c < 3; ++c) {
            files_[c] = fsv::test::firstAvi(dir_ / format("Cam%02d", c + 1));
            ASSERT_FALSE(files_[c].empty());
            stamps_[c].clear();
            // The files' own stamps, read apart from the player.
            media::AviReader r;
            const int n = r.open(files_[c]);
            ASSERT_GT(n, 10);
            SystemTime first{};
            ASSERT_TRUE(r.readTimeStamp(0, first));
            for (int i = 0; i < n; ++i) {
                SystemTime t = first;
                ASSERT_TRUE(r.readTimeStamp(i, t));
                stamps_[c].push_back(stampMs(t));
            }
        }
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void SetUp() override {
        for (int c = 0; c < 3; ++c) {
            LocalChannel::Options o;
            o.sink = &display_;
            o.choosePosition = [c] { return c; };
            channels_[c] = std::make_unique<LocalChannel>(o);
            channels_[c]->attach(c);
            ASSERT_TRUE(channels_[c]->start(files_[c], true));
        }
        for (auto& ch : channels_) ASSERT_TRUE(eventually([&] { return !ch->loading(); }));
        for (auto& ch : channels_) ch->setPaused(true);
    }
    void TearDown() override {
        group_.reset();
        for (auto& ch : channels_) ch.reset();
    }

    // Frame `i` of camera `c`, or -1 when the clock at `t` is outside its recording.
    static int expectedFrame(int c, int64_t t, int64_t period = 100) {
        const auto& s = stamps_[c];
        if (t < s.front() || t > s.back() + period) return -1;
        return frameAtOrBefore(s, t);
    }

    // Every channel settles on the frame at or just before the clock (or "No recording").
    void expectInStep(const char* where) {
        SCOPED_TRACE(where);
        const int64_t t = group_->clock().now();
        for (int c = 0; c < 3; ++c) {
            SCOPED_TRACE(c);
            const int want = expectedFrame(c, t);
            auto& ch = *channels_[c];
            if (want < 0) {
                EXPECT_TRUE(eventually([&] { return ch.noRecording(); }));
                continue;
            }
            EXPECT_TRUE(eventually([&] {
                return !ch.noRecording() && ch.currentFrame() == static_cast<uint32_t>(want) &&
                       stampMs(ch.currentTime()) == stamps_[c][static_cast<size_t>(want)];
            })) << "at "
                << t << " shows " << ch.currentFrame() << " want " << want;
        }
    }

    std::vector<LocalChannel*> all() {
        return {channels_[0].get(), channels_[1].get(), channels_[2].get()};
    }

    static inline fs::path dir_;
    static inline fs::path files_[3];
    static inline std::vector<int64_t> stamps_[3];
    client::NotificationQueue queue_;
    client::FrameSlots slots_{3};
    client::SlotDisplay display_{slots_, queue_};
    std::unique_ptr<LocalChannel> channels_[3];
    playback::SystemClock ticks_;
    std::unique_ptr<SyncGroup> group_ = std::make_unique<SyncGroup>(ticks_);
};

TEST_F(SyncGroupTest, SeekStepsAndEndsMoveEveryChannel) {
    auto& active = *channels_[1];  // the middle camera
    ASSERT_TRUE(active.goTo(4));
    ASSERT_TRUE(eventually([&] { return active.currentFrame() == 4; }));
    group_->start(active, all());
    EXPECT_EQ(group_->clock().now(), stamps_[1][4]);  // the clock takes the active frame's time
    EXPECT_FALSE(group_->clock().playing());
    // Camera 3 starts a second later than camera 2: nothing of it yet.
    expectInStep("start");
    EXPECT_TRUE(channels_[2]->noRecording());

    // The slider on the active channel: its frame's time becomes the clock.
    ASSERT_TRUE(group_->goTo(active, 20));
    EXPECT_EQ(group_->clock().now(), stamps_[1][20]);
    expectInStep("seek");

    ASSERT_TRUE(group_->command(active, PlayCommand::StepForward));
    EXPECT_EQ(group_->clock().now(), stamps_[1][21]);
    expectInStep("forward");
    ASSERT_TRUE(group_->command(active, PlayCommand::StepBack));
    ASSERT_TRUE(group_->command(active, PlayCommand::StepBack));
    EXPECT_EQ(group_->clock().now(), stamps_[1][19]);
    expectInStep("back");

    ASSERT_TRUE(group_->command(active, PlayCommand::Last));
    EXPECT_EQ(group_->clock().now(), stamps_[1].back());
    expectInStep("last");  // camera 1 has ended by then
    EXPECT_TRUE(channels_[0]->noRecording());
    ASSERT_TRUE(group_->command(active, PlayCommand::First));
    expectInStep("first");
}

TEST_F(SyncGroupTest, PlaysInStepAndLeavesEachChannelWhereItIs) {
    auto& active = *channels_[0];
    ASSERT_TRUE(active.goTo(0));
    ASSERT_TRUE(eventually([&] { return active.currentFrame() == 0; }));
    group_->start(active, all());
    ASSERT_TRUE(group_->command(active, PlayCommand::Faster));  // x2: the run takes less time
    expectInStep("before playing");
    ASSERT_TRUE(group_->command(active, PlayCommand::Play));
    // While it plays, no channel shows a frame after the clock.
    const int64_t start = group_->clock().now();
    while (group_->clock().now() < start + 2500) {
        for (int c = 0; c < 3; ++c) {
            if (channels_[c]->noRecording()) continue;
            const int64_t shown = stampMs(channels_[c]->currentTime());
            const int64_t t = group_->clock().now();  // read after: the clock only moves on
            EXPECT_LE(shown, t) << c;
        }
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(group_->command(active, PlayCommand::Pause));
    expectInStep("paused after playing");

    // Leaving: each channel keeps its frame, paused as the clock was.
    uint32_t at[3];
    for (int c = 0; c < 3; ++c) at[c] = channels_[c]->currentFrame();
    group_->stop();
    std::this_thread::sleep_for(200ms);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(channels_[c]->syncClock(), nullptr);
        EXPECT_TRUE(channels_[c]->paused());
        EXPECT_EQ(channels_[c]->currentFrame(), at[c]) << c;
    }
    // And plays on its own again.
    channels_[2]->setPaused(false);
    EXPECT_TRUE(eventually([&] { return channels_[2]->currentFrame() > at[2]; }));
}

// The clock stops at the end of the latest recording; play there starts from the earliest.
TEST_F(SyncGroupTest, StopsAtTheLatestEndAndRestartsFromTheEarliestStart) {
    auto& active = *channels_[0];
    group_->start(active, all());
    EXPECT_EQ(group_->latestEnd(), stamps_[2].back());
    EXPECT_EQ(group_->earliestStart(), stamps_[0].front());
    group_->clock().seek(stamps_[2].back() - 300);
    ASSERT_TRUE(group_->command(active, PlayCommand::Play));
    ASSERT_TRUE(eventually([&] { return !group_->clock().playing(); }, 10s));
    EXPECT_EQ(group_->clock().now(), stamps_[2].back());
    expectInStep("end");
    ASSERT_TRUE(group_->command(active, PlayCommand::Play));
    EXPECT_LT(group_->clock().now(), stamps_[0].front() + 1000);
    ASSERT_TRUE(group_->command(active, PlayCommand::Pause));
}

}  // namespace
