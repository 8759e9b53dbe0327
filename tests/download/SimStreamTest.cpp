// Streams against recorder-sim run in-process: a logged-in session, the frame count query, a
// play-only stream decoding the recorder's real frames into its panel, a download-and-play
// stream steered back and forth while its file fills, and streams cut off mid-way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "../playback/ReferenceFrame.h"
#include "client/FrameSlot.h"
#include "media/AviReader.h"
#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"
#include "recordings/download/SessionBinding.h"
#include "recordings/download/Stream.h"
#include "recordings/playback/ChannelTable.h"
#include "recordings/playback/StoppedStream.h"
#include "sim/Generate.h"
#include "sim/Server.h"
#include "tests/support/Eventually.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace fsv;
using namespace fsv::download;
using namespace fsv::playback;

using fsv::test::eventually;

namespace {

struct Pictures : playback::FrameSink {
    // Streams hand over bottom-up 24-bit pictures only.
    void show(int, std::shared_ptr<const media::DecodedPicture>) override {}
    std::mutex m;
    std::condition_variable cv;
    int count = 0, width = 0, height = 0;
    bool allBlack = true;
    std::vector<uint8_t> last;
    int holdAt = 0;  // the drawing that waits (on the stream's thread) for release()
    bool released = false;
    void draw(int, int w, int h, std::span<const uint8_t> bits) override {
        std::unique_lock lock(m);
        ++count;
        width = w;
        height = h;
        last.assign(bits.begin(), bits.end());
        for (uint8_t b : bits)
            if (b) allBlack = false;
        if (count == holdAt) cv.wait(lock, [&] { return released; });
    }
    // The control panel's notice: the latest position told, and how many were.
    int told = 0;
    uint32_t toldPosition = 0, toldCount = 0;
    void moved(int, uint32_t position, uint32_t frameCount, int) override {
        std::lock_guard lock(m);
        ++told;
        toldPosition = position;
        toldCount = frameCount;
    }
    int drawn() {
        std::lock_guard lock(m);
        return count;
    }
    void release() {
        {
            std::lock_guard lock(m);
            released = true;
        }
        cv.notify_all();
    }
    // The last picture as the panels hold it (BGRX, top-down).
    client::Picture picture() {
        std::lock_guard lock(m);
        client::FrameSlot slot;
        client::Picture out;
        if (slot.putBottomUp24(width, height, last))
            slot.takeNewest([&](const client::Picture& p) { out = p; });
        return out;
    }
};

// What the main panel would do with a stream's channel as the stream leaves it.
struct Successor : ChannelSuccessor {
    explicit Successor(ChannelTable& t) : table(t) {}
    ChannelTable& table;
    std::mutex m;
    int finishedPosition = -1, stoppedPosition = -1;
    std::string path, id;
    std::unique_ptr<Player> still;
    bool playFinishedFile(int position, const std::string& file, const std::string& login,
                          const std::string&) override {
        std::lock_guard lock(m);
        finishedPosition = position;
        path = file;
        id = login;
        return false;  // the channel goes back to the table
    }
    bool keepStopped(int position, std::unique_ptr<Player> p) override {
        std::lock_guard lock(m);
        stoppedPosition = position;
        still = std::move(p);
        table.put(position, ChannelKind::RemoteStream, still.get());
        return true;
    }
};

class SimStreams : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fsv::test::makeTempDir("fsv_simstream");
        ASSERT_FALSE(dir.empty());
        sim::GenerateOptions gen;
        gen.cameras = 2;  // the second one is MPEG-4: key frames 12 apart
        gen.days = 1;
        gen.eventsPerDay = 1;
        gen.audioChannels = 0;
        std::string error;
        ASSERT_TRUE(sim::generateRecordings(dir / "rec", gen, &error)) << error;
        recording = playback::test::firstAvi(dir / "rec" / "Cam02");
        ASSERT_FALSE(recording.empty());
        key = recording.parent_path().filename().string() + recording.stem().string();
        media::AviReader r;
        frames = r.open(recording);
        ASSERT_GT(frames, 24);
        ASSERT_FALSE(r.isKeyFrame(3) || r.isKeyFrame(frames - 4)) << "steps land between keys";
    }
    void start(int dropAfter = 0) {
        sim::ServerOptions options;
        options.port = 0;
        options.recordings = dir / "rec";
        options.dropStreamAfter = dropAfter;
        server = std::make_unique<sim::Server>(options);
        std::string error;
        ASSERT_TRUE(server->start(&error)) << error;
        connection = std::make_unique<net::HeadlessConnection>(transport, user);
        ConnectRequest request;
        request.address = "127.0.0.1";
        request.port = server->port();
        ASSERT_TRUE(connection->open(request)) << connection->error();
        ctx.channels = &channels;
        ctx.display = &pictures;
        ctx.successor = &successor;
        ctx.clock = &clock;  // pacing passes at once
        ctx.settings.frameCountWait = std::chrono::milliseconds(500);
        downloads = std::make_unique<SessionDownloads>(ctx, *connection->session());
    }
    void TearDown() override {
        downloads.reset();
        if (connection) connection->close();
        if (server) server->stop();
        fs::remove_all(dir);
    }
    WorkItem item(Action action) {
        WorkItem w;
        w.queue = QueueKind::Video;
        w.action = action;
        w.channelCode = 2;
        w.eventKey = key;
        w.size = fs::file_size(recording);
        if (action != Action::JustPlay)
            w.outputPath = (dir / "out" / "Cam02" / "take.avi").string();
        return w;
    }
    std::optional<PlayStatus> status(int position = 0) {
        std::optional<PlayStatus> s;
        channels.withPlayer(position, [&](Player& p) { s = p.playStatus(); });
        return s;
    }
    void command(PlayCommand c) {
        channels.withPlayer(0, [&](Player& p) { EXPECT_TRUE(p.command(c)); });
    }

    // Starts `w`, pauses it at its fifth picture, then steps back and forth and seeks ahead and
    // back: each time the picture shown is the frame asked for, decoded whole.
    void stepAround(const WorkItem& w) {
        pictures.holdAt = 5;
        ASSERT_TRUE(downloads->downloads().enqueue(w));
        // Paused while the fifth picture is on its way.
        ASSERT_TRUE(eventually([&] { return pictures.drawn() == 5; }));
        auto pausedPicture = [&] {
            PausedPicture out;
            channels.withPlayer(0, [&](Player& p) { p.pausedPicture(out); });
            return out;
        };
        EXPECT_TRUE(pausedPicture().bits.empty()) << "only a paused stream hands its picture out";
        command(PlayCommand::Pause);
        pictures.release();

        auto shows = [&](uint32_t position) {
            return eventually([&] {
                auto s = status();
                return s && s->paused && s->position == position;
            });
        };
        auto picture = [&](int n) {
            auto expected = playback::test::referenceFrame(recording, n);
            auto shown = pictures.picture();
            return !expected.bits.empty() && shown.bits == expected.bits;
        };
        ASSERT_TRUE(shows(4));
        EXPECT_TRUE(picture(4));
        const uint32_t last = static_cast<uint32_t>(frames - 1);
        struct Step {
            std::function<void()> act;
            uint32_t shown;
        } steps[] = {
            {[&] { command(PlayCommand::StepBack); }, 3},  // decoded from frame 0 on
            {[&] { command(PlayCommand::StepForward); }, 4},
            {[&] { channels.withPlayer(0, [&](Player& p) { EXPECT_TRUE(p.goTo(last - 2)); }); },
             last - 2},  // download and play: the frames between go into the file first
            {[&] { command(PlayCommand::StepBack); }, last - 3},
            {[&] { command(PlayCommand::First); }, 0},
        };
        for (auto& step : steps) {
            step.act();
            ASSERT_TRUE(shows(step.shown)) << step.shown;
            EXPECT_TRUE(picture(static_cast<int>(step.shown))) << step.shown;
            // The control panel heard of it, and a snapshot takes the picture on show.
            ASSERT_TRUE(eventually([&] {
                std::lock_guard lock(pictures.m);
                return pictures.toldPosition == step.shown;
            })) << step.shown;
            const PausedPicture still = pausedPicture();
            std::lock_guard lock(pictures.m);
            EXPECT_EQ(pictures.toldCount, static_cast<uint32_t>(frames));
            EXPECT_EQ(still.width, pictures.width);
            EXPECT_EQ(still.height, pictures.height);
            EXPECT_TRUE(still.bits == pictures.last) << step.shown;
        }
        channels.withPlayer(0, [&](Player& p) { EXPECT_FALSE(p.goTo(last + 1)); });
        // Holding one-frame-forward turns pacing off; letting go gives the settings' choice back.
        channels.withPlayer(0, [&](Player& p) {
            auto& play = static_cast<Stream&>(p).play();
            EXPECT_TRUE(p.setNoPacing(true));
            EXPECT_TRUE(play.noPacing());
            EXPECT_TRUE(p.setNoPacing(false));
            EXPECT_EQ(play.noPacing(), w.mode() == 10 && !ctx.settings.pacing);
        });
    }

    fs::path dir, recording;
    std::string key;
    int frames = 0;
    ScriptedUserPort user;
    net::ConnectionManager transport;
    std::unique_ptr<sim::Server> server;
    std::unique_ptr<net::HeadlessConnection> connection;
    WorkList work;
    DownloadContext ctx{user, work};
    ChannelTable channels{user, 4};
    Pictures pictures;
    Successor successor{channels};
    ManualClock clock;
    std::unique_ptr<SessionDownloads> downloads;
};

