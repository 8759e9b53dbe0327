#include <gtest/gtest.h>

#include "media/AviTypes.h"
#include "platform/Bytes.h"

using namespace fsv;
using namespace fsv::media;

namespace {

struct StampCase {
    const char* text;
    bool ok;
    SystemTime expected;  // starting from `before`
};

const SystemTime before{2001, 2, 3, 4, 5, 6, 7, 8};

TEST(TimeStamp, TheThreeFormsAndWhatIsNotATimeStamp) {
    const StampCase cases[] = {
        // date and time, milliseconds 0; the day of week stays as it was
        {"Event#1-9:5:7(2007/5/24)", true, {2007, 5, 3, 24, 9, 5, 7, 0}},
        {"Event#3-9:5:7(2007/5/24)", true, {2007, 5, 3, 24, 9, 5, 7, 0}},
        {"Event#Door 2-23:59:59(2026/12/31)", true, {2026, 12, 3, 31, 23, 59, 59, 0}},
        // time of day only: the date is left as the caller had it
        {"#1-9:5:7.042", true, {2001, 2, 3, 4, 9, 5, 7, 42}},
        {"#12-10:20:30.5", true, {2001, 2, 3, 4, 10, 20, 30, 5}},
        // fields that are empty or not numbers read as 0
        {"#1-::.", true, {2001, 2, 3, 4, 0, 0, 0, 0}},
        {"Event#1-x:5:7(2007/5/24)", true, {2007, 5, 3, 24, 0, 5, 7, 0}},
        // the text ends at its zero
        {"#1-9:5:7.042\0garbage", true, {2001, 2, 3, 4, 9, 5, 7, 42}},
        // not a time stamp
        {"", false, before},
        {"Event1-9:5:7(2007/5/24)", false, before},
        {" #1-9:5:7.042", false, before},
        {"#195:7.042", false, before},  // no "-" after the camera
        {"Event#", false, before},
    };
    for (const auto& c : cases) {
        SystemTime t = before;
        EXPECT_EQ(parseTimeStamp(c.text, t), c.ok) << c.text;
        EXPECT_EQ(t, c.expected) << c.text;
    }
}

TEST(TimeStamp, WrittenTextsReadBack) {
    SystemTime t{2026, 12, 0, 1, 8, 3, 9, 7};
    EXPECT_EQ(firstFrameTimeText(t), "Event#1-8:3:9(2026/12/1)");
    EXPECT_EQ(laterFrameTimeText(t), "#1-8:3:9.007");
    SystemTime back{};
    ASSERT_TRUE(parseTimeStamp(firstFrameTimeText(t), back));
    ASSERT_TRUE(parseTimeStamp(laterFrameTimeText(t), back));
    EXPECT_EQ(back, t);
}

TEST(StreamRecord, FieldsSitAtTheirOffsets) {
    AviStreamInfo s;
    s.fccType = kStreamVideo;
    s.fccHandler = fourcc("MP42");
    s.scale = 1;
    s.rate = 30;
    s.suggestedBufferSize = 12345;
    s.frameRight = 704;
    s.frameBottom = 240;
    s.name = "cam01_FSV";
    auto bytes = s.serialize();
    ASSERT_EQ(bytes.size(), 140u);
    EXPECT_EQ(fsv::platform::getU32(&bytes[0]), fourcc("vids"));
    EXPECT_EQ(fsv::platform::getU32(&bytes[4]), fourcc("MP42"));
    EXPECT_EQ(fsv::platform::getU32(&bytes[20]), 1u);
    EXPECT_EQ(fsv::platform::getU32(&bytes[24]), 30u);
    EXPECT_EQ(fsv::platform::getU32(&bytes[40]), 12345u);
    EXPECT_EQ(fsv::platform::getU32(&bytes[60]), 704u);
    EXPECT_EQ(fsv::platform::getU32(&bytes[64]), 240u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[76])), "cam01_FSV");
    auto back = AviStreamInfo::parse(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->serialize(), bytes);
    EXPECT_FALSE(AviStreamInfo::parse(std::span(bytes).first(139)));

    // A name that fills the field is cut so that it keeps its terminating zero.
    s.name = std::string(80, 'n');
    EXPECT_EQ(AviStreamInfo::parse(s.serialize())->name, std::string(63, 'n'));
}

}  // namespace
