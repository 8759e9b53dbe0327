// The channels without windows: local files opened and closed, and what streams leave on their
// channels taken over, against generated recordings.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "ReferenceFrame.h"
#include "client/Channels.h"
#include "platform/ScriptedUserPort.h"
#include "recordings/playback/StoppedStream.h"
#include "sim/Generate.h"
#include "tests/support/Eventually.h"

using namespace fsv;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

using fsv::test::eventually;

namespace {

class ChannelsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::path(FSV_BINARY_DIR) / ("test-channels-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        sim::GenerateOptions o;
        o.cameras = 3;
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 2;
        o.audioChannels = 0;
        std::string error;
        ASSERT_TRUE(sim::generateRecordings(dir_, o, &error)) << error;
        for (int c = 0; c < 3; ++c)
            files_[c] = playback::test::firstAvi(dir_ / ("Cam0" + std::to_string(c + 1)));
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The owner's thread is the test's: calls posted from other threads wait until run().
    std::unique_ptr<client::Channels> make(int maxChannels) {
        client::Channels::Options o;
        o.maxChannels = maxChannels;
        o.exitEvent = &exit_;
        o.post = [this](std::function<void()> call) {
            std::lock_guard lock(postedLock_);
            posted_.push_back(std::move(call));
        };
        auto channels = std::make_unique<client::Channels>(o, user_, queue_);
        channels->showPage(0, 4);
        return channels;
    }
    void runPosted() {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(postedLock_);
            calls.swap(posted_);
        }
        for (auto& call : calls) call();
    }
    // The channel at `position` has opened and is shown in its panel.
    bool showing(client::Channels& channels, int position) {
        return eventually([&] {
            return channels.channelStatus(position).has_value() &&
                   channels.frameSlots().slot(position)->published() > 0;
        });
    }

    static inline fs::path dir_;
    static inline fs::path files_[3];
    ScriptedUserPort user_;
    client::NotificationQueue queue_;
    fsv::platform::Event exit_{fsv::platform::Event::Reset::Manual, false};
    std::mutex postedLock_;
    std::deque<std::function<void()>> posted_;
};

// Files take the lowest free positions up to the limit; a closed one frees its position, its
// panel and its file; a file that cannot be opened says so and gives back the position kept.
TEST_F(ChannelsTest, LocalFilesOpenCloseAndFreeTheirPositions) {
    auto channels = make(2);
    using Open = client::Channels::OpenResult;
    ASSERT_EQ(channels->openLocalFile(files_[0]), Open::Opened);
    EXPECT_EQ(channels->openLocalFile(files_[0]), Open::AlreadyPlaying);
    ASSERT_EQ(channels->openLocalFile(files_[1]), Open::Opened);
    EXPECT_EQ(channels->openLocalFile(files_[2]), Open::OverMaximum);
    ASSERT_TRUE(showing(*channels, 0));
    ASSERT_TRUE(showing(*channels, 1));
    EXPECT_EQ(channels->channelFiles(), (std::vector<fs::path>{files_[0], files_[1]}));
    EXPECT_EQ(channels->panelCaption(1).value_or("").find("2. Local File"), 0u);

    ASSERT_TRUE(channels->closeChannel(0));
    EXPECT_FALSE(channels->hasChannel(0));
    EXPECT_FALSE(channels->isPlaying(files_[0]));
    EXPECT_EQ(channels->table().usedCount(), 1);
    EXPECT_EQ(channels->panelCaption(0), std::nullopt);
    EXPECT_FALSE(channels->closeChannel(0));  // nothing left there

    ASSERT_EQ(channels->openLocalFile(files_[2]), Open::Opened);
    ASSERT_TRUE(showing(*channels, 0));  // the lowest free position again
    EXPECT_EQ(channels->channelFiles().at(0), files_[2]);

    ASSERT_TRUE(channels->closeChannel(0));
    const fs::path missing = dir_ / "missing.avi";
    ASSERT_EQ(channels->openLocalFile(missing), Open::Opened);
    EXPECT_EQ(channels->table().usedCount(), 2);  // its position is kept while it opens
    ASSERT_TRUE(eventually([&] {
        channels->dropFailedFiles();
        return channels->table().usedCount() == 1;
    }));
    EXPECT_FALSE(channels->hasChannel(0));
    ASSERT_FALSE(user_.boxes().empty());
    EXPECT_EQ(user_.boxes().back().text, "Failed to open file\n" + missing.string());
}

// A download watched while it arrived goes on as a local file on the stream's position, paused
// on its last frame; a stream that stopped early leaves its still there until it is closed.
// Once the program exits, nothing is taken over.
TEST_F(ChannelsTest, WhatStreamsLeaveIsTakenOver) {
    // Streams hold positions 0 to 3, each shown in its panel.
    struct Streamed : playback::Player {
        void attachPanel(int) override {}
    } streams[4];
    auto channels = make(16);
    for (auto& s : streams) channels->table().take(playback::ChannelKind::RemoteStream, &s);
    bool finished = false, stopped = false;
    std::thread queueWorker([&] {
        finished = channels->successor().playFinishedFile(3, files_[1].string(), "Guest", "pw");
        std::vector<uint8_t> bits(4 * 2 * 3, 0x80);
        playback::PlayStatus last;
        last.position = 7;
        stopped = channels->successor().keepStopped(
            1, std::make_unique<playback::StoppedStream>(&channels->display(), last, "dvr", "cam02",
                                                         "20261201080000", 4, 2, bits));
    });
    queueWorker.join();
    ASSERT_TRUE(finished);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(channels->table().kindAt(3), playback::ChannelKind::LocalFile);
    EXPECT_EQ(channels->table().kindAt(1), playback::ChannelKind::RemoteStream);

    runPosted();  // the owner adopts the finished download's player
    EXPECT_TRUE(channels->isPlaying(files_[1]));
    EXPECT_EQ(channels->channelFiles().at(3), files_[1]);
    ASSERT_TRUE(eventually([&] {
        auto s = channels->channelStatus(3);
        return s && s->paused && s->frameCount > 0 && s->position == s->frameCount - 1;
    }));
    EXPECT_EQ(channels->clipSource(3)->credential, "Guest:pw");
    EXPECT_EQ(channels->streamSource(1)->eventKey, "20261201080000");
    EXPECT_EQ(channels->channelStatus(1)->position, 7u);
    EXPECT_TRUE(channels->pausedPicture(1).has_value());
    EXPECT_EQ(channels->frameSlots().slot(1)->published(), 1u);  // the still in its panel

    ASSERT_TRUE(channels->closeChannel(1));
    ASSERT_TRUE(channels->closeChannel(3));
    EXPECT_EQ(channels->table().usedCount(), 2);  // the streams still at 0 and 2
    EXPECT_FALSE(channels->isPlaying(files_[1]));

    exit_.set();
    EXPECT_FALSE(channels->successor().playFinishedFile(2, files_[0].string(), "", ""));
    EXPECT_EQ(channels->table().playerAt(2), &streams[2]);
}

}  // namespace
