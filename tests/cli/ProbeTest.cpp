// fsv probe and fsv codecs on files that ffmpeg writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

class ProbeCli : public testing::Test {
  protected:
    void SetUp() override {
        root_ = fsv::test::makeTempDir("fsv-probe");
        ASSERT_FALSE(root_.empty());
    }
    void TearDown() override { fs::remove_all(root_); }

    static std::string run(const std::string& cmd, int* status) {
        std::string out;
        FILE* p = ::popen(cmd.c_str(), "r");
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        int rc = ::pclose(p);
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        return out;
    }
    std::string fsv(const std::string& args, int* status) {
        return run("'" FSV_BINARY_DIR "/cli/fsv' " + args + " 2>/dev/null", status);
    }
    fs::path root_;
};

TEST_F(ProbeCli, JsonOfAnMp42FileAndDecoding) {
    const fs::path file = root_ / "mp42.avi";
    int status = 0;
    run("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=176x144:rate=10 -frames:v 9 "
        "-c:v msmpeg4v2 -vtag MP42 -g 4 -y '" +
            file.string() + "' 2>&1",
        &status);
    ASSERT_EQ(status, 0);
    auto j = nlohmann::json::parse(fsv("probe --json --decode '" + file.string() + "'", &status));
    ASSERT_EQ(status, 0);
    ASSERT_EQ(j["streams"].size(), 1u);
    EXPECT_EQ(j["streams"][0]["type"], "video");
    EXPECT_EQ(j["streams"][0]["handler"], "MP42");
    EXPECT_EQ(j["frames"], 9);
    EXPECT_EQ(j["keyframes"], 3);
    EXPECT_EQ(j["first"], "");  // no text stream: no time stamps
    EXPECT_EQ(j["index"], 10);
    EXPECT_EQ(j["decoded"], 9);
    EXPECT_EQ(j["failed"], 0);

    std::string text = fsv("probe '" + file.string() + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(text.find("frames: 9, key frames: 3"), std::string::npos) << text;
}

TEST_F(ProbeCli, NotAnAviFileFails) {
    int status = 0;
    fsv("probe '" + (root_ / "missing.avi").string() + "'", &status);
    EXPECT_EQ(status, 1);
}

TEST_F(ProbeCli, CodecsListTheRecordersCodes) {
    int status = 0;
    std::string out = fsv("codecs", &status);
    EXPECT_EQ(status, 0);
    const std::string lines = "\n" + out;
    for (const char* line :
         {"\nMPG4\n", "\nMP42  (own handler)\n", "\nMP43  (own handler)\n", "\nIV50\n", "\ndmb1\n"})
        EXPECT_NE(lines.find(line), std::string::npos) << line;
}

}  // namespace
