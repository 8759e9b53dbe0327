// Streams against recorder-sim run in-process: a logged-in session, the frame count query and
// a play-only stream decoding the recorder's real frames into its panel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"
#include "recordings/download/ChannelTable.h"
#include "recordings/download/SessionBinding.h"
#include "recordings/download/Stream.h"
#include "sim/Generate.h"
#include "sim/Server.h"

namespace fs = std::filesystem;
using namespace fsv;
using namespace fsv::download;

namespace {

struct Pictures : FrameDisplay {
    std::mutex m;
    int count = 0, width = 0, height = 0;
    bool allBlack = true;
    void draw(int, int w, int h, std::span<const uint8_t> bits) override {
        std::lock_guard lock(m);
        ++count;
        width = w;
        height = h;
        for (uint8_t b : bits)
            if (b) allBlack = false;
    }
};

TEST(SimStream, JustPlayDecodesTheRecordersFrames) {
    const fs::path dir =
        fs::temp_directory_path() / ("fsv_simstream_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    sim::GenerateOptions gen;
    gen.cameras = 1;
    gen.days = 1;
    gen.eventsPerDay = 1;
    gen.audioChannels = 0;
    std::string error;
    ASSERT_TRUE(sim::generateRecordings(dir / "rec", gen, &error)) << error;
    fs::path recording;
    for (auto& e : fs::recursive_directory_iterator(dir / "rec"))
        if (e.path().extension() == ".avi") recording = e.path();
    ASSERT_FALSE(recording.empty());
    const std::string key = recording.parent_path().filename().string() + recording.stem().string();

    sim::ServerOptions options;
    options.port = 0;
    options.recordings = dir / "rec";
    sim::Server server(options);
    ASSERT_TRUE(server.start(&error)) << error;

    ScriptedUserPort user;
    net::ConnectionManager transport;
    net::HeadlessConnection connection(transport, user);
    ConnectRequest request;
    request.address = "127.0.0.1";
    request.port = server.port();
    ASSERT_TRUE(connection.open(request)) << connection.error();

    WorkList work;
    DownloadContext ctx(user, work);
    ChannelTable channels(user, 4);
    Pictures pictures;
    ctx.channels = &channels;
    ctx.display = &pictures;
    ManualClock clock;  // pacing passes at once
    ctx.clock = &clock;
    ctx.settings.frameCountWait = std::chrono::milliseconds(500);
    {
        SessionDownloads downloads(ctx, *connection.session());
        auto& session = downloads.downloads();
        const uint32_t frames = session.queryFrameCount(key + "001", 0);
        EXPECT_EQ(session.queryFrameCount("20000101000000001", 0), kDefaultFrameCount)
            << "no such recording: no answer";
        ASSERT_GT(frames, 1u);
        ASSERT_LT(frames, kDefaultFrameCount);

        WorkItem item;
        item.queue = QueueKind::Video;
        item.action = Action::JustPlay;
        item.channelCode = 1;
        item.eventKey = key;
        ASSERT_TRUE(session.enqueue(item));
        Stream* stream = nullptr;
        for (int i = 0; i < 10000; ++i) {
            stream = static_cast<Stream*>(channels.playerAt(0));
            if (stream && stream->play().holding()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(stream && stream->play().holding());
        EXPECT_EQ(stream->play().frameCount(), frames);
        std::lock_guard lock(pictures.m);
        EXPECT_EQ(pictures.count, static_cast<int>(frames));
        EXPECT_GT(pictures.width, 0);
        EXPECT_GT(pictures.height, 0);
        EXPECT_FALSE(pictures.allBlack);
        EXPECT_TRUE(user.boxes().empty()) << user.boxes()[0].text;
    }
    connection.close();
    server.stop();
    fs::remove_all(dir);
}

}  // namespace
