// The export loop on real files: the output's soundness, the overlay, the gaps, damaged
// inputs, cancelling, and the batch command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <QGuiApplication>
#include <cstring>
#include <fstream>
#include <thread>

#include "../media/TestSupport.h"
#include "Support.h"
#include "framestamp/StampExport.h"
#include "media/VideoDecoder.h"

using namespace fsv;
using namespace fsv::framestamp;
using fsv::media::test::ffmpegDecodes;
using fsv::media::test::ffprobe;

namespace {

class Export : public media::test::TempDir {};

std::string textAt(media::AviReader& r, int i) {
    char text[256];
    return r.readTextSample(i, text, sizeof text) ? text : "<none>";
}

TEST_F(Export, GapsBecomeEmptyPositions) {
    // Each frame's time, the time of the one before it, and the empty positions expected
    // between them.
    struct Step {
        const char* text;
        int emptyBefore;
    } steps[] = {
        {"Event#1-10:0:0(2026/12/1)", 0},
        {"#1-10:0:0.100", 1},   // 100 ms
        {"#1-10:0:0.133", 0},   // 33 ms
        {"#1-10:0:0.167", 1},   // 34 ms
        {"#1-10:0:0.233", 1},   // 66 ms
        {"#1-10:0:0.300", 0},   // 67 ms
        {"#1-10:0:0.399", 0},   // 99 ms
        {"#1-10:0:0.533", 2},   // 134 ms
        {"#1-10:0:0.400", 0},   // earlier than the one before (as across midnight)
        {"#1-10:0:1.400", 28},  // one second
    };
    std::vector<std::string> texts;
    for (auto& s : steps) texts.push_back(s.text);
    auto in = path("in.avi"), out = path("out.avi");
    ASSERT_TRUE(test::writeRecording(in, texts));

    StampExport job;
    ASSERT_EQ(job.run(in, out, {}), ExportResult::Finished) << job.error();
    media::AviReader r;
    int expectedLength = 0;
    for (auto& s : steps) expectedLength += s.emptyBefore + 1;
    ASSERT_EQ(r.open(out, true), expectedLength);
    int at = -1;
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(steps[i].text);
        for (int e = 0; e < steps[i].emptyBefore; ++e) {
            ++at;
            EXPECT_EQ(*r.videoSampleSize(at), 0u) << at;
            EXPECT_EQ(textAt(r, at), "") << at;
        }
        ++at;
        EXPECT_GT(*r.videoSampleSize(at), 0u) << at;
        SystemTime t{}, want{};
        ASSERT_TRUE(media::parseTimeStamp(steps[i].text, want));
        ASSERT_TRUE(r.readTimeStamp(at, t)) << textAt(r, at);
        EXPECT_EQ(std::tie(t.hour, t.minute, t.second, t.milliseconds),
                  std::tie(want.hour, want.minute, want.second, want.milliseconds));
        // The first sample carries the date, the later ones only the time of day.
        EXPECT_EQ(textAt(r, at).rfind(i == 0 ? "Event#1-" : "#1-", 0), 0u) << textAt(r, at);
    }
}