TEST_F(SimStreams, JustPlayDecodesTheRecordersFrames) {
    start();
    auto& session = downloads->downloads();
    const uint32_t count = session.queryFrameCount(key + "002", 0);
    EXPECT_EQ(session.queryFrameCount("20000101000000001", 0), kDefaultFrameCount)
        << "no such recording: no answer";
    EXPECT_EQ(count, static_cast<uint32_t>(frames));

    ASSERT_TRUE(session.enqueue(item(Action::JustPlay)));
    Stream* stream = nullptr;
    ASSERT_TRUE(eventually([&] {
        stream = static_cast<Stream*>(channels.playerAt(0));
        return stream && stream->play().holding();
    }));
    EXPECT_EQ(stream->play().frameCount(), count);
    std::lock_guard lock(pictures.m);
    EXPECT_EQ(pictures.count, frames);
    EXPECT_GT(pictures.width, 0);
    EXPECT_GT(pictures.height, 0);
    EXPECT_FALSE(pictures.allBlack);
    EXPECT_TRUE(user.boxes().empty()) << user.boxes()[0].text;
}

// Steps back and seeks ahead while the recording arrives: each shown picture is the frame
// asked for, decoded whole, and the file still gets every frame once, in order.
TEST_F(SimStreams, DownloadAndPlayStepsAndSeeksWhileTheFileGetsEveryFrameOnce) {
    ctx.settings.tellWhenFinished = false;
    start();
    const WorkItem w = item(Action::DownloadAndPlay);
    stepAround(w);
    if (HasFatalFailure()) return;
    command(PlayCommand::Play);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(successor.m);
        return successor.finishedPosition == 0;
    })) << "the finished download is handed on with its channel";
    EXPECT_EQ(successor.path, w.outputPath);
    EXPECT_EQ(successor.id, "Guest");
    EXPECT_TRUE(user.boxes().empty()) << user.boxes()[0].text;

    media::AviReader original, copy;
    ASSERT_EQ(original.open(recording), frames);
    ASSERT_EQ(copy.open(w.outputPath), frames);
    for (int i = 0; i < frames; ++i) {
        char a[64] = {}, b[64] = {};
        EXPECT_EQ(copy.videoSample(i), original.videoSample(i)) << i;
        EXPECT_EQ(copy.isKeyFrame(i), original.isKeyFrame(i)) << i;
        original.readTextSample(i, a, sizeof a);
        copy.readTextSample(i, b, sizeof b);
        EXPECT_STREQ(a, b) << i;
    }
    std::string out;
    if (std::FILE* p = ::popen(("ffprobe -v error -select_streams v:0 -count_packets "
                                "-show_entries stream=nb_read_packets -of csv=p=0 '" +
                                w.outputPath + "' 2>&1")
                                   .c_str(),
                               "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        EXPECT_EQ(::pclose(p), 0) << out;
    }
    EXPECT_EQ(out, std::to_string(frames) + "\n");
}

