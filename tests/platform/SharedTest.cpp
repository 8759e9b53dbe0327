#include <gtest/gtest.h>

#include "platform/Shared.h"

using namespace fsv;

TEST(Password, ScrambleExamplesAndRoundTrip) {
    EXPECT_EQ(ScramblePassword("abc"), "646464");
    EXPECT_EQ(ScramblePassword(""), "");
    EXPECT_EQ(UnscramblePassword("646464"), "abc");
    EXPECT_EQ(UnscramblePassword(""), "");
    EXPECT_EQ(UnscramblePassword("646464").value(), "abc");
    // Wrap-around in both directions, and every byte value.
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    auto s = ScramblePassword(all);
    EXPECT_EQ(s.size(), 512u);
    EXPECT_EQ(UnscramblePassword(s), all);
    EXPECT_EQ(UnscramblePassword("6464E4").has_value(), true) << "upper-case digits read too";
}

TEST(Password, UnscrambleRefusesMalformedText) {
    for (const char* bad : {"6", "64646", "6g", "zz", "64 4", "-1"})
        EXPECT_FALSE(UnscramblePassword(bad).has_value()) << bad;
}

TEST(SizeText, Boundaries) {
    struct Case {
        uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 KB"},
        {1023, "0 KB"},
        {1048575, "1023 KB"},
        {1048576, "1.0 MB"},
        {0x3FFFFFFF, "1024.0 MB"},
        {1073741824, "1.0 GB"},
        {5ull << 30, "5.0 GB"},
    };
    for (auto& c : cases) EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
}

TEST(SystemTime, SixteenBytesLittleEndian) {
    SystemTime t{2006, 3, 3, 15, 12, 30, 5, 250};
    uint8_t buf[16];
    t.write(buf);
    EXPECT_EQ(buf[0], 0xD6);
    EXPECT_EQ(buf[1], 0x07);
    EXPECT_EQ(buf[14], 250);
    EXPECT_EQ(SystemTime::read(buf), t);
}
