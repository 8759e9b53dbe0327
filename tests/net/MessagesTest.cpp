#include <gtest/gtest.h>

#include <functional>

#include "net/Messages.h"

using namespace fsv::net;

namespace {

Bytes bytes(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<uint8_t>(x));
    return b;
}

}  // namespace

TEST(Messages, FixedLayouts) {
    EXPECT_EQ(encodeKeyRequest(), bytes({0x0D, 0x00, 0x23, 0x00}));
    EXPECT_EQ(encodeLoginPlain(33, "ab", "cd"), bytes({1, 33, 0, 'a', 'b', 0, 'c', 'd', 0}));
    EXPECT_EQ(encodeLoginEncryptionFailed(35), bytes({1, 35, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encodeLoginEncrypted(35, bytes({9, 8})), bytes({1, 35, 0, 0, 0, 2, 0, 0, 0, 9, 8}));
    auto q = encodeDateQuery({kAudio, 0x0102, "20261201", 7});
    ASSERT_TRUE(q);
    EXPECT_EQ(*q,
              bytes({5, 1, 2, 1, '2', '0', '2', '6', '1', '2', '0', '1', 0, 0, 0, 0, 7, 0, 0, 0}));
    EXPECT_EQ(encodeStreamClose(0x01020304), bytes({7, 'G', 4, 3, 2, 1}));
    EXPECT_EQ(encodeStreamPosition(1, 2).size(), 10u);
    EXPECT_EQ(dayText(990101), "00990101");
    EXPECT_EQ(timeText(93000), "093000");
}

TEST(Messages, DayNumbersThatAreDates) {
    for (uint32_t day : {20261201u, 990101u, 19991231u, 99991231u}) EXPECT_TRUE(isDayNumber(day));
    for (uint32_t day :
         {0xFFFFFFFFu, 0x80000000u, 100000101u, 0u, 20261301u, 20261200u, 20261232u, 20260001u})
        EXPECT_FALSE(isDayNumber(day)) << day;
}

TEST(Messages, StreamOpenLengthsFollowModeAndVersion) {
    StreamOpen s;
    s.name = recordingName("20261201093000", 1);
    EXPECT_EQ(s.name, "20261201093000001");
    s.mode = stream::kModeDownloadPlay;
    EXPECT_EQ(encodeStreamOpen(s)->size(), s.name.size() + 10 + 8);
    s.op = stream::kOpenWithId;
    EXPECT_EQ(encodeStreamOpen(s)->size(), s.name.size() + 10 + 4 + 8);
    s.mode = stream::kModePlay;
    EXPECT_EQ(encodeStreamOpen(s)->size(), s.name.size() + 10 + 4);
    s.mode = stream::kModeFile;  // always 'F'
    auto file = *encodeStreamOpen(s);
    EXPECT_EQ(file.size(), s.name.size() + 14);
    EXPECT_EQ(file[1], stream::kOpen);
    auto back = parseStreamRequest(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->open.name, s.name);
    s.name = std::string(18, '1');
    EXPECT_FALSE(encodeStreamOpen(s));
}

TEST(Messages, PublicKeyTakenOnlyWithExactLength) {
    auto good = encodePublicKey(bytes({1, 2, 3}));
    ASSERT_TRUE(parsePublicKey(good)->key);
    EXPECT_EQ(*parsePublicKey(good)->key, bytes({1, 2, 3}));

    Bytes longer(good.size() + 1, 0);
    std::copy(good.begin(), good.end(), longer.begin());
    Bytes shorter(good.begin(), good.end() - 1);
    auto notOne = good;
    notOne[1] = 2;
    for (auto* m : {&longer, &shorter, &notOne}) {
        auto r = parsePublicKey(*m);
        ASSERT_TRUE(r) << "still the recorder's answer";
        EXPECT_FALSE(r->key);
    }
    EXPECT_FALSE(parsePublicKey(bytes({2, 1})));
}

TEST(Messages, LoginReplyForms) {
    struct Case {
        Bytes msg;
        bool accepted;
        std::string name;
        std::optional<uint16_t> version;
    };
    const Case cases[] = {
        {encodeLoginAccepted("DVR", 35), true, "DVR", 35},
        {encodeLoginAccepted("DVR", std::nullopt), true, "DVR", std::nullopt},
        {bytes({2, 1, 'D', 0, 35}), true, "D", std::nullopt},  // one byte short of a version
        {encodeLoginRefused(33), false, "", 33},
        {encodeLoginRefused(std::nullopt), false, "", std::nullopt},
    };
    for (auto& c : cases) {
        auto r = parseLoginReply(c.msg);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->accepted, c.accepted);
        EXPECT_EQ(r->name, c.name);
        EXPECT_EQ(r->version, c.version);
    }
    EXPECT_FALSE(parseLoginReply(bytes({2})));
    EXPECT_FALSE(parseLoginReply(bytes({2, 1, 'D'})));  // name without its NUL
}

TEST(Messages, LoginRoundTrips) {
    auto plain = parseLoginPlain(encodeLoginPlain(33, "Guest", "7071"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->version, 33);
    EXPECT_EQ(plain->id, "Guest");
    EXPECT_EQ(plain->scrambled, "7071");
    auto enc = parseLoginEncrypted(encodeLoginEncrypted(35, bytes({1, 2, 3})));
    ASSERT_TRUE(enc);
    EXPECT_EQ(enc->cipher, bytes({1, 2, 3}));
    auto failed = parseLoginEncrypted(encodeLoginEncryptionFailed(35));
    ASSERT_TRUE(failed);
    EXPECT_TRUE(failed->cipher.empty());
    auto secret = parseLoginSecret(encodeLoginSecret("id", "pw"));
    ASSERT_TRUE(secret);
    EXPECT_EQ(secret->id, "id");
}

TEST(Messages, ServerInformationRoundTrips) {
    ServerInfoMessage info{{{1, "Gate", {20261130, 20261201}}, {2, "Yard", {}}},
                           {{1, "Mic", {990101}}}};
    auto back = parseServerInfo(encodeServerInfo(info));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->cameras.size(), 2u);
    EXPECT_EQ(back->cameras[0].days, (std::vector<uint32_t>{20261130, 20261201}));
    EXPECT_EQ(back->audio[0].name, "Mic");

    ChannelNamesMessage names{{{1, "Gate"}}, {{3, "Mic"}}};
    auto n = parseChannelNames(encodeChannelNames(names));
    ASSERT_TRUE(n);
    EXPECT_EQ(n->audio[0].code, 3);

    RecordedDaysMessage days{{{1, {{7, {20261130}}, {9, {20261201, 20261202}}}}}, {}};
    auto d = parseRecordedDays(encodeRecordedDays(days));
    ASSERT_TRUE(d);
    ASSERT_EQ(d->cameras[0].groups.size(), 2u);
    EXPECT_EQ(d->cameras[0].groups[1].value, 9u);
    EXPECT_EQ(d->cameras[0].groups[1].days.size(), 2u);
}

TEST(Messages, DateReplyLayoutDependsOnVersion) {
    DateReply r{kCamera, 1, "20261201", 4, {{93000, 1000}, {101500, 2000}}};
    auto old = encodeDateReply(r, 34);
    auto now = encodeDateReply(r, 35);
    EXPECT_EQ(now.size(), old.size() + 7);
    auto a = parseDateReply(old, 34);
    auto b = parseDateReply(now, 35);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->dateId, 0u);
    EXPECT_EQ(b->dateId, 4u);
    EXPECT_EQ(b->items[1].size, 2000u);
}

