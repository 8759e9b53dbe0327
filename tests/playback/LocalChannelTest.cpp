#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ReferenceFrame.h"
#include "client/FrameSlot.h"
#include "client/QueuedUserPort.h"
#include "media/AviReader.h"
#include "media/VideoDecoder.h"
#include "platform/ScriptedUserPort.h"
#include "recordings/playback/LocalChannel.h"
#include "recordings/playback/LocalPlayer.h"
#include "sim/Generate.h"
#include "tests/support/Eventually.h"

using namespace fsv;
using namespace fsv::playback;
using namespace std::chrono_literals;
using fsv::playback::test::firstAvi;
using fsv::playback::test::referenceFrame;

using fsv::test::eventually;

namespace {

namespace fs = std::filesystem;

client::Picture shown(client::FrameSlot& slot) {
    client::Picture out;
    slot.takeNewest([&](const client::Picture& p) { out = p; });
    return out;
}

bool samePicture(const client::Picture& a, const client::Picture& b) {
    return a.width == b.width && a.height == b.height && a.stride == b.stride && a.bits == b.bits;
}

// The last speed a channel reported with its position.
struct LastSpeed : FrameSink {
    std::atomic<int> speed{0};
    void show(int, std::shared_ptr<const media::DecodedPicture>) override {}
    void draw(int, int, int, std::span<const uint8_t>) override {}
    void moved(int, uint32_t, uint32_t, int s) override { speed = s; }
};

class LocalChannelTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // One folder per test process: ctest runs these tests side by side.
        dir_ = fs::path(FSV_BINARY_DIR) / ("test-playback-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        sim::GenerateOptions o;
        o.cameras = 2;  // Cam01 Motion JPEG 352 x 240, Cam02 MPEG-4 704 x 480
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 3;
        o.audioChannels = 0;
        std::string error;
        ASSERT_TRUE(sim::generateRecordings(dir_ / "rec", o, &error)) << error;
        mjpeg_ = firstAvi(dir_ / "rec" / "Cam01");
        mpeg4_ = firstAvi(dir_ / "rec" / "Cam02");
        ASSERT_FALSE(mjpeg_.empty());
        ASSERT_FALSE(mpeg4_.empty());
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    LocalChannel::Options options() {
        LocalChannel::Options o;
        o.sink = &display_;
        o.user = &user_;
        o.exitEvent = &exit_;
        o.choosePosition = [] { return 2; };
        o.requestClose = [this](int position) { closed_ = position; };
        return o;
    }

    std::vector<client::Notification> drain() {
        std::vector<client::Notification> out;
        queue_.drain([&](client::Notification& n) { out.push_back(n); });
        return out;
    }

    static inline fs::path dir_, mjpeg_, mpeg4_;
    client::NotificationQueue queue_;
    fsv::platform::Event exit_{fsv::platform::Event::Reset::Manual, false};
    // The panels as the viewer has them: a frame slot each, FrameReady and positions queued.
    client::FrameSlots slots_{16};
    client::SlotDisplay display_{slots_, queue_};
    client::QueuedUserPort user_{queue_, exit_};
    std::atomic<int> closed_{-100};
};

// Pause, go to a frame, step both ways, first and last: the slot holds exactly the decoded frame.
TEST_F(LocalChannelTest, StepsShowExactlyTheDecodedFrame) {
    client::FrameSlot& slot = *slots_.slot(5);
    LocalChannel ch(options());
    ch.attach(5);
    ASSERT_TRUE(ch.start(mpeg4_, true));
    ASSERT_TRUE(eventually([&] { return !ch.loading(); }));
    EXPECT_EQ(ch.channelPosition(), 2);
    EXPECT_EQ(ch.caption(), "3. Local File");
    EXPECT_EQ(ch.windowName(), "Local File - " + mpeg4_.string());
    ch.setPaused(true);
    const int count = ch.frameCount();
    ASSERT_GT(count, 20);

    auto showsFrame = [&](uint32_t n) {
        SCOPED_TRACE(n);
        // A frame that was on its way when the pause came may land first; the slot then
        // gets the asked-for frame next.
        const auto expected = referenceFrame(mpeg4_, static_cast<int>(n));
        EXPECT_TRUE(eventually([&] {
            return ch.currentFrame() == n && slot.dirty() && samePicture(shown(slot), expected);
        }));
    };
    ASSERT_TRUE(eventually([&] { return ch.pausedFrame().has_value(); }));

    ASSERT_TRUE(ch.goTo(13));  // inside a group of pictures: decoded from its key frame
    showsFrame(13);
    ch.command(LocalChannel::kStepForward);
    showsFrame(14);
    ch.command(LocalChannel::kStepBack);
    showsFrame(13);
    ch.command(LocalChannel::kStepBack);
    showsFrame(12);
    ch.command(LocalChannel::kToFirst);
    showsFrame(0);
    ch.command(LocalChannel::kStepBack);  // stays on frame 0
    showsFrame(0);
    EXPECT_FALSE(ch.goTo(static_cast<uint32_t>(count)));

    // The paused frame's bits are the 24-bit picture on show.
    auto paused = ch.pausedFrame();
    ASSERT_TRUE(paused);
    EXPECT_EQ(paused->header.width, 704);
    EXPECT_EQ(paused->header.height, 480);
    EXPECT_EQ(paused->bits.size(), paused->header.sizeImage);

    // To the last frame: holds there, paused at the end.
    ch.command(LocalChannel::kToLast);
    showsFrame(static_cast<uint32_t>(count - 1));
    ASSERT_TRUE(eventually([&] { return ch.atEnd(); }));
    EXPECT_TRUE(ch.paused());
    EXPECT_EQ(ch.currentFrame(), static_cast<uint32_t>(count - 1));
    // Play at the end starts again from frame 0.
    ch.setNoWait(true);
    ch.setPaused(false);
    ASSERT_TRUE(eventually([&] { return !ch.atEnd() && ch.currentFrame() < uint32_t(count - 1); }));

    // Positions reached the front end for this panel, and no message box was raised.
    bool position = false;
    for (auto& n : drain()) {
        EXPECT_FALSE(std::holds_alternative<client::MessageBoxNote>(n));
        if (auto* p = std::get_if<client::PlaybackPosition>(&n)) {
            position = true;
            EXPECT_EQ(p->panel, 5);
            EXPECT_EQ(p->frameCount, static_cast<uint32_t>(count));
        }
    }
    EXPECT_TRUE(position);
}

// Playing without pacing reaches the end and pauses on the last frame; every frame was shown.
TEST_F(LocalChannelTest, PlaysToTheEndAndHolds) {
    client::FrameSlot& slot = *slots_.slot(0);
    LocalChannel ch(options());
    ch.attach(0);
    ch.setNoWait(true);
    ASSERT_TRUE(ch.start(mjpeg_, true));
    ASSERT_TRUE(eventually([&] { return ch.atEnd() && ch.paused(); }));
    const int count = ch.frameCount();
    EXPECT_EQ(ch.currentFrame(), static_cast<uint32_t>(count - 1));
    EXPECT_GE(ch.framesShown(), static_cast<uint64_t>(count));
    EXPECT_TRUE(samePicture(shown(slot), referenceFrame(mjpeg_, count - 1)));
}

// A download that was watched while it arrived opens paused on its last frame, at its position.
TEST_F(LocalChannelTest, FinishedDownloadOpensOnItsLastFrame) {
    LocalChannel ch(options());
    ch.attach(1);
    ASSERT_TRUE(ch.start(mjpeg_, false, 7, "Guest", "pw"));
    ASSERT_TRUE(eventually([&] { return ch.atEnd() && ch.paused(); }));
    EXPECT_EQ(ch.currentFrame(), static_cast<uint32_t>(ch.frameCount() - 1));
    EXPECT_EQ(ch.channelPosition(), 7);
    EXPECT_EQ(ch.caption(), "8. Local File");
}

TEST_F(LocalChannelTest, UnreadableFilesFailWithTheirPath) {
    // Not an AVI file, an AVI file cut short inside its headers, and no file.
    auto garbage = dir_ / "garbage.avi";
    std::ofstream(garbage) << "RIFF this is not a recording";
    auto cut = dir_ / "cut.avi";
    {
        std::ifstream in(mpeg4_, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(cut, std::ios::binary).write(bytes.data(), 1000);
    }
    for (const auto& file : {garbage, cut, dir_ / "missing.avi"}) {
        SCOPED_TRACE(file);
        LocalChannel ch(options());
        ASSERT_TRUE(ch.start(file, true));
        ASSERT_TRUE(eventually([&] { return ch.finished(); }, 5s))
            << ch.frameCount() << " " << ch.currentFrame() << " " << ch.framesShown() << " "
            << ch.atEnd() << ch.paused() << ch.loading();
        std::string text;
        for (auto& n : drain())
            if (auto* m = std::get_if<client::MessageBoxNote>(&n)) {
                text = m->text;
                EXPECT_EQ(m->style,
                          (client::BoxStyle{client::BoxButtons::Ok, client::BoxIcon::Stop}));
            }
        EXPECT_EQ(text, "Failed to open file\n" + file.string());
    }
}

// A file cut in the middle plays the frames it holds and stops at the end of them.
TEST_F(LocalChannelTest, TruncatedFilePlaysWhatItHolds) {
    auto cut = dir_ / "half.avi";
    {
        std::ifstream in(mpeg4_, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(cut, std::ios::binary).write(bytes.data(), bytes.size() / 2);
    }
    client::FrameSlot& slot = *slots_.slot(0);
    LocalChannel ch(options());
    ch.attach(0);
    ch.setNoWait(true);
    ASSERT_TRUE(ch.start(cut, true));
    ASSERT_TRUE(eventually([&] { return ch.finished() || (ch.atEnd() && ch.paused()); }));
    EXPECT_FALSE(ch.finished());
    const int count = ch.frameCount();
    EXPECT_GT(count, 5);
    EXPECT_GE(ch.framesShown(), static_cast<uint64_t>(count));
    // The frame it holds on is the last one it could read, decoded like any other.
    EXPECT_EQ(ch.currentFrame(), static_cast<uint32_t>(count - 1));
    EXPECT_TRUE(samePicture(shown(slot), referenceFrame(cut, count - 1)));
    for (auto& n : drain()) EXPECT_FALSE(std::holds_alternative<client::MessageBoxNote>(n));
}

// Through the channel table: files take the lowest free positions, the shown ones draw into
// their panels' slots, and a destroyed player frees its position and panel.
TEST_F(LocalChannelTest, PlayersTakePositionsInTheChannelTable) {
    ScriptedUserPort port;
    playback::ChannelTable table(port, 16);
    table.showPage(0, 4);
    auto make = [&] { return std::make_unique<LocalPlayer>(table, options()); };
    auto a = make(), b = make();
    ASSERT_TRUE(a->start(mjpeg_, true));
    ASSERT_TRUE(eventually([&] { return a->channel().channelPosition() >= 0; }));
    ASSERT_TRUE(b->start(mpeg4_, true));
    ASSERT_TRUE(eventually([&] { return b->channel().channelPosition() >= 0; }));
    EXPECT_EQ(a->channel().channelPosition(), 0);
    EXPECT_EQ(b->channel().channelPosition(), 1);
    EXPECT_EQ(table.panelPlayer(1), b.get());
    EXPECT_EQ(b->channel().caption().find("2. Local File"), 0u);
    ASSERT_TRUE(eventually([&] { return slots_.slot(1)->published() > 0; }));
    a.reset();
    EXPECT_EQ(table.usedCount(), 1);
    EXPECT_EQ(table.panelPlayer(0), nullptr);
    auto c = make();
    ASSERT_TRUE(c->start(mjpeg_, true));
    ASSERT_TRUE(eventually([&] { return c->channel().channelPosition() >= 0; }));
    EXPECT_EQ(c->channel().channelPosition(), 0);  // the lowest free position again
}

// The control panel's view of a local channel, through the player interface only: commands,
// status, the paused picture and the no-pacing switch.
TEST_F(LocalChannelTest, ControlPanelDrivesThePlayer) {
    ScriptedUserPort port;
    playback::ChannelTable table(port, 16);
    table.showPage(0, 4);
    LocalPlayer player(table, options());
    playback::Player& p = player;
    playback::PausedPicture picture;
    EXPECT_FALSE(p.pausedPicture(picture));  // nothing shown yet
    ASSERT_TRUE(player.start(mpeg4_, true));
    ASSERT_TRUE(eventually([&] { return !player.channel().loading(); }));
    const int position = player.channel().channelPosition();
    ASSERT_GE(position, 0);

    ASSERT_TRUE(p.command(playback::PlayCommand::Pause));
    auto status = [&] { return *table.playerAt(position)->playStatus(); };
    EXPECT_TRUE(status().paused);
    EXPECT_TRUE(status().local);
    const uint32_t count = status().frameCount;
    ASSERT_GT(count, 20u);
    EXPECT_FALSE(p.goTo(count));  // past the end: ignored
    ASSERT_TRUE(p.goTo(10));
    ASSERT_TRUE(eventually([&] { return status().position == 10; }));
    const struct {
        playback::PlayCommand command;
        uint32_t position;
    } steps[] = {{playback::PlayCommand::StepForward, 11u},
                 {playback::PlayCommand::StepBack, 10u},
                 {playback::PlayCommand::First, 0u},
                 {playback::PlayCommand::Last, count - 1}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.position);
        ASSERT_TRUE(p.command(step.command));
        ASSERT_TRUE(eventually([&] { return status().position == step.position; }));
    }
    ASSERT_TRUE(eventually([&] { return status().atEnd; }));
    EXPECT_EQ(status().time.hour, player.channel().currentTime().hour);
    EXPECT_EQ(status().caption, player.channel().caption());
    ASSERT_TRUE(p.pausedPicture(picture));
    EXPECT_EQ(picture.width, 704);
    EXPECT_EQ(picture.height, 480);
    EXPECT_EQ(picture.bits.size(), size_t(704 * 480 * 3));

    // Speeds: the factor, or the divisor with the slow flag; the speed menu is not a local one.
    p.command(playback::PlayCommand::Slower);
    p.command(playback::PlayCommand::Slower);
    EXPECT_EQ(status().speed, 4);
    EXPECT_TRUE(status().slow);
    for (int i = 0; i < 3; ++i) p.command(playback::PlayCommand::Faster);
    EXPECT_EQ(status().speed, 2);
    EXPECT_FALSE(status().slow);
    EXPECT_FALSE(p.setSpeed(3));

    // Play at the end starts again; no pacing runs it to the end and it holds there again.
    const uint64_t before = player.channel().framesShown();
    ASSERT_TRUE(p.setNoPacing(true));
    ASSERT_TRUE(p.command(playback::PlayCommand::Play));
    EXPECT_FALSE(p.pausedPicture(picture));  // playing: no snapshot
    ASSERT_TRUE(eventually([&] {
        return status().atEnd && status().paused &&
               player.channel().framesShown() >= before + count / 2;  // every second frame
    }));
    EXPECT_EQ(status().position, count - 1);
}

TEST(LocalChannelSpeed, StepsBetweenOneEighthAndThirtyTwo) {
    // Each row: commands from normal speed ('+' faster, '-' slower), then fast and slow factors.
    struct {
        const char* steps;
        int fast, slow;
    } cases[] = {
        {"-", 1, 2},      {"--", 1, 4},      {"---", 1, 8},     {"----", 1, 8}, {"+", 2, 1},
        {"+++++", 32, 1}, {"++++++", 32, 1}, {"--+", 1, 2},     {"-+", 1, 1},   {"+-", 1, 1},
        {"++-", 2, 1},    {"---+++", 1, 1},  {"---++++", 2, 1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.steps);
        LastSpeed sink;
        LocalChannel::Options o;
        o.sink = &sink;
        LocalChannel ch(o);
        for (const char* s = c.steps; *s; ++s) *s == '+' ? ch.faster() : ch.slower();
        EXPECT_EQ(ch.fastFactor(), c.fast);
        EXPECT_EQ(ch.slowFactor(), c.slow);
        EXPECT_EQ(ch.speed(), c.fast > 1 ? c.fast : -c.slow);
        EXPECT_EQ(sink.speed.load(), ch.speed());
    }
}

TEST(LocalChannelPacing, WaitsFollowTheTimeStamps) {
    auto at = [](int h, int m, int s, int ms) {
        SystemTime t;
        t.hour = uint16_t(h), t.minute = uint16_t(m), t.second = uint16_t(s),
        t.milliseconds = uint16_t(ms);
        return t;
    };
    const SystemTime t0 = at(9, 5, 3, 7);
    struct {
        SystemTime next;
        uint32_t elapsed;
        uint8_t fast, slow;
        uint32_t wait;
    } cases[] = {
        {at(9, 5, 3, 47), 0, 1, 1, 40},   {at(9, 5, 3, 47), 15, 1, 1, 25},
        {at(9, 5, 3, 167), 0, 4, 1, 40},  {at(9, 5, 3, 47), 0, 1, 4, 160},
        {at(9, 5, 13, 7), 0, 1, 1, 3000}, {at(9, 5, 13, 7), 2000, 1, 1, 0},
        {at(9, 5, 3, 47), 2000, 1, 2, 2}, {at(9, 5, 3, 7), 0, 1, 8, 8},
        {at(9, 5, 2, 0), 0, 1, 1, 0},     {at(10, 0, 0, 0), 0, 32, 1, 93},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.next.second << "." << c.next.milliseconds << " "
                                        << c.elapsed << " x" << int(c.fast) << " /" << int(c.slow));
        EXPECT_EQ(localPacingWait(t0, c.next, c.elapsed, c.fast, c.slow), c.wait);
    }
}

TEST(LocalChannelCaption, FromTheCaptionSettings) {
    struct {
        CaptionParts parts;
        int position;
        const char* caption;
    } cases[] = {
        {{true, false, false}, 2, "3"},           {{true, true, true}, 2, "3. Local File"},
        {{false, true, false}, 2, " Local File"}, {{false, false, true}, 0, " Local File"},
        {{false, false, false}, 0, ""},
    };
    for (auto& c : cases) EXPECT_EQ(localCaption(c.parts, c.position), c.caption);
}

// Destroying a playing channel, or the exit event, ends its thread within a bound.
TEST_F(LocalChannelTest, ShutsDownPromptly) {
    {
        auto ch = std::make_unique<LocalChannel>(options());
        ch->attach(0);
        for (int i = 0; i < 3; ++i) ch->slower();  // long pacing waits
        ASSERT_TRUE(ch->start(mpeg4_, true));
        ASSERT_TRUE(eventually([&] { return ch->framesShown() > 1; }));
        const auto t = std::chrono::steady_clock::now();
        ch.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - t, 2s);
    }
    {
        LocalChannel ch(options());
        ASSERT_TRUE(ch.start(mpeg4_, true));
        ASSERT_TRUE(eventually([&] { return !ch.loading(); }));
        ch.setPaused(true);
        exit_.set();
        ASSERT_TRUE(eventually([&] { return ch.finished(); }, 2s));
        EXPECT_EQ(closed_.load(), -100);  // ending on exit is not a failure
        for (auto& n : drain()) EXPECT_FALSE(std::holds_alternative<client::MessageBoxNote>(n));
    }
}

}  // namespace