TEST_F(Export, CopyIsSoundAndCanBeStampedAgain) {
    auto in = test::sampleRecording(path("rec"));
    ASSERT_FALSE(in.empty());
    media::AviReader src;
    const int frames = src.open(in, true);
    ASSERT_GT(frames, 10);

    auto out = path("out.avi"), again = path("again.avi");
    StampExport job;
    ASSERT_EQ(job.run(in, out, {}), ExportResult::Finished) << job.error();
    auto probed = ffprobe(out);
    ASSERT_EQ(probed.size(), 2u);
    EXPECT_EQ(probed[1].codec, "msmpeg4v2");
    EXPECT_EQ(probed[1].tag, "MP42");
    EXPECT_EQ(probed[1].width, 704);
    EXPECT_EQ(probed[1].height, 480);
    EXPECT_EQ(probed[1].packets, frames);
    EXPECT_TRUE(ffmpegDecodes(out));

    media::AviReader r;
    const int positions = r.open(out, true);
    EXPECT_EQ(positions, job.positions());
    EXPECT_EQ(r.streamInfo(0).fccHandler, media::fourcc("TSTP"));
    EXPECT_EQ(r.streamInfo(1).rate, 30u);
    int recorded = 0;
    SystemTime last{};
    for (int i = 0; i < positions; ++i) {
        if (*r.videoSampleSize(i) == 0) continue;
        ++recorded;
        SystemTime a{}, b{};
        ASSERT_TRUE(r.readTimeStamp(i, a)) << i;
        ASSERT_TRUE(src.readTimeStamp(recorded - 1, b)) << i;
        EXPECT_EQ(std::tie(a.hour, a.minute, a.second, a.milliseconds),
                  std::tie(b.hour, b.minute, b.second, b.milliseconds));
        last = a;
    }
    EXPECT_EQ(recorded, frames);

    // The copy of the copy has the same frames at the same positions.
    ASSERT_EQ(job.run(out, again, {}), ExportResult::Finished) << job.error();
    media::AviReader r2;
    ASSERT_EQ(r2.open(again, true), positions);
    for (int i = 0; i < positions; ++i) EXPECT_EQ(textAt(r2, i), textAt(r, i)) << i;
    SystemTime t{};
    EXPECT_TRUE(r2.readTimeStamp(0, t));
    EXPECT_EQ(t.year, 2026);
}

TEST_F(Export, OverlaySitsBottomLeftAndNowhereElse) {
    auto in = test::sampleRecording(path("rec"), 1.0);
    ASSERT_FALSE(in.empty());
    media::AviReader src;
    ASSERT_GT(src.open(in, true), 0);
    SystemTime t{};
    ASSERT_TRUE(src.readTimeStamp(0, t));
    const QImage source = test::decodedFrame(in, 0);
    ASSERT_FALSE(source.isNull());

    StampOptions white{true, true, kWhite};
    StampOptions none{false, false, kWhite};
    const QString text = overlayText(t, white);
    ASSERT_FALSE(text.isEmpty());
    const QRect box = StampExport::textRect(text, source.height());
    // The codec works on 16 x 16 blocks: what lies in the text's blocks may change too.
    const QRect blocks(0, (box.top() / 16) * 16, ((box.right() + 16) / 16) * 16,
                       source.height() - (box.top() / 16) * 16);

    StampExport job;
    ASSERT_EQ(job.run(in, path("white.avi"), white), ExportResult::Finished);
    ASSERT_EQ(job.run(in, path("none.avi"), none), ExportResult::Finished);
    const QImage stamped = test::decodedFrame(path("white.avi"), 0);
    const QImage plain = test::decodedFrame(path("none.avi"), 0);
    ASSERT_EQ(stamped.size(), source.size());
    ASSERT_EQ(plain.size(), source.size());

    EXPECT_GT(test::psnr(stamped, source, blocks, true), 32.0);
    EXPECT_LT(test::psnr(stamped, source, box, false), 20.0);
    EXPECT_GT(test::psnr(plain, source, blocks, true), 32.0);
    EXPECT_GT(test::psnr(plain, source, box, false), 32.0);
}

// A recorder maker's own decoder: every picture mid grey.
struct GreyPlugin : media::DecoderPlugin {
    void message(uint32_t, std::span<const uint8_t>) override {}
    bool begin(const media::BitmapInfoHeader&, const media::BitmapInfoHeader&,
               const char*) override {
        return true;
    }
    bool decompress(const media::BitmapInfoHeader&, std::span<const uint8_t>, uint32_t,
                    const media::BitmapInfoHeader& out, uint8_t* bits) override {
        std::memset(bits, 128, out.sizeImage);
        return true;
    }
    void end() override {}
};

