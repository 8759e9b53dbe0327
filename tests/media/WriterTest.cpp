#include <gtest/gtest.h>

#include <fstream>

#include "TestSupport.h"
#include "media/AviReader.h"
#include "media/Bmp.h"
#include "media/RecordingAviWriter.h"
#include "media/StampedAviWriter.h"
#include "media/StreamFile.h"
#include "media/VideoEncoder.h"
#include "platform/Bytes.h"

using namespace fsv;
using namespace fsv::media;

namespace {

RecordingHeader header(int w, int h, const char* name, const char* handler = "MP42") {
    RecordingHeader r;
    r.video.fccType = kStreamVideo;
    r.video.fccHandler = fourcc(handler);
    r.video.scale = 1;
    r.video.rate = 10;
    r.video.frameRight = w;
    r.video.frameBottom = h;
    r.video.name = name;
    r.text.fccType = kStreamText;
    r.text.scale = 1;
    r.text.rate = 10;
    return r;
}

// Encoded frames of a moving bar, with their key flags (a key frame every 12).
struct Clip {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<bool> keys;
};
Clip encode(int w, int h, int count, VideoCodec codec = VideoCodec::MsMpeg4v2) {
    VideoEncoder enc;
    Clip c;
    EXPECT_TRUE(enc.open(codec, w, h, 10, 12));
    for (int i = 0; i < count; ++i) {
        auto p = enc.picture();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) p.data[0][y * p.stride[0] + x] = (x + 4 * i) % 200 + 16;
        for (int k = 1; k < 3; ++k)
            for (int y = 0; y < h / 2; ++y) std::memset(p.data[k] + y * p.stride[k], 128, w / 2);
        std::vector<uint8_t> out;
        bool key = false;
        EXPECT_TRUE(enc.encode(out, key));
        c.frames.push_back(out);
        c.keys.push_back(key);
    }
    return c;
}

std::string stamp(int i) {
    SystemTime t{
        2026, 12, 0, 1, 10, 0, static_cast<uint16_t>(i / 10), static_cast<uint16_t>(i % 10 * 100)};
    return i == 0 ? firstFrameTimeText(t) : laterFrameTimeText(t);
}

std::vector<uint8_t> frameRecord(bool key, const std::string& text,
                                 const std::vector<uint8_t>& data) {
    fsv::platform::ByteWriter w;
    w.u32(key ? 1 : 0).cstr(text).bytes(data.data(), data.size());
    return w.take();
}

using Writers = test::TempDir;

TEST_F(Writers, FieldOnlyStreamIsStoredAtTwiceItsHeightWithoutTheSuffix) {
    auto clip = encode(704, 240, 14);
    for (const char* name : {"cam01_FSV", "cam01"}) {
        SCOPED_TRACE(name);
        const bool field = std::string(name).ends_with("_FSV");
        auto file = path(std::string(name) + ".avi");
        StreamFile sf;
        EXPECT_EQ(sf.setAside(file, false, 0), 0);
        auto h = header(704, 240, name).serialize();
        ASSERT_EQ(sf.prepare(h, 0, 8999, "guest", ""), kStreamOk);
        EXPECT_EQ(sf.pictureFormat(), BitmapInfoHeader::rgb24(704, 240));
        for (size_t i = 0; i < clip.frames.size(); ++i)
            ASSERT_EQ(sf.writeFrame(frameRecord(clip.keys[i], stamp(i), clip.frames[i])),
                      kStreamOk);
        EXPECT_EQ(sf.frameTime(), (SystemTime{2026, 12, 0, 1, 10, 0, 1, 300}));
        sf.finish();

        AviReader r;
        ASSERT_EQ(r.open(file, true), 14);
        EXPECT_EQ(r.streamInfo(0).name, "cam01");
        EXPECT_EQ(r.streamInfo(0).height(), field ? 480 : 240);
        EXPECT_EQ(r.videoFormat()->height, 240);  // the bits stay single fields
        const uint8_t* frame = r.getFrame(13);
        ASSERT_NE(frame, nullptr);
        // The reader shows a 704 x 240 picture of an own handler at twice its height either way.
        EXPECT_EQ(BitmapInfoHeader::parse(std::span(frame, 40))->height, 480);

        auto probed = test::ffprobe(file);
        ASSERT_EQ(probed.size(), 2u);
        EXPECT_EQ(probed[0].codec, "msmpeg4v2");
        EXPECT_EQ(probed[0].tag, "MP42");
        EXPECT_EQ(probed[0].packets, 14);
        EXPECT_EQ(probed[0].keyPackets, 2);
        EXPECT_EQ(probed[1].type, "subtitle");
        EXPECT_EQ(probed[1].packets, 14);
        EXPECT_TRUE(test::ffmpegDecodes(file));
    }
}

