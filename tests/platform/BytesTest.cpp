#include <gtest/gtest.h>

#include "platform/Bytes.h"

using namespace fsv::platform;

TEST(Bytes, ReaderNeverReadsPastItsDataAndStaysBad) {
    const uint8_t data[] = {1, 2, 3, 4, 5, 'a', 'b', 0, 'c'};
    ByteReader r(data, sizeof data);
    EXPECT_EQ(r.u32(), 0x04030201u);
    EXPECT_EQ(r.u8(), 5);
    EXPECT_EQ(r.cstr(), "ab");
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.cstr(), "") << "no terminator left";
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.u8(), 0) << "a bad reader reads nothing";

    ByteReader r2(data, 3);
    EXPECT_EQ(r2.u32(), 0u);
    EXPECT_FALSE(r2.ok());
    ByteReader r3(data, sizeof data);
    EXPECT_FALSE(r3.skip(SIZE_MAX)) << "huge skip must not wrap";
}

TEST(Bytes, WriterRoundTrip) {
    ByteWriter w;
    w.u16(0xBEEF).u32(0xDEADBEEF).i32(-2).cstr("hi").fixedText("abc", 5).u64(1ull << 40);
    ByteReader r(w.data().data(), w.size());
    EXPECT_EQ(r.u16(), 0xBEEF);
    EXPECT_EQ(r.u32(), 0xDEADBEEFu);
    EXPECT_EQ(r.i32(), -2);
    EXPECT_EQ(r.cstr(), "hi");
    EXPECT_EQ(r.fixedText(5), "abc");
    EXPECT_EQ(r.u64(), 1ull << 40);
    EXPECT_EQ(r.remaining(), 0u);
}