TEST_F(Export, PicturesFromADecoderPlugin) {
    // Such pictures only come as bitmaps, and are drawn on whole.
    media::installDecoderPlugin(media::fourcc("KTG1"),
                                [] { return std::make_unique<GreyPlugin>(); });
    auto in = path("in.avi"), out = path("out.avi");
    ASSERT_TRUE(test::writeRecording(in, {"Event#1-10:0:0(2026/12/1)", "#1-10:0:0.100"}, 176, 144,
                                     media::fourcc("KTG1")));
    StampExport job;
    const auto r = job.run(in, out, {true, true, kWhite});
    media::installDecoderPlugin(media::fourcc("KTG1"), {});
    ASSERT_EQ(r, ExportResult::Finished) << job.error();
    EXPECT_EQ(job.positions(), 3);
    const QImage stamped = test::decodedFrame(out, 0);
    ASSERT_EQ(stamped.size(), QSize(176, 144));
    QImage grey(stamped.size(), QImage::Format_BGR888);
    grey.fill(QColor(128, 128, 128));
    SystemTime t{2026, 12, 0, 1, 10, 0, 0, 0};
    const QRect box = StampExport::textRect(overlayText(t, {}), 144);
    const QRect blocks(0, box.top() / 16 * 16, (box.right() + 16) / 16 * 16, 144);
    EXPECT_GT(test::psnr(stamped, grey, blocks, true), 35.0);
    EXPECT_LT(test::psnr(stamped, grey, box, false), 20.0);
    EXPECT_TRUE(ffmpegDecodes(out));
}

TEST_F(Export, DamagedInputsFailWithoutHarm) {
    auto good = path("good.avi");
    std::vector<std::string> texts;
    for (int i = 0; i < 20; ++i)
        texts.push_back(i ? "#1-10:0:" + std::to_string(i) + ".0" : "Event#1-10:0:0(2026/12/1)");
    ASSERT_TRUE(test::writeRecording(good, texts));

    // Cut between a frame's picture and its time: that frame cannot be stamped.
    std::ifstream g(good, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(g), {}};
    const size_t lastText = bytes.rfind("01tx", bytes.rfind("01tx") - 1);
    ASSERT_NE(lastText, std::string::npos);
    auto cut = path("cut.avi");
    std::filesystem::copy_file(good, cut);
    std::filesystem::resize_file(cut, lastText);
    // Cut inside the last picture (a download that stopped).
    auto partial = path("partial.avi");
    std::filesystem::copy_file(good, partial);
    std::filesystem::resize_file(partial, bytes.rfind("00dc") + 20);
    // No text stream: the time stamps cannot be read.
    auto noText = path("notext.avi");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=10 "
                           "-frames:v 5 -c:v mjpeg -y '" +
                           noText.string() + "'")
                              .c_str()),
              0);
    // Not a recording at all.
    auto junk = path("junk.avi");
    std::ofstream(junk) << "RIFF junk";

    struct {
        std::filesystem::path in, out;
        bool leavesFile;
    } cases[] = {
        {cut, path("cut-out.avi"), true},
        {partial, path("partial-out.avi"), true},
        {noText, path("notext-out.avi"), false},
        {junk, path("junk-out.avi"), false},
        {path("missing.avi"), path("missing-out.avi"), false},
        {good, path("no/such/folder/out.avi"), false},
        {good, good, true},  // over itself: refused, the input stays as it was
    };
    const auto goodSize = std::filesystem::file_size(good);
    for (auto& c : cases) {
        SCOPED_TRACE(c.in.string() + " -> " + c.out.string());
        StampExport job;
        EXPECT_EQ(job.run(c.in, c.out, {}), ExportResult::Failed);
        EXPECT_FALSE(job.error().empty());
        EXPECT_EQ(std::filesystem::exists(c.out), c.leavesFile);
        if (c.leavesFile) {
            auto probed = ffprobe(c.out);
            ASSERT_EQ(probed.size(), 2u);
            EXPECT_GT(probed[1].packets, 10);
            EXPECT_TRUE(ffmpegDecodes(c.out));
        }
    }
    EXPECT_EQ(std::filesystem::file_size(good), goodSize);
    StampExport job;
    EXPECT_EQ(job.run(good, path("good-out.avi"), {}), ExportResult::Finished);
}

