#include <gtest/gtest.h>

#include <fstream>

#include "TestSupport.h"
#include "media/AviReader.h"
#include "media/AviWriter.h"
#include "media/RecordingAviWriter.h"
#include "platform/Bytes.h"

using namespace fsv;
using namespace fsv::media;

namespace {

std::vector<uint8_t> readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeAll(const std::filesystem::path& p, const std::vector<uint8_t>& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
size_t find(const std::vector<uint8_t>& b, const char* id) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (std::memcmp(&b[i], id, 4) == 0) return i;
    return std::string::npos;
}

class AviReaderTest : public test::TempDir {
  protected:
    // A recording of 30 frames with key frames at 0, 12 and 24; sample i holds i + 1 bytes.
    std::filesystem::path recording(const std::string& name = "rec.avi") {
        RecordingHeader h;
        h.video.fccType = kStreamVideo;
        h.video.fccHandler = fourcc("MP42");
        h.video.scale = 1;
        h.video.rate = 10;
        h.video.frameRight = 352;
        h.video.frameBottom = 240;
        h.text.fccType = kStreamText;
        h.text.scale = 1;
        h.text.rate = 10;
        RecordingAviWriter w;
        auto file = path(name);
        EXPECT_TRUE(w.open(file, h, {}));
        for (int i = 0; i < 30; ++i) {
            std::vector<uint8_t> data(i + 1, static_cast<uint8_t>(i));
            SystemTime t{2026,
                         12,
                         0,
                         1,
                         8,
                         0,
                         static_cast<uint16_t>(i / 10),
                         static_cast<uint16_t>(i % 10 * 100)};
            EXPECT_TRUE(w.addFrame(data, i % 12 == 0,
                                   i == 0 ? firstFrameTimeText(t) : laterFrameTimeText(t)));
        }
        EXPECT_TRUE(w.close());
        return file;
    }
};

TEST_F(AviReaderTest, SamplesKeyFramesAndTimeStamps) {
    AviReader r;
    ASSERT_EQ(r.open(recording()), 30);
    EXPECT_EQ(r.videoIndex(), 0);
    EXPECT_EQ(r.textIndex(), 1);
    for (int i : {0, 7, 29}) {
        auto s = r.videoSample(i);
        ASSERT_TRUE(s);
        EXPECT_EQ(*s, std::vector<uint8_t>(i + 1, static_cast<uint8_t>(i)));
    }
    EXPECT_FALSE(r.videoSample(30));
    EXPECT_FALSE(r.videoSample(-1));
    uint8_t small[4];
    size_t n = 0;
    EXPECT_FALSE(r.readVideoSample(7, small, sizeof small, &n));  // does not fit
    EXPECT_TRUE(r.readVideoSample(7, nullptr, 0, &n));
    EXPECT_EQ(n, 8u);

    struct {
        int index, atOrBefore, before;
        bool key;
    } keys[] = {{0, 0, -1, true},    {1, 0, 0, false},   {11, 0, 0, false},  {12, 12, 0, true},
                {13, 12, 12, false}, {24, 24, 12, true}, {29, 24, 24, false}};
    for (auto k : keys) {
        EXPECT_EQ(r.keyFrameAtOrBefore(k.index), k.atOrBefore) << k.index;
        EXPECT_EQ(r.previousKeyFrame(k.index), k.before) << k.index;
        EXPECT_EQ(r.isKeyFrame(k.index), k.key) << k.index;
    }

    SystemTime t{};
    ASSERT_TRUE(r.readTimeStamp(0, t));
    EXPECT_EQ(t, (SystemTime{2026, 12, 0, 1, 8, 0, 0, 0}));
    ASSERT_TRUE(r.readTimeStamp(25, t));
    EXPECT_EQ(t, (SystemTime{2026, 12, 0, 1, 8, 0, 2, 500}));
    EXPECT_FALSE(r.readTimeStamp(30, t));
    char text[8];
    ASSERT_TRUE(r.readTextSample(25, text, sizeof text));
    EXPECT_STREQ(text, "#1-8:0:");  // cut to the buffer, terminated
}

TEST_F(AviReaderTest, ElevenStreamsKeepTheFirstTen) {
    std::vector<AviWriter::StreamSetup> streams(11);
    for (int i = 0; i < 11; ++i) {
        auto& s = streams[i];
        s.info.fccType = i == 1 ? kStreamText : kStreamVideo;
        s.info.fccHandler = fourcc("MP42");
        s.info.scale = 1;
        s.info.rate = 10;
        s.info.frameRight = 352;
        s.info.frameBottom = 240;
        s.info.name = "s" + std::to_string(i);
        auto f = BitmapInfoHeader::rgb24(352, 240).serialize();
        s.format.assign(f.begin(), f.end());
    }
    AviWriter w;
    auto file = path("eleven.avi");
    ASSERT_TRUE(w.open(file, streams));
    for (int i = 0; i < 11; ++i)
        for (int k = 0; k <= i; ++k) ASSERT_TRUE(w.append(i, std::vector<uint8_t>{1, 2}, true));
    ASSERT_TRUE(w.close());

    AviReader r;
    // The last video stream kept (slot 9, ten samples) wins; the eleventh is not held.
    EXPECT_EQ(r.open(file), 10);
    EXPECT_EQ(r.streamCount(), 10);
    EXPECT_EQ(r.videoIndex(), 9);
    EXPECT_EQ(r.textIndex(), 1);
    EXPECT_EQ(r.streamInfo(9).name, "s9");
    EXPECT_EQ(r.sampleCount(1), 2);
}

TEST_F(AviReaderTest, IndexCheck) {
    auto file = recording();
    const auto size = static_cast<uint32_t>(std::filesystem::file_size(file));
    EXPECT_EQ(AviReader::checkAviIndex(file, size), kIndexComplete);
    EXPECT_EQ(AviReader::checkAviIndex(file, size - 1), kIndexMissing);

    auto bytes = readAll(file);
    size_t idx1 = find(bytes, "idx1");
    ASSERT_NE(idx1, std::string::npos);
    auto cut = path("cut.avi");
    writeAll(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + idx1 + 20));
    EXPECT_EQ(AviReader::checkAviIndex(cut, idx1 + 20), kIndexMissing);
    // A size larger than the file on disk does not make a cut index complete.
    EXPECT_EQ(AviReader::checkAviIndex(cut, size), kIndexMissing);
    writeAll(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + idx1));
    EXPECT_EQ(AviReader::checkAviIndex(cut, size), kIndexMissing);

    auto wav = path("not.avi");
    writeAll(wav, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
    EXPECT_EQ(AviReader::checkAviIndex(wav, 12), kIndexNotAvi);
    EXPECT_EQ(AviReader::checkAviIndex(path("missing.avi"), 100), kIndexNotAvi);
    writeAll(wav, {});
    EXPECT_EQ(AviReader::checkAviIndex(wav, 0), kIndexNotAvi);
}