TEST(Messages, StatusBodyForms) {
    auto two = parseStreamStatusBody(bytes({0, 1}));
    ASSERT_TRUE(two);
    EXPECT_EQ(two->value1, 0x00010001u);
    auto full = parseStreamStatusBody(encodeStreamStatusBody(0, 1, 5, 6));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->value1, 5u);
    EXPECT_FALSE(parseStreamStatusBody(bytes({0, 1, 5})));
    EXPECT_FALSE(parseStreamStatusBody({}));
}

TEST(Messages, FrameCount) {
    EXPECT_EQ(encodeFrameCountQuery("20261201093000001", 34, 0)->size(), 19u);
    EXPECT_EQ(encodeFrameCountQuery("20261201093000001", 35, 2)->size(), 23u);
    EXPECT_FALSE(encodeFrameCountQuery(std::string(19, '1'), 35, 0));
    auto r = parseFrameCountReply(encodeFrameCountReply("20261201093000001", 1234));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->name, "20261201093000001");
    EXPECT_EQ(r->frameCount, 1234u);
}

// Every prefix of a valid message is either refused or parses without reading past its end
// (the sanitizer builds catch the latter); the prefixes listed must all be refused.
TEST(Messages, TruncatedMessagesAreDroppedWhole) {
    using Parser = std::function<bool(ByteSpan)>;
    struct Case {
        const char* name;
        Bytes full;
        Parser parse;
    };
    ServerInfoMessage info{{{1, "Gate", {20261130}}}, {{2, "Mic", {20261201}}}};
    RecordedDaysMessage days{{{1, {{7, {20261130}}}}}, {{2, {{0, {1}}}}}};
    DateReply reply{kCamera, 1, "20261201", 1, {{93000, 5}}};
    const Case cases[] = {
        {"4", encodeServerInfo(info), [](ByteSpan m) { return !!parseServerInfo(m); }},
        {"14", encodeChannelNames({{{1, "Gate"}}, {{2, "Mic"}}}),
         [](ByteSpan m) { return !!parseChannelNames(m); }},
        {"15", encodeRecordedDays(days), [](ByteSpan m) { return !!parseRecordedDays(m); }},
        {"6", encodeDateReply(reply, 35), [](ByteSpan m) { return !!parseDateReply(m, 35); }},
        {"11", encodeFrameCountReply("k", 1), [](ByteSpan m) { return !!parseFrameCountReply(m); }},
    };
    for (auto& c : cases) {
        ASSERT_TRUE(c.parse(c.full)) << c.name;
        for (size_t n = 0; n < c.full.size(); ++n) {
            Bytes prefix(c.full.begin(), c.full.begin() + n);
            EXPECT_FALSE(c.parse(prefix)) << c.name << " cut at " << n;
        }
    }
    // A count far beyond the data is refused without trying to reserve for it.
    EXPECT_FALSE(parseRecordedDays(bytes({15, 1, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF})));
}
