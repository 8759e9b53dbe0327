#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

#include "FakeRecorderLink.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Sha256.h"
#include "recordings/download/RateLimit.h"
#include "recordings/download/Stream.h"
#include "recordings/download/Work.h"
#include "recordings/playback/ChannelTable.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace fsv;
using namespace fsv::download;
using namespace fsv::playback;
using fsv::download::test::FakeRecorderLink;
using fsv::download::test::FakeRecording;

namespace {

struct Reports : EndReporter {
    std::mutex m;
    std::vector<std::pair<std::string, EndReport>> seen;
    void report(const WorkItem& item, bool, EndReport r) override {
        std::lock_guard lock(m);
        seen.emplace_back(item.eventKey, r);
    }
    std::vector<std::pair<std::string, EndReport>> all() {
        std::lock_guard lock(m);
        return seen;
    }
};

// A recorder's AVI file of about n bytes: RIFF, a list of varied bytes, and the index last.
std::vector<uint8_t> pattern(size_t n) {
    fsv::platform::ByteWriter w;
    const size_t list = n > 44 ? n - 44 : 2;
    w.bytes("RIFF", 4).u32(0).bytes("AVI ", 4).bytes("LIST", 4).u32(static_cast<uint32_t>(list));
    for (size_t i = 0; i < list; ++i) w.u8(static_cast<uint8_t>(i * 7 + i / 251));
    w.bytes("idx1", 4).u32(16).zeros(16);
    w.patchU32(4, static_cast<uint32_t>(w.size() - 8));
    return w.take();
}

size_t threadsOfThisProcess() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/task")) ++n;
    return n;
}

std::string sha256Of(const std::vector<uint8_t>& bytes) {
    fsv::platform::Sha256 h;
    h.update(bytes.data(), bytes.size());
    return h.hex();
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Streams : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fsv::test::makeTempDir("fsv_streams");
        ASSERT_FALSE(dir.empty());
        ctx.reporter = &reports;
        ctx.clock = &clock;
        ctx.freeSpace = [](const fs::path&) { return std::optional<uint64_t>(1ull << 40); };
        ctx.settings.frameCountWait = std::chrono::milliseconds(200);
    }
    void TearDown() override {
        closeSession();
        fs::remove_all(dir);
    }
    void openSession() {
        link = std::make_unique<FakeRecorderLink>();
        link->recordings = recordings;
        session = std::make_unique<DownloadSession>(ctx, *link);
        link->attach(session.get());
        session->addCamera(1, "Cam A");
        session->addCamera(2, "Cam B");
    }
    void closeSession() {
        if (session) session->shutDown();
        if (link) link->detach();
        session.reset();
        link.reset();
    }
    WorkItem fileItem(const std::string& key, bool append = false) {
        WorkItem item;
        item.queue = QueueKind::File;
        item.action = Action::JustDownload;
        item.channelCode = 1;
        item.eventKey = key;
        item.size = recordings[key + "001"].bytes.size();
        item.append = append;
        item.outputPath = makeOutputPath({dir.string(), QueueKind::File, 1, item.date(),
                                          item.time(), 0, kWholeRecordingLastFrame});
        return item;
    }
    bool waitIdle(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (session->idle()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    fs::path dir;
    ScriptedUserPort port;
    WorkList work;
    Reports reports;
    ManualClock clock;
    DownloadContext ctx{port, work};
    std::map<std::string, FakeRecording> recordings;
    std::unique_ptr<FakeRecorderLink> link;
    std::unique_ptr<DownloadSession> session;
};

TEST_F(Streams, FileDownloadWritesTheRecordersBytes) {
    recordings["20070101080509001"].bytes = pattern(10500);
    ctx.settings.tellWhenFinished = true;
    ctx.settings.hashFiles = true;
    openSession();
    WorkItem item = fileItem("20070101080509");
    ASSERT_TRUE(session->enqueue(item));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(readAll(item.outputPath), recordings["20070101080509001"].bytes);
    auto rows = work.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].state, RowState::Finished);
    EXPECT_EQ(rows[0].received, recordings["20070101080509001"].bytes.size());
    EXPECT_EQ(rows[0].sha256, sha256Of(recordings["20070101080509001"].bytes));
    EXPECT_EQ(reports.all().back().second, EndReport::Finished);
    EXPECT_TRUE(port.saw("Recorder - Cam A: 08:05:09 finish download."));
}