TEST_F(AviReaderTest, FileCutBeforeItsIndexIsReadByWalkingTheFrames) {
    auto bytes = readAll(recording());
    size_t idx1 = find(bytes, "idx1");
    // Cut in the middle of the last text sample: 29 whole frames remain.
    auto cut = path("cut.avi");
    writeAll(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + idx1 - 3));
    AviReader r;
    EXPECT_EQ(r.open(cut), 30);
    EXPECT_EQ(r.sampleCount(r.textIndex()), 29);
    EXPECT_EQ(*r.videoSample(29), std::vector<uint8_t>(30, 29));
    EXPECT_TRUE(r.isKeyFrame(0));
}

TEST_F(AviReaderTest, DamagedSizesAndIndexEntriesAreNeverReadPast) {
    auto bytes = readAll(recording());
    // A RIFF size that runs far past the end of the file.
    fsv::platform::putU32(&bytes[4], 0xFFFFFFF0);
    size_t movi = find(bytes, "movi");
    // An index entry (frame 3's video) that points outside the file, and one whose size
    // runs past it (frame 5's video).
    size_t idx1 = find(bytes, "idx1");
    fsv::platform::putU32(&bytes[idx1 + 8 + 6 * 16 + 8], 0x7FFFFFF0);
    fsv::platform::putU32(&bytes[idx1 + 8 + 10 * 16 + 12], 0x7FFFFFF0);
    // A text sample without its terminator: frame 2's text "#1-8:0:0.200\0" loses its zero.
    size_t text2 = idx1 + 8 + 5 * 16;
    uint32_t off = fsv::platform::getU32(&bytes[text2 + 8]), len = fsv::platform::getU32(&bytes[text2 + 12]);
    bytes[movi + off + 8 + len - 1] = '9';
    auto file = path("damaged.avi");
    writeAll(file, bytes);

    AviReader r;
    ASSERT_EQ(r.open(file), 30);
    EXPECT_FALSE(r.videoSample(3));
    EXPECT_FALSE(r.videoSample(5));
    EXPECT_TRUE(r.videoSample(4));
    char text[64];
    ASSERT_TRUE(r.readTextSample(2, text, sizeof text));
    EXPECT_STREQ(text, "#1-8:0:0.2009");
    EXPECT_EQ(AviReader::checkAviIndex(file, 0xFFFFFFFF), kIndexComplete);

    // A "movi" list whose size runs past the file hides the index: the frames are found by
    // walking the list, which stops at the end of the file.
    fsv::platform::putU32(&bytes[movi - 4], 0x7FFFFFF0);
    writeAll(file, bytes);
    ASSERT_EQ(r.open(file), 30);
    EXPECT_TRUE(r.videoSample(3));
    EXPECT_EQ(AviReader::checkAviIndex(file, 0xFFFFFFFF), kIndexMissing);
}

