#include <gtest/gtest.h>

#include <fstream>

#include "TestSupport.h"
#include "media/AviReader.h"
#include "sim/Generate.h"

using namespace fsv;
using namespace fsv::media;

namespace {

using Generate = test::TempDir;

TEST_F(Generate, RecorderFolderWithEveryKindOfStream) {
    sim::GenerateOptions o;
    o.cameras = 3;
    o.days = 2;
    o.lastDay = "20270301";  // the day before is 28 February
    o.eventsPerDay = 1;
    o.secondsPerEvent = 2;
    std::string error;
    ASSERT_TRUE(sim::generateRecordings(dir_, o, &error)) << error;

    struct {
        const char* file;
        const char* handler;
        const char* codec;
        int width, height;
        const char* name;
    } expected[] = {
        {"Cam01/20270228/080000.avi", "dmb1", "mjpeg", 352, 240, "cam01"},
        {"Cam02/20270301/080300.avi", "MP42", "msmpeg4v2", 704, 480, "cam02"},
        {"Cam03/20270301/080600.avi", "MP42", "msmpeg4v2", 704, 240, "cam03_FSV"},
    };
    for (auto& e : expected) {
        SCOPED_TRACE(e.file);
        auto file = dir_ / e.file;
        AviReader r;
        ASSERT_EQ(r.open(file, true), 20);
        const AviStreamInfo& v = r.streamInfo(r.videoIndex());
        EXPECT_EQ(v.fccHandler, fourcc(e.handler));
        EXPECT_EQ(v.width(), e.width);
        EXPECT_EQ(v.height(), e.height);
        EXPECT_EQ(v.name, e.name);
        SystemTime first{}, last{};
        ASSERT_TRUE(r.readTimeStamp(0, first));
        EXPECT_EQ(first.hour, 8);
        EXPECT_EQ(first.day, std::string(e.file).find("0228") != std::string::npos ? 28 : 1);
        last = first;
        ASSERT_TRUE(r.readTimeStamp(19, last));
        // About 100 ms apart with one gap of 1.5 s.
        int span = (last.second - first.second) * 1000 + last.milliseconds;
        EXPECT_GT(span, 3000);
        EXPECT_LT(span, 4300);
        for (int i = 0; i < 20; ++i) ASSERT_NE(r.getFrame(i), nullptr);
        EXPECT_EQ(AviReader::checkAviIndex(file, 0xFFFFFFFF), kIndexComplete);

        auto probed = test::ffprobe(file);
        ASSERT_EQ(probed.size(), 2u);
        EXPECT_EQ(probed[0].codec, e.codec);
        EXPECT_EQ(probed[0].packets, 20);
        EXPECT_TRUE(test::ffmpegDecodes(file));
    }
    std::ifstream name(dir_ / "Cam01/name");
    std::string line;
    std::getline(name, line);
    EXPECT_EQ(line, "Entrance");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Cam02/name"));
    auto wav = dir_ / "Aud01/20270301/080000.wav";
    ASSERT_TRUE(std::filesystem::exists(wav));
    EXPECT_EQ(std::filesystem::file_size(wav), 44u + 2 * 8000 * 2);
    EXPECT_TRUE(test::ffmpegDecodes(wav));

    EXPECT_FALSE(sim::generateRecordings(dir_, {.lastDay = "2027031"}, &error));
}

}  // namespace