TEST_F(SimStreams, JustPlayStepsAndSeeksShowWholePictures) {
    start();
    stepAround(item(Action::JustPlay));
    if (HasFatalFailure()) return;
    command(PlayCommand::Play);
    ASSERT_TRUE(eventually([&] {
        auto s = status();
        return s && s->atEnd && s->position == static_cast<uint32_t>(frames - 1);
    }));
    EXPECT_TRUE(user.boxes().empty()) << user.boxes()[0].text;
}

// A seek far beyond the key frames a play-only stream has seen lands between key frames: the
// panel keeps the last whole picture until a key frame makes the picture whole again.
TEST_F(SimStreams, JustPlaySeekFarAheadKeepsTheLastWholePicture) {
    // A recording long enough that the seek goes past the lead-in of the frames seen.
    fs::remove_all(dir / "rec");
    sim::GenerateOptions gen;
    gen.cameras = 2;
    gen.days = 1;
    gen.eventsPerDay = 1;
    gen.audioChannels = 0;
    gen.secondsPerEvent = 14;
    std::string error;
    ASSERT_TRUE(sim::generateRecordings(dir / "rec", gen, &error)) << error;
    recording = playback::test::firstAvi(dir / "rec" / "Cam02");
    key = recording.parent_path().filename().string() + recording.stem().string();
    media::AviReader r;
    frames = r.open(recording);
    const uint32_t between = 100, nextKey = static_cast<uint32_t>(r.keyFrameAtOrBefore(111));
    ASSERT_GT(frames, 112);
    ASSERT_FALSE(r.isKeyFrame(between));
    ASSERT_GT(nextKey, between);
    start();

    pictures.holdAt = 5;
    ASSERT_TRUE(downloads->downloads().enqueue(item(Action::JustPlay)));
    ASSERT_TRUE(eventually([&] { return pictures.drawn() == 5; }));
    command(PlayCommand::Pause);
    pictures.release();
    auto shows = [&](uint32_t position) {
        return eventually([&] {
            auto s = status();
            return s && s->paused && s->position == position;
        });
    };
    auto picture = [&](int n) {
        auto expected = playback::test::referenceFrame(recording, n);
        return !expected.bits.empty() && pictures.picture().bits == expected.bits;
    };
    ASSERT_TRUE(shows(4));
    ASSERT_TRUE(picture(4));
    struct {
        uint32_t to;
        int picture;  // the frame whose picture the panel shows
    } seeks[] = {
        {between, 4},                          // no key frame seen near it
        {between + 2, 4},                      // decoded on from there: still not
        {nextKey, static_cast<int>(nextKey)},  // whole again
        {nextKey + 1, static_cast<int>(nextKey + 1)},
    };
    for (auto& s : seeks) {
        channels.withPlayer(0, [&](Player& p) { EXPECT_TRUE(p.goTo(s.to)); });
        ASSERT_TRUE(shows(s.to)) << s.to;
        EXPECT_TRUE(picture(s.picture)) << s.to;
    }
    EXPECT_TRUE(user.boxes().empty()) << user.boxes()[0].text;
}