TEST_F(AviReaderTest, FileOfAWriterThatNeverFinished) {
    AviWriter::StreamSetup v;
    v.info.fccType = kStreamVideo;
    v.info.fccHandler = fourcc("MP42");
    auto f = BitmapInfoHeader::rgb24(352, 240).serialize();
    v.format.assign(f.begin(), f.end());
    auto file = path("unfinished.avi");
    {
        AviWriter w;
        ASSERT_TRUE(w.open(file, {v}));
        for (uint8_t i = 0; i < 5; ++i) ASSERT_TRUE(w.append(0, std::vector<uint8_t>{i}, i == 0));
        w.abandon();  // no index, sizes still 0
    }
    AviReader r;
    ASSERT_EQ(r.open(file), 5);
    EXPECT_EQ(*r.videoSample(4), std::vector<uint8_t>{4});
    EXPECT_EQ(AviReader::checkAviIndex(file, 0xFFFFFFFF), kIndexMissing);
}

TEST_F(AviReaderTest, IndexOffsetsFromTheFileStart) {
    auto bytes = readAll(recording());
    const uint32_t movi = static_cast<uint32_t>(find(bytes, "movi"));
    const size_t idx1 = find(bytes, "idx1");
    const uint32_t entries = fsv::platform::getU32(&bytes[idx1 + 4]) / 16;
    for (uint32_t e = 0; e < entries; ++e) {
        uint8_t* off = &bytes[idx1 + 8 + e * 16 + 8];
        fsv::platform::putU32(off, fsv::platform::getU32(off) + movi);
    }
    auto file = path("absolute.avi");
    writeAll(file, bytes);
    AviReader r;
    ASSERT_EQ(r.open(file), 30);
    EXPECT_EQ(*r.videoSample(29), std::vector<uint8_t>(30, 29));
    EXPECT_EQ(r.previousKeyFrame(29), 24);
}