TEST_F(Streams, FileBlockIsOnDiskWhenItsDeliveryReturns) {
    // Nothing is buffered between the session and the file: a slow disk holds the session back.
    recordings["20070101080509001"].bytes = pattern(10500);
    openSession();
    WorkItem item = fileItem("20070101080509");
    std::vector<std::pair<uint64_t, uint64_t>> seen;  // expected and actual size, per block
    link->afterBlock = [&](size_t blocks) {
        std::error_code ec;
        seen.emplace_back(std::min<uint64_t>(blocks * link->blockSize, 10500),
                          fs::file_size(item.outputPath, ec));
    };
    ASSERT_TRUE(session->enqueue(item));
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(seen.size(), 11u);
    for (auto& [expected, actual] : seen) EXPECT_EQ(actual, expected);
    EXPECT_EQ(readAll(item.outputPath), recordings["20070101080509001"].bytes);
}

TEST_F(Streams, FailedFileWriteStopsTheStream) {
    recordings["20070101080509001"].bytes = pattern(5000);
    ctx.settings.alwaysOverwrite = true;
    openSession();
    WorkItem item = fileItem("20070101080509");
    item.outputPath = "/dev/full";  // every write fails: no space left
    ASSERT_TRUE(session->enqueue(item));
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(port.saw("Write file fail!\n/dev/full"));
    EXPECT_EQ(work.rows()[0].state, RowState::Stopped);
    EXPECT_EQ(work.rows()[0].received, 0u);
    EXPECT_EQ(reports.all().back().second, EndReport::Stopped);
}

TEST_F(Streams, DroppedFileDownloadResumesAtItsByteOffset) {
    recordings["20070101080509001"].bytes = pattern(25000);
    ctx.settings.hashFiles = true;
    openSession();
    link->dropAfterBlocks = 7;
    WorkItem item = fileItem("20070101080509");
    session->enqueue(item);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(work.rows()[0].state, RowState::Stopped);
    EXPECT_EQ(reports.all().back().second, EndReport::Stopped);
    EXPECT_EQ(fs::file_size(item.outputPath), 7000u);
    closeSession();

    // The next run takes the item up again from the resume file: no question is asked.
    openSession();
    session->enqueue(fileItem("20070101080509", true));
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(port.existingFileQuestions().empty());
    EXPECT_EQ(readAll(item.outputPath), recordings["20070101080509001"].bytes);
    auto sent = link->sent();
    auto open = net::parseStreamRequest(sent.at(0));
    ASSERT_TRUE(open);
    EXPECT_EQ(open->open.append, 1);
    EXPECT_EQ(open->open.resumeOffset, 7000u);
    EXPECT_EQ(work.rows().back().state, RowState::Finished);
    // The hash covers the whole file: the part kept from the first run and the rest.
    EXPECT_TRUE(work.rows().front().sha256.empty());  // stopped: no hash
    EXPECT_EQ(work.rows().back().sha256, sha256Of(recordings["20070101080509001"].bytes));
}

TEST_F(Streams, RateLimitedFileStopsAtOnceAndLeavesNoGap) {
    // 1,000 bytes a second in blocks of 4,000: each block waits four seconds for its turn. The
    // stop comes while the second one waits, and does not wait for it.
    recordings["20070101080509001"].bytes = pattern(20000);
    ctx.rateLimit = std::make_shared<RateLimit>(1000);
    openSession();
    link->blockSize = 4000;
    fsv::platform::Event firstBlock{fsv::platform::Event::Reset::Manual};
    link->afterBlock = [&](size_t) { firstBlock.set(); };
    WorkItem item = fileItem("20070101080509");
    ASSERT_TRUE(session->enqueue(item));
    ASSERT_EQ(fsv::platform::waitAny({&firstBlock}, std::chrono::seconds(20)), 0);
    const auto before = std::chrono::steady_clock::now();
    session->shutDown();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    closeSession();
    EXPECT_EQ(work.rows()[0].state, RowState::Stopped);
    // What reached the file is the recording's beginning, block by whole block.
    const auto kept = readAll(item.outputPath);
    const auto& whole = recordings["20070101080509001"].bytes;
    EXPECT_GE(kept.size(), 4000u);
    EXPECT_LT(kept.size(), whole.size());
    EXPECT_EQ(kept.size() % 4000, 0u);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), whole.begin()));
}

TEST_F(Streams, RecorderThatCannotOpenIsReported) {
    recordings["20070101080509001"] = {pattern(10), 0, 1};
    openSession();
    session->enqueue(fileItem("20070101080509"));
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(port.saw("Failed to open file\nRecorder - Cam A: 08:05:09"));
    EXPECT_EQ(reports.all().back().second, EndReport::CannotOpen);
    EXPECT_EQ(work.rows()[0].state, RowState::Stopped);
}