// A recorder that goes away mid-way leaves the channel paused on the last picture shown.
TEST_F(SimStreams, StreamCutOffMidwayLeavesItsLastPicturePaused) {
    for (Action action : {Action::JustPlay, Action::DownloadAndPlay}) {
        SCOPED_TRACE(static_cast<int>(action));
        if (action != Action::JustPlay) {
            TearDown();
            SetUp();
        }
        successor.stoppedPosition = -1;
        successor.still.reset();
        start(6);
        ASSERT_TRUE(downloads->downloads().enqueue(item(action)));
        ASSERT_TRUE(eventually([&] {
            auto st = status();
            return st && st->position == 5;
        }));
        downloads.reset();  // the link is gone: the session's queues end with it
        std::lock_guard lock(successor.m);
        ASSERT_EQ(successor.stoppedPosition, 0);
        auto s = successor.still->playStatus();
        ASSERT_TRUE(s);
        EXPECT_TRUE(s->paused);
        EXPECT_EQ(s->position, 5u);
        EXPECT_EQ(s->frameCount, static_cast<uint32_t>(frames));
        EXPECT_FALSE(s->local);
        EXPECT_FALSE(s->serverName.empty());
        EXPECT_FALSE(s->cameraName.empty());
        EXPECT_EQ(channels.usedCount(), 1) << "the channel stays taken";
        EXPECT_EQ(static_cast<StoppedStream*>(successor.still.get())->eventKey(), key);
        // Drawn again into the panel it is shown in.
        const int before = pictures.drawn();
        successor.still->attachPanel(2);
        EXPECT_EQ(pictures.drawn(), before + 1);
        EXPECT_TRUE(pictures.picture().bits == playback::test::referenceFrame(recording, 5).bits);
        // A snapshot of the channel takes that picture.
        PausedPicture still;
        EXPECT_TRUE(successor.still->pausedPicture(still));
        EXPECT_TRUE(still.bits == pictures.last);
        channels.giveBack(0);
    }
}

}  // namespace