// Time texts a damaged or hostile file may carry: impossible fields fail the export, gaps
// beyond the bound are not filled but reported, so the copy stays the size of the input.
TEST_F(Export, TimeTextsAreRangeChecked) {
    const std::string first = "Event#1-10:0:0(2026/12/1)";
    struct {
        const char* name;
        std::vector<std::string> texts;
        ExportResult result;
        int positions;  // of the copy, when it finished
        size_t notes;
    } cases[] = {
        {"hour out of range", {first, "#1-25:0:0.0"}, ExportResult::Failed, 0, 0},
        {"negative minute", {first, "#1-10:-1:0.0"}, ExportResult::Failed, 0, 0},
        {"second 60", {first, "#1-10:0:60.0"}, ExportResult::Failed, 0, 0},
        {"milliseconds 1000", {first, "#1-10:0:0.1000"}, ExportResult::Failed, 0, 0},
        {"first frame out of range",
         {"Event#1-24:0:0(2026/12/1)", "#1-0:0:0.0"},
         ExportResult::Failed,
         0,
         0},
        {"gap of exactly the bound",
         {first, "#1-10:1:0.0"},
         ExportResult::Finished,
         2 + kMaxFilledGapMs * 3 / 100 - 2,
         0},
        {"gap of an hour", {first, "#1-11:0:0.0"}, ExportResult::Finished, 2, 1},
        {"clock jumping back and forth",
         {first, "#1-23:59:59.0", "#1-0:0:0.0", "#1-23:59:59.0", "#1-23:59:59.100"},
         ExportResult::Finished,
         6,
         2},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto in = path("in.avi"), out = path("out.avi");
        std::filesystem::remove(out);
        ASSERT_TRUE(test::writeRecording(in, c.texts));
        StampExport job;
        ASSERT_EQ(job.run(in, out, {}), c.result) << job.error();
        EXPECT_EQ(job.notes().size(), c.notes);
        if (c.result == ExportResult::Finished) {
            EXPECT_EQ(job.positions(), c.positions);
        } else {
            EXPECT_NE(job.error().find("time stamp"), std::string::npos) << job.error();
        }
        // The copy never grows beyond a few samples of this tiny input.
        if (std::filesystem::exists(out)) {
            EXPECT_LT(std::filesystem::file_size(out), 200u * 1024) << c.name;
        }
    }
}

