#include <gtest/gtest.h>

#include "StateTestSupport.h"
#include "state/ConnectionSet.h"

using namespace std::string_literals;
using namespace fsv::state;
using fsv::ConnectRequest;
using fsv::state::test::bytesOf;
using fsv::state::test::TempFolder;

namespace {
std::vector<ConnectRequest> twoOfTheSameRecorder() {
    ConnectRequest a;
    a.kind = 1;
    a.port = 6000;
    a.address = "10.0.0.5";
    a.id = "admin";
    a.password = "abc";
    ConnectRequest b = a;
    b.kind = 3;
    b.id = "Guest";
    b.password = "";
    return {a, b};
}
bool same(const ConnectRequest& a, const ConnectRequest& b) {
    return a.kind == b.kind && a.port == b.port && a.address == b.address && a.id == b.id &&
           a.password == b.password;
}
}  // namespace

TEST(ConnectionSetFile, WritesTheExactLayoutAndReadsItBack) {
    auto sets = twoOfTheSameRecorder();
    auto bytes = encodeConnectionSet(sets);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "KOR_FSV_Link\0"
              "\x02\0\0\0"s
              "\x01\0"
              "10.0.0.5\0"
              "admin\0"
              "646464\0"
              "\x70\x17"s
              "\x03\0"
              "10.0.0.5\0"
              "Guest\0"
              "\0"
              "\x70\x17"s);
    auto r = decodeConnectionSet(bytes);
    EXPECT_EQ(r.status, ReadStatus::Ok);
    ASSERT_EQ(r.value.size(), 2u) << "two records of one recorder stay two connects";
    EXPECT_TRUE(same(r.value[0], sets[0]));
    EXPECT_TRUE(same(r.value[1], sets[1]));
}

TEST(ConnectionSetFile, AnyDifferenceInTheMagicIsRefused) {
    const auto good = encodeConnectionSet(twoOfTheSameRecorder());
    for (size_t i = 0; i < 13; ++i) {
        auto bytes = good;
        bytes[i] ^= 0x20;
        auto r = decodeConnectionSet(bytes);
        EXPECT_EQ(r.status, ReadStatus::WrongFormat) << "byte " << i;
        EXPECT_EQ(r.message, "Unexpected file format!");
    }
}

TEST(ConnectionSetFile, NoRecordsIsReported) {
    for (auto count : {"\0\0\0\0"s, "\xff\xff\xff\xff"s}) {
        auto r = decodeConnectionSet(bytesOf("KOR_FSV_Link\0"s + count));
        EXPECT_EQ(r.status, ReadStatus::Empty);
        EXPECT_EQ(r.message, "Don't have any connection in record!");
    }
}

TEST(ConnectionSetFile, ACutFileKeepsItsCompleteRecords) {
    const auto sets = twoOfTheSameRecorder();
    const auto full = encodeConnectionSet(sets);
    const size_t firstEnd = 17 + 2 + 9 + 6 + 7 + 2;
    for (size_t len = 0; len <= full.size(); ++len) {
        auto r = decodeConnectionSet(std::span(full.data(), len));
        if (len < 13) {
            EXPECT_EQ(r.status, ReadStatus::WrongFormat);
            continue;
        }
        EXPECT_EQ(r.status, len == full.size() ? ReadStatus::Ok : ReadStatus::Damaged) << len;
        size_t complete = len == full.size() ? 2 : len >= firstEnd ? 1 : 0;
        ASSERT_EQ(r.value.size(), complete) << len;
        for (size_t i = 0; i < complete; ++i) EXPECT_TRUE(same(r.value[i], sets[i]));
    }
}

TEST(ConnectionSetStore, SavingAndLoading) {
    TempFolder dir;
    auto file = dir / "site.sav";
    std::string message;
    EXPECT_EQ(saveConnectionSet(file, {}, &message), SaveSet::NothingToSave);
    EXPECT_FALSE(std::filesystem::exists(file)) << "nothing open, nothing written";
    EXPECT_EQ(message, "");

    auto missing = loadConnectionSet(file);
    EXPECT_EQ(missing.status, ReadStatus::Unreadable);
    EXPECT_EQ(missing.message, "Read file fail!");

    ASSERT_EQ(saveConnectionSet(file, twoOfTheSameRecorder()), SaveSet::Written);
    auto back = loadConnectionSet(file);
    EXPECT_EQ(back.status, ReadStatus::Ok);
    EXPECT_EQ(back.value.size(), 2u);

    EXPECT_EQ(saveConnectionSet(dir / "no-such-folder" / "x.sav", twoOfTheSameRecorder(), &message),
              SaveSet::Failed);
    EXPECT_EQ(message, "Failed to save file");
}