TEST_F(Streams, AbortedFileAsksNothingOfTheRecorder) {
    recordings["20070101080509001"].bytes = pattern(100);
    openSession();
    WorkItem item = fileItem("20070101080509");
    createFolders(item.outputPath);
    std::ofstream(item.outputPath) << "old";
    port.existingFileAnswer = ExistingFileAnswer::Abort;
    session->enqueue(item);
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(link->sent().empty());
    EXPECT_EQ(readAll(item.outputPath).size(), 3u);
    EXPECT_EQ(work.rows()[0].state, RowState::Stopped);
}

// Pictures are the frame's data bytes; the display records what reached which panel.
struct EchoDecoder : PlayDecoder {
    std::vector<uint8_t> last;
    bool prepare(std::span<const uint8_t> header, const std::string&, const std::string&) override {
        return header.size() == 280;
    }
    bool decode(std::span<const uint8_t> data, bool) override {
        last.assign(data.begin(), data.end());
        return true;
    }
    bool picture(int* w, int* h, std::vector<uint8_t>* bits) override {
        *w = 1;
        *h = 1;
        *bits = last;
        return true;
    }
};
struct Drawn : playback::FrameSink {
    // Streams hand over bottom-up 24-bit pictures only.
    void show(int, std::shared_ptr<const media::DecodedPicture>) override {}
    std::mutex m;
    std::vector<std::pair<int, int>> frames;  // panel, second data byte
    void draw(int panel, int, int, std::span<const uint8_t> bits) override {
        std::lock_guard lock(m);
        frames.emplace_back(panel, bits.size() > 1 ? bits[1] : -1);
    }
};