TEST_F(Writers, PartialRecordingsGetATextBufferOfAtLeast29) {
    struct {
        int first, last;
        uint32_t buffer;
    } cases[] = {{0, 8999, 13}, {5, 8999, 29}, {0, 100, 29}};
    for (auto c : cases) {
        auto file = path("partial.avi");
        StreamFile sf;
        sf.setAside(file, false, c.first);
        ASSERT_EQ(sf.prepare(header(352, 240, "c").serialize(), c.first, c.last, "", ""),
                  kStreamOk);
        ASSERT_EQ(sf.writeFrame(false, "#1-1:2:3.004", {}), kStreamOk);
        sf.finish();
        AviReader r;
        ASSERT_EQ(r.open(file), 1);
        EXPECT_EQ(r.streamInfo(1).suggestedBufferSize, c.buffer) << c.first << " " << c.last;
    }
}

TEST_F(Writers, FrameRecords) {
    auto file = path("records.avi");
    StreamFile sf;
    sf.setAside(file, false, 0);
    ASSERT_EQ(sf.prepare(header(352, 240, "c").serialize(), 0, 8999, "", ""), kStreamOk);
    // The text fills the record: an empty video sample and the text are still written.
    EXPECT_EQ(sf.writeFrame(frameRecord(true, "Event#1-9:5:7(2007/5/24)", {})), kStreamOk);
    EXPECT_EQ(sf.frameTime(), (SystemTime{2007, 5, 0, 24, 9, 5, 7, 0}));
    // Undecodable video data.
    EXPECT_EQ(sf.writeFrame(frameRecord(false, "#1-9:5:7.100", {1, 2, 3})), kFrameDecodeFailed);
    EXPECT_EQ(sf.failureText("Server - Cam 1"), "Unexpected file format!\nServer - Cam 1");
    // A record without the text's terminator, and one shorter than its flag.
    const uint8_t noZero[] = {1, 0, 0, 0, '#', '1'};
    EXPECT_EQ(sf.writeFrame(noZero), kFrameDecodeFailed);
    EXPECT_EQ(sf.writeFrame(std::span(noZero, 3)), kFrameDecodeFailed);
    sf.finish();
    AviReader r;
    ASSERT_EQ(r.open(file), 2);
    EXPECT_EQ(*r.videoSampleSize(0), 0u);
    EXPECT_EQ(*r.videoSampleSize(1), 3u);
    EXPECT_TRUE(r.isKeyFrame(0));
    EXPECT_FALSE(r.isKeyFrame(1));
    // Writing after the file is closed fails as a write.
    EXPECT_EQ(sf.writeFrame(false, "#1-1:1:1.1", {}), kFrameWriteFailed);
    EXPECT_EQ(sf.failureText(""), "Write file fail!\n" + file.string());
}

