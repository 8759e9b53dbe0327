#include <gtest/gtest.h>

#include "StateTestSupport.h"
#include "state/LoginLog.h"

using namespace std::string_literals;
using namespace fsv::state;
using fsv::state::test::bytesOf;
using fsv::state::test::readBytes;
using fsv::state::test::TempFolder;

TEST(LoginLog, TheAddressOfTheLastConnectComesFirst) {
    struct Case {
        std::vector<std::string> before;
        std::string address;
        std::string file;
    } cases[] = {
        {{},
         "10.0.0.5",
         "\x01\0\0\0"
         "10.0.0.5\n"s},
        {{"10.0.0.1", "10.0.0.2", "10.0.0.3"},
         "10.0.0.2",
         "\x03\0\0\0"
         "10.0.0.2\n10.0.0.1\n10.0.0.3\n"s},
        {{"10.0.0.1", "10.0.0.2"},
         "10.0.0.9",
         "\x03\0\0\0"
         "10.0.0.9\n10.0.0.1\n10.0.0.2\n"s},
        // The count always matches the lines, even when an older list held a line twice.
        {{"a", "b", "a", "b"},
         "a",
         "\x03\0\0\0"
         "a\nb\nb\n"s},
    };
    TempFolder dir;
    for (const auto& c : cases) {
        auto file = dir / "login.log";
        ASSERT_TRUE(saveLoginLog(file, loginLogAfterConnect(c.before, c.address)));
        auto bytes = readBytes(file);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.file);
        auto back = loadLoginLog(file);
        EXPECT_EQ(back.status, ReadStatus::Ok);
        EXPECT_EQ(back.value, loginLogAfterConnect(c.before, c.address));
    }
    EXPECT_EQ(loadLoginLog(dir / "none.log").status, ReadStatus::Missing);
}

TEST(LoginLog, ReadingTrustsTheCountButNotPastTheData) {
    struct Case {
        std::string file;
        std::vector<std::string> lines;
        ReadStatus status;
    } cases[] = {
        {"\x02\0\0\0"
         "a\r\nb\n"s,
         {"a", "b"},
         ReadStatus::Ok},
        {"\x01\0\0\0"
         "a\nb\n"s,
         {"a"},
         ReadStatus::Ok},
        {"\x05\0\0\0"
         "a\nb\n"s,
         {"a", "b"},
         ReadStatus::Damaged},
        {"\x02\0\0\0"
         "a\nb"s,
         {"a"},
         ReadStatus::Damaged},
        {"\xff\xff\xff\x7f"s, {}, ReadStatus::Damaged},
        {"\xff\xff\xff\xff"
         "a\n"s,
         {},
         ReadStatus::Ok},
        {"\x01\0"s, {}, ReadStatus::Damaged},
        {""s, {}, ReadStatus::Missing},
    };
    for (const auto& c : cases) {
        auto r = decodeLoginLog(bytesOf(c.file));
        EXPECT_EQ(r.value, c.lines) << testing::PrintToString(c.file);
        EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.file);
    }
}

TEST(LoginLog, TheConnectToDialogChecksPortThenIdThenAddress) {
    struct Case {
        ConnectToFields fields;
        std::string message;
    } cases[] = {
        {{"10.0.0.5", "Guest", "", "5066"}, ""},
        {{"", "", "", "5066"}, "Enter ID, please."},
        {{"", "Guest", "", "5066"}, "Enter IP Address, Please."},
        {{"", "", "", "80"}, "Please enter an integer between 1024 and 65535."},
        {{"10.0.0.5", "Guest", "", "70000"}, "Please enter an integer between 1024 and 65535."},
    };
    for (const auto& c : cases) {
        auto r = checkConnectTo(c.fields);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.request.has_value(), c.message.empty());
    }
    auto ok = checkConnectTo({"rec.local", "admin", "pw", "6001"});
    ASSERT_TRUE(ok.request);
    EXPECT_EQ(ok.request->kind, 1);
    EXPECT_EQ(ok.request->port, 6001);
    EXPECT_EQ(ok.request->address, "rec.local");
    EXPECT_EQ(ok.request->id, "admin");
    EXPECT_EQ(ok.request->password, "pw");
}