// Files whose header promises more than the file holds.
TEST_F(Export, HeadersThatLieAboutTheFile) {
    std::vector<std::string> texts;
    for (int i = 0; i < 30; ++i)
        texts.push_back(i ? "#1-10:0:" + std::to_string(i) + ".0" : "Event#1-10:0:0(2026/12/1)");
    auto good = path("good.avi");
    ASSERT_TRUE(test::writeRecording(good, texts));
    std::ifstream g(good, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(g), {}};

    // A picture of 16000 x 16000 claimed by a file of a few kilobytes.
    auto giant = path("giant.avi");
    {
        std::string b = bytes;
        const size_t strh = b.find("strh"), strf = b.find("strf");
        ASSERT_NE(strf, std::string::npos);
        const uint32_t v = 16000;
        for (size_t at : {strf + 12, strf + 16})  // biWidth, biHeight
            for (int k = 0; k < 4; ++k) b[at + k] = char((v >> (8 * k)) & 0xff);
        for (size_t at : {strh + 56, strh + 58})  // the frame rectangle's right and bottom
            for (int k = 0; k < 2; ++k) b[at + k] = char((v >> (8 * k)) & 0xff);
        std::ofstream(giant, std::ios::binary) << b;
        media::AviReader r;
        EXPECT_EQ(r.open(giant, true), 0);
        EXPECT_EQ(r.open(giant, false), 30);  // the samples themselves are still there
    }
    StampExport job;
    EXPECT_EQ(job.run(giant, path("giant-out.avi"), {}), ExportResult::Failed);
    EXPECT_FALSE(std::filesystem::exists(path("giant-out.avi")));

    // Cut before its index after 14 of its 30 frames: copied as far as it goes, and said so.
    auto cut = path("cut.avi");
    size_t at = 0;
    for (int k = 0; k < 15; ++k) at = bytes.find("00dc", at + 1);
    ASSERT_NE(at, std::string::npos);
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, at);
    EXPECT_EQ(job.run(cut, path("cut-out.avi"), {}), ExportResult::Incomplete);
    EXPECT_NE(job.error().find("14 of 30"), std::string::npos) << job.error();
    EXPECT_EQ(ffprobe(path("cut-out.avi"))[1].packets, 14);
}

TEST_F(Export, AFailedCopyNeverReplacesTheOutput) {
    auto in = path("in.avi"), out = path("out.avi");
    ASSERT_TRUE(test::writeRecording(
        in, {"Event#1-10:0:0(2026/12/1)", "#1-10:0:0.100", "#1-10:0:0.200", "#1-99:0:0.0"}));
    std::ofstream(out) << "the copy made yesterday";
    StampExport job;
    ASSERT_EQ(job.run(in, out, {}), ExportResult::Failed);
    std::ifstream kept(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the copy made yesterday");
    // Nothing is left beside it either.
    int files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(path(""))) ++files;
    EXPECT_EQ(files, 2);
    // A whole copy does replace it.
    ASSERT_TRUE(test::writeRecording(in, {"Event#1-10:0:0(2026/12/1)", "#1-10:0:0.100"}));
    ASSERT_EQ(job.run(in, out, {}), ExportResult::Finished);
    EXPECT_EQ(ffprobe(out).size(), 2u);
}

TEST_F(Export, AFifoIsRefusedAtOnce) {
    auto fifo = path("in.avi");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Should the open wait for a writer, this one lets it go after a while so that the test
    // fails rather than hangs.
    std::atomic<bool> done{false};
    std::thread rescue([&] {
        for (int k = 0; k < 100 && !done; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    });
    const auto start = std::chrono::steady_clock::now();
    StampExport job;
    EXPECT_EQ(job.run(fifo, path("out.avi"), {}), ExportResult::Failed);
    const auto took = std::chrono::steady_clock::now() - start;
    done = true;
    rescue.join();
    EXPECT_LT(took, std::chrono::seconds(2));
}

TEST_F(Export, CancelKeepsWhatWasWritten) {
    std::vector<std::string> texts;
    for (int i = 0; i < 20; ++i)
        texts.push_back(i ? "#1-10:0:0." + std::to_string(100 * i) : "Event#1-10:0:0(2026/12/1)");
    texts.resize(10);
    auto in = path("in.avi"), out = path("out.avi");
    ASSERT_TRUE(test::writeRecording(in, texts));
    std::atomic<bool> cancel{false};
    std::vector<int> seen;
    StampExport job;
    auto r = job.run(
        in, out, {},
        [&](int done, int total) {
            EXPECT_EQ(total, 10);
            seen.push_back(done);
            if (done == 3) cancel = true;
        },
        &cancel);
    EXPECT_EQ(r, ExportResult::Cancelled);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3}));
    auto probed = ffprobe(out);
    ASSERT_EQ(probed.size(), 2u);
    EXPECT_EQ(probed[1].packets, 3);
    EXPECT_TRUE(ffmpegDecodes(out));
}