// A file of two RIFF parts with OpenDML indexes: the second part ("AVIX") is reached only
// through them.
TEST_F(AviReaderTest, OpenDmlIndexesReachTheSecondPart) {
    using fsv::platform::ByteWriter;
    ByteWriter w;
    auto chunkAt = [&](const char* id) {
        w.bytes(id, 4);
        size_t at = w.size();
        w.u32(0);
        return at;
    };
    auto close = [&](size_t at) { w.patchU32(at, static_cast<uint32_t>(w.size() - at - 4)); };
    size_t riff = chunkAt("RIFF");
    w.bytes("AVI ", 4);
    size_t hdrl = chunkAt("LIST");
    w.bytes("hdrl", 4);
    size_t strl = chunkAt("LIST");
    w.bytes("strl", 4);
    size_t strh = chunkAt("strh");
    w.u32(kStreamVideo).u32(fourcc("MP42")).u32(0).u32(0).u32(0).u32(1).u32(10).u32(0).u32(4);
    w.u32(0).u32(0).u32(0).i16(0).i16(0).i16(352).i16(240);
    close(strh);
    size_t strf = chunkAt("strf");
    auto f = BitmapInfoHeader::rgb24(352, 240).serialize();
    w.bytes(f.data(), f.size());
    close(strf);
    size_t indx = chunkAt("indx");
    w.u16(4).u8(0).u8(0).u32(2).bytes("00dc", 4).zeros(12);
    size_t super0 = w.size();
    w.zeros(32);
    close(indx);
    close(strl);
    close(hdrl);
    std::vector<std::pair<uint64_t, uint64_t>> parts;  // (ix chunk, movi start)
    auto movi = [&](uint8_t first) {
        size_t list = chunkAt("LIST");
        w.bytes("movi", 4);
        std::vector<uint64_t> data;
        for (uint8_t i = first; i < first + 2; ++i) {
            size_t c = chunkAt("00dc");
            data.push_back(w.size());
            w.u8(i).u8(i);
            close(c);
        }
        uint64_t ix = w.size();
        size_t ixc = chunkAt("ix00");
        w.u16(2).u8(0).u8(1).u32(2).bytes("00dc", 4).u64(data[0] - 0).u32(0);
        w.u32(0).u32(2);                                                       // key
        w.u32(static_cast<uint32_t>(data[1] - data[0])).u32(2 | 0x80000000u);  // not key
        close(ixc);
        close(list);
        parts.emplace_back(ix, 0);
    };
    movi(10);
    close(riff);
    size_t avix = chunkAt("RIFF");
    w.bytes("AVIX", 4);
    movi(20);
    close(avix);
    for (int i = 0; i < 2; ++i) {
        auto& b = w.data();
        for (int k = 0; k < 8; ++k)
            b[super0 + i * 16 + k] = static_cast<uint8_t>(parts[i].first >> (8 * k));
    }
    auto file = path("opendml.avi");
    writeAll(file, w.data());

    AviReader r;
    ASSERT_EQ(r.open(file), 4);
    EXPECT_EQ(*r.videoSample(0), (std::vector<uint8_t>{10, 10}));
    EXPECT_EQ(*r.videoSample(3), (std::vector<uint8_t>{21, 21}));
    EXPECT_TRUE(r.isKeyFrame(2));
    EXPECT_FALSE(r.isKeyFrame(3));
    EXPECT_EQ(r.previousKeyFrame(3), 2);
}

TEST_F(AviReaderTest, NotAnAviFile) {
    auto f = path("x.avi");
    writeAll(f, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
    AviReader r;
    EXPECT_EQ(r.open(f), 0);
    EXPECT_EQ(r.open(path("none.avi")), 0);
    EXPECT_EQ(r.open(dir_), 0);
}

// Files written by ffmpeg open with the frame count and key frames ffprobe sees, and decode.
TEST_F(AviReaderTest, FilesWrittenByFfmpeg) {
    struct {
        const char* name;
        const char* args;
        const char* tag;
    } cases[] = {
        {"mjpeg.avi", "-c:v mjpeg", "MJPG"},
        {"mpeg4.avi", "-c:v mpeg4 -g 5", "FMP4"},
        {"dmb1.avi", "-c:v mjpeg -vtag dmb1", "dmb1"},
        {"mp42.avi", "-c:v msmpeg4v2 -vtag MP42 -g 5", "MP42"},
        {"div3.avi", "-c:v msmpeg4 -vtag DIV3 -g 5", "DIV3"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = ffmpegAvi(c.name, c.args);
        auto probed = test::ffprobe(file);
        ASSERT_FALSE(probed.empty());
        AviReader r;
        ASSERT_EQ(r.open(file, true), probed[0].packets);
        EXPECT_EQ(r.streamInfo(r.videoIndex()).fccHandler, fourcc(c.tag));
        int keys = 0;
        for (int i = 0; i < r.frameCount(); ++i) keys += r.isKeyFrame(i);
        EXPECT_EQ(keys, probed[0].keyPackets);
        // Backwards, so that every frame is reached by decoding from its key frame.
        for (int i = r.frameCount() - 1; i >= 0; --i) {
            const uint8_t* frame = r.getFrame(i);
            ASSERT_NE(frame, nullptr) << i;
            EXPECT_EQ(*BitmapInfoHeader::parse(std::span(frame, 40)),
                      BitmapInfoHeader::rgb24(176, 144));
        }
    }
}

}  // namespace