TEST_F(Streams, JustPlayPullsFramesInOrderAndHoldsAtTheEnd) {
    recordings["20070101080509002"].frames = 5;
    ChannelTable channels(port, 1);
    ctx.channels = &channels;
    Drawn drawn;
    ctx.display = &drawn;
    ctx.makeDecoder = [] { return std::make_unique<EchoDecoder>(); };
    openSession();
    WorkItem item;
    item.queue = QueueKind::Video;
    item.action = Action::JustPlay;
    item.channelCode = 2;
    item.eventKey = "20070101080509";
    item.dateId = 3;
    session->enqueue(item);
    StreamQueue* q = session->videoQueue(2);
    Stream* stream = nullptr;
    for (int i = 0; i < 5000 && !stream; ++i) {
        if (auto* p = channels.playerAt(0)) stream = static_cast<Stream*>(p);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(stream);
    for (int i = 0; i < 5000 && !stream->play().holding(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(stream->play().holding());
    EXPECT_EQ(stream->play().position(), 4u);

    auto sent = link->sent();
    auto open = net::parseStreamRequest(sent.at(0));
    ASSERT_TRUE(open);
    EXPECT_EQ(open->op, net::stream::kOpenWithId);
    EXPECT_EQ(open->open.mode, net::stream::kModePlay);
    EXPECT_EQ(open->open.dateId, 3u);
    std::vector<uint32_t> asked;
    for (size_t i = 1; i < sent.size(); ++i)
        if (auto r = net::parseStreamRequest(sent[i]); r && r->op == net::stream::kPosition)
            asked.push_back(r->frame);
    EXPECT_EQ(asked, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    // Frames 40 ms apart were paced by their times.
    auto waits = clock.waits();
    ASSERT_GE(waits.size(), 4u);
    EXPECT_EQ(waits[0], 40u);
    EXPECT_TRUE(work.rows().empty()) << "\"Just Play\" has no row";
    {
        std::lock_guard lock(drawn.m);
        EXPECT_EQ(drawn.frames,
                  (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}}));
    }

    // A second camera finds no free channel.
    item.channelCode = 1;
    session->enqueue(item);
    for (int i = 0; i < 5000 && port.boxes().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_FALSE(port.boxes().empty());
    EXPECT_EQ(port.boxes()[0].text,
              "Over the maximum channel number!\nRecorder - Cam A: 08:05:09 _TEXTCANNOTPLAY");
    EXPECT_TRUE(q->hasCurrentStream());
    closeSession();
    EXPECT_EQ(channels.usedCount(), 0) << "the channel went back when the queue ended";
}

TEST_F(Streams, FrameCountQueryTakesOnlyItsOwnReply) {
    recordings["20070101080509001"].frames = 1234;
    openSession();
    EXPECT_EQ(session->queryFrameCount("20070101080509001", 0), 1234u);
    link->answerFrameCount = false;
    EXPECT_EQ(session->queryFrameCount("20070101080509001", 0), kDefaultFrameCount);
    EXPECT_EQ(session->queryFrameCount(std::string(19, '1'), 0), kDefaultFrameCount)
        << "a key that does not fit is not sent";
}

TEST_F(Streams, RepliesForUnknownCookiesAreDropped) {
    openSession();
    const uint8_t body[] = {0, 0};
    session->onStreamData(net::encodeStreamReply(net::stream::kStatus, 77, body));
    session->onStreamData(net::encodeStreamReply(net::stream::kStatus, 0, body));
    const uint8_t shortMessage[] = {8, 'R', 1};
    session->onStreamData(shortMessage);
    EXPECT_TRUE(session->idle());
    CookieJar jar;
    uint32_t a = jar.take(nullptr), b = jar.take(nullptr);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
}

// A recorder may list tens of thousands of cameras. Their queues cost no thread until work
// comes, and work on many cameras runs through a few threads and a few streams at a time.
TEST_F(Streams, ManyCamerasCostThreadsOnlyForWorkAndThenAFew) {
    openSession();
    const size_t before = threadsOfThisProcess();
    for (uint16_t code = 3; code < 5003; ++code) session->addCamera(code, "Cam");
    EXPECT_EQ(threadsOfThisProcess(), before) << "a thread per listed camera";

    // Play-only work on 40 cameras, none shown (as in fsv): the streams hold at their ends, so
    // those that started stay, and the others wait their turn.
    ctx.makeDecoder = [] { return std::make_unique<EchoDecoder>(); };
    WorkItem item;
    item.queue = QueueKind::Video;
    item.action = Action::JustPlay;
    item.eventKey = "20070101080509";
    for (uint16_t code = 100; code < 140; ++code)
        link->recordings[item.eventKey + std::to_string(code)].frames = 2;
    for (uint16_t code = 100; code < 140; ++code) {
        item.channelCode = code;
        ASSERT_TRUE(session->enqueue(item));
    }
    auto running = [&] {
        size_t n = 0;
        for (uint16_t code = 100; code < 140; ++code)
            n += session->videoQueue(code)->hasCurrentStream() ? 1 : 0;
        return n;
    };
    for (int i = 0; i < 5000 && running() < DownloadSession::kCameraStreamsAtOnce; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(running(), DownloadSession::kCameraStreamsAtOnce);
    EXPECT_LE(session->runnerThreads(), DownloadSession::kRunnerThreads);
    EXPECT_LE(threadsOfThisProcess(),
              before + DownloadSession::kRunnerThreads + DownloadSession::kCameraStreamsAtOnce);
    closeSession();
}

// The system may have no thread to give: for the queue's turn, or for a stream. Either way the
// work ends stopped and the user is told; nothing aborts and nothing waits for ever.
TEST_F(Streams, WorkWithoutAThreadFailsAndTheRestGoesOn) {
    struct Case {
        const char* what;
        int threadsGiven;  // threads that start before the system refuses
    };
    for (const Case c : {Case{"no thread for the queue", 0}, Case{"no thread for a stream", 1}}) {
        SCOPED_TRACE(c.what);
        recordings["20070101080509001"].bytes = pattern(3000);
        recordings["20070101090000001"].bytes = pattern(3000);
        auto given = std::make_shared<std::atomic<int>>(0);
        ctx.startThread = [given, limit = c.threadsGiven](std::function<void()> body) {
            if (given->fetch_add(1) >= limit)
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            return std::thread(std::move(body));
        };
        const size_t rowsBefore = work.rows().size(), boxesBefore = port.boxes().size();
        openSession();
        ASSERT_TRUE(session->enqueue(fileItem("20070101080509")));
        ASSERT_TRUE(session->enqueue(fileItem("20070101090000")));
        ASSERT_TRUE(waitIdle());
        auto rows = work.rows();
        ASSERT_EQ(rows.size(), rowsBefore + 2);
        for (size_t i = rowsBefore; i < rows.size(); ++i)
            EXPECT_EQ(rows[i].state, RowState::Stopped);
        auto boxes = port.boxes();
        ASSERT_EQ(boxes.size(), boxesBefore + 2);
        for (size_t i = boxesBefore; i < boxes.size(); ++i)
            EXPECT_EQ(boxes[i].text.rfind(kTextNoThread, 0), 0u) << boxes[i].text;
        EXPECT_FALSE(fs::exists(fileItem("20070101080509").outputPath));
        closeSession();
        ctx.startThread = nullptr;
    }
}

}  // namespace