TEST_F(Export, CommandLine) {
    std::vector<std::string> texts = {"Event#1-10:0:0(2026/12/1)", "#1-10:0:0.100"};
    auto a = path("a.avi"), b = path("b.avi");
    ASSERT_TRUE(test::writeRecording(a, texts));
    texts[1] = "not a time";
    ASSERT_TRUE(test::writeRecording(b, texts));
    auto runExe = [&](const std::string& args, int& status) {
        return media::test::run("(" + std::string(FRAMESTAMP_EXE) + " " + args + " 2>&1)", &status);
    };
    int status = -1;
    // One file to a file, without date and in white.
    std::string out = runExe(
        "'" + a.string() + "' -o '" + path("one.avi").string() + "' --no-date --white", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(ffprobe(path("one.avi")).size(), 2u);
    // Several into a folder: one fails, so the run does.
    out = runExe("'" + a.string() + "' '" + b.string() + "' -o '" + path("folder").string() + "'",
                 status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("Framestamp file fail!"), std::string::npos) << out;
    EXPECT_NE(out.find(b.string()), std::string::npos) << out;
    EXPECT_EQ(ffprobe(path("folder") / "a.avi").size(), 2u);
    // Every file whole: success.
    out = runExe("'" + a.string() + "' -o '" + path("folder").string() + "'", status);
    EXPECT_EQ(status, 0) << out;
    // Inputs whose copies would land on one file are refused before anything is written.
    std::filesystem::create_directories(path("x"));
    std::filesystem::copy_file(a, path("x") / "a.avi");
    out = runExe("'" + a.string() + "' '" + (path("x") / "a.avi").string() + "' -o '" +
                     path("clash").string() + "'",
                 status);
    EXPECT_NE(status, 0);
    EXPECT_FALSE(std::filesystem::exists(path("clash") / "a.avi"));
    // An input cut before its index is copied as far as it goes, but the run fails.
    {
        std::vector<std::string> many(10, "#1-10:0:1.0");
        many[0] = "Event#1-10:0:0(2026/12/1)";
        ASSERT_TRUE(test::writeRecording(path("long.avi"), many));
        std::ifstream l(path("long.avi"), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(l), {}};
        std::ofstream(path("cut.avi"), std::ios::binary) << bytes.substr(0, bytes.rfind("00dc"));
    }
    out = runExe("'" + path("cut.avi").string() + "' -o '" + path("cut-out.avi").string() + "'",
                 status);
    EXPECT_NE(status, 0) << out;
    EXPECT_NE(out.find("9 of 10"), std::string::npos) << out;
    // Without an output.
    out = runExe("'" + a.string() + "' --white", status);
    EXPECT_NE(status, 0);
}

TEST(Overlay, Texts) {
    const QLocale c(QLocale::C);
    SystemTime t{2007, 5, 0, 24, 9, 5, 7, 42};
    EXPECT_EQ(overlayText(t, {false, true, kBlack}, c), " 09:05:07");
    EXPECT_EQ(overlayText(t, {false, false, kBlack}, c), "");
    EXPECT_EQ(overlayText(t, {true, false, kBlack}, c),
              c.toString(QDate(2007, 5, 24), QLocale::ShortFormat));
    EXPECT_EQ(
        overlayText(t, {true, true, kBlack}, QLocale(QLocale::English, QLocale::UnitedStates)),
        "5/24/07 09:05:07");
    // A frame that never got a date shows only its time.
    SystemTime noDate{0, 0, 0, 0, 23, 59, 1, 0};
    EXPECT_EQ(overlayText(noDate, {true, true, kBlack}, c), " 23:59:01");

    EXPECT_EQ(qtFileFilter("AVI File(*.AVI)|*.avi||"), "AVI File (*.avi *.AVI)");
    EXPECT_EQ(qtFileFilter("AVI Files (*.avi)|*.avi|All files|*||"),
              "AVI Files (*.avi *.AVI);;All files (*)");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