TEST_F(Writers, BadHeadersFailSetUp) {
    StreamFile sf;
    sf.setAside(path("x.avi"), false, 0);
    std::vector<uint8_t> shortHeader(279);
    EXPECT_EQ(sf.prepare(shortHeader, 0, 8999, "", ""), kSetupFailed);
    EXPECT_EQ(sf.prepare(header(0, 240, "c").serialize(), 0, 8999, "", ""), kSetupFailed);
    EXPECT_EQ(sf.prepare(header(352, 240, "c", "Q?Z!").serialize(), 0, 8999, "", ""), kSetupFailed);
    StreamFile noFolder;
    noFolder.setAside(path("none/x.avi"), false, 0);
    EXPECT_EQ(noFolder.prepare(header(352, 240, "c").serialize(), 0, 8999, "", ""), kSetupFailed);
    EXPECT_EQ(noFolder.failureText(""), "Write file fail!\n" + path("none/x.avi").string());
}

// A file of 100 frames is continued: frames 0 ... 98 are copied, the recorder resumes at 99,
// and the decoder is ready for frame 99 (a frame after the key frame 96).
TEST_F(Writers, ContinuingA100FrameFile) {
    auto clip = encode(352, 240, 100);
    auto file = path("100.avi");
    auto h = header(352, 240, "cam").serialize();
    {
        StreamFile sf;
        sf.setAside(file, false, 0);
        ASSERT_EQ(sf.prepare(h, 0, 8999, "", ""), kStreamOk);
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(sf.writeFrame(clip.keys[i], stamp(i), clip.frames[i]), kStreamOk);
    }
    std::vector<uint8_t> expected;
    {
        AviReader original;
        ASSERT_EQ(original.open(file, true), 100);
        const uint8_t* f = original.getFrame(99);
        ASSERT_NE(f, nullptr);
        expected.assign(f + 40, f + 40 + 352 * 240 * 3);
    }

    {
        // Cut before its index (a download that stopped), the key frames are still known
        // from the frames themselves.
        std::ifstream in(file, std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), {}};
        auto cut = path("cut.avi");
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.find("idx1"));
        AviReader r;
        ASSERT_EQ(r.open(cut), 100);
        for (int i = 0; i < 100; ++i) ASSERT_EQ(r.isKeyFrame(i), clip.keys[i]) << i;
    }

    StreamFile sf;
    EXPECT_EQ(sf.setAside(file, true, 0), 99);
    EXPECT_TRUE(sf.continuing());
    EXPECT_TRUE(std::filesystem::exists(setAsidePath(file)));
    ASSERT_EQ(sf.prepare(h, 99, 8999, "", ""), kStreamOk);
    EXPECT_FALSE(std::filesystem::exists(setAsidePath(file)));
    EXPECT_EQ(sf.framesWritten(), 99);
    ASSERT_EQ(sf.writeFrame(clip.keys[99], stamp(99), clip.frames[99]), kStreamOk);
    EXPECT_EQ(sf.pictureBits(), expected);
    sf.finish();

    AviReader r;
    ASSERT_EQ(r.open(file), 100);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(*r.videoSample(i), clip.frames[i]) << i;
        ASSERT_EQ(r.isKeyFrame(i), clip.keys[i]) << i;
        char text[32];
        ASSERT_TRUE(r.readTextSample(i, text, sizeof text));
        ASSERT_EQ(text, stamp(i));
    }
    EXPECT_TRUE(test::ffmpegDecodes(file));
}

TEST_F(Writers, TooShortToContinueStartsOver) {
    auto file = path("one.avi");
    {
        StreamFile sf;
        sf.setAside(file, false, 0);
        ASSERT_EQ(sf.prepare(header(352, 240, "c").serialize(), 0, 8999, "", ""), kStreamOk);
        ASSERT_EQ(sf.writeFrame(true, stamp(0), {}), kStreamOk);
    }
    StreamFile sf;
    EXPECT_EQ(sf.setAside(file, true, 0), 0);
    EXPECT_FALSE(sf.continuing());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(setAsidePath(file)));
    // Nothing to continue at all.
    EXPECT_EQ(sf.setAside(path("never.avi"), true, 7), 7);
}

TEST_F(Writers, StampedCopyKeepsGapsAsEmptyPositions) {
    struct {
        uint32_t input;
        const char* codec;
        const char* tag;
    } cases[] = {{fourcc("MPG4"), "msmpeg4v2", "MP42"}, {fourcc("iv50"), "mpeg4", "FMP4"}};
    for (auto c : cases) {
        SCOPED_TRACE(c.tag);
        auto frame = BitmapInfoHeader::rgb24(176, 144);
        std::vector<uint8_t> bits(frame.sizeImage);
        auto file = path(std::string(c.tag) + ".avi");
        StampedAviWriter w;
        ASSERT_TRUE(w.open(file, 30, frame, c.input));
        // Frames at positions 0, 1, 4 and 5.
        for (int i = 0; i < 4; ++i) {
            std::fill(bits.begin(), bits.end(), static_cast<uint8_t>(40 * i));
            ASSERT_TRUE(w.writeFrame(bits.data(), stamp(i)));
            if (i == 1) w.skip(), w.skip();
        }
        ASSERT_TRUE(w.close());

        AviReader r;
        ASSERT_EQ(r.open(file, true), 6);
        EXPECT_EQ(r.textIndex(), 0);
        EXPECT_EQ(r.videoIndex(), 1);
        EXPECT_EQ(r.streamInfo(0).fccHandler, fourcc("TSTP"));
        EXPECT_EQ(r.streamInfo(0).rate, 30u);
        EXPECT_EQ(r.streamInfo(1).fccHandler, fourcc(c.tag));
        EXPECT_EQ(*r.videoSampleSize(2), 0u);
        SystemTime t{};
        EXPECT_TRUE(r.readTimeStamp(0, t));
        EXPECT_FALSE(r.readTimeStamp(3, t));  // an empty position has no time
        EXPECT_TRUE(r.readTimeStamp(5, t));
        EXPECT_EQ(t.second, 0);
        EXPECT_EQ(t.milliseconds, 300);
        for (int i = 0; i < 6; ++i) EXPECT_NE(r.getFrame(i), nullptr) << i;

        std::ifstream in(file, std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), {}};
        size_t dt = bytes.find("DT  ");
        ASSERT_NE(dt, std::string::npos);
        EXPECT_EQ(fsv::platform::getU32(reinterpret_cast<const uint8_t*>(&bytes[dt + 4])), 16u);

        auto probed = test::ffprobe(file);
        ASSERT_EQ(probed.size(), 2u);
        EXPECT_EQ(probed[1].codec, c.codec);
        EXPECT_EQ(probed[1].tag, c.tag);
        EXPECT_EQ(probed[1].packets, 4);
        EXPECT_TRUE(test::ffmpegDecodes(file));
    }
}

TEST_F(Writers, Bitmap) {
    auto h = BitmapInfoHeader::rgb24(352, 288);
    std::vector<uint8_t> bits(h.sizeImage, 7);
    auto file = path("frame.bmp");
    ASSERT_TRUE(writeBmp(file, h, bits));
    EXPECT_EQ(std::filesystem::file_size(file), 304182u);
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(fsv::platform::getU32(&b[2]), 304182u);
    EXPECT_EQ(fsv::platform::getU32(&b[6]), 0u);
    EXPECT_EQ(fsv::platform::getU32(&b[10]), 54u);
    EXPECT_EQ(*BitmapInfoHeader::parse(std::span(b).subspan(14, 40)), h);
    EXPECT_EQ(b[54], 7);
    // Too few bits for the header's image size: nothing is written.
    EXPECT_FALSE(writeBmp(path("short.bmp"), h, std::span(bits).first(100)));
    EXPECT_FALSE(writeBmp(path("none/x.bmp"), h, bits));
}

}  // namespace
