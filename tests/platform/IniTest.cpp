#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Ini.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace fsv::platform;

namespace {
fs::path tempIni(const std::string& text) {
    static const fsv::test::TempDir dir("fsv-ini");
    auto p = dir / (std::to_string(rand()) + ".ini");
    std::ofstream(p) << text;
    return p;
}
std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
}  // namespace

TEST(Ini, ReadsCaseInsensitivelyWithDefaultsAndLeadingDigits) {
    auto p = tempIni(
        "[Other]\nDlgColor=14811135\nMaxChannel=16 channels\nName=Farsight\n"
        "Neg=-5\nWord=abc\n");
    EXPECT_EQ(getProfileInt(p, "other", "DLGCOLOR", 1), 14811135);
    EXPECT_EQ(getProfileInt(p, "Other", "MaxChannel", 32), 16);
    EXPECT_EQ(getProfileInt(p, "Other", "Neg", 0), -5);
    EXPECT_EQ(getProfileInt(p, "Other", "Word", 9), 0) << "a value without digits reads as 0";
    EXPECT_EQ(getProfileInt(p, "Other", "Missing", 32), 32);
    EXPECT_EQ(getProfileInt(p, "NoSection", "MaxChannel", 7), 7);
    EXPECT_EQ(getProfileInt("/nonexistent/x.ini", "Other", "MaxChannel", 7), 7);
    EXPECT_EQ(getProfileString(p, "OTHER", "name", "x"), "Farsight");
    EXPECT_EQ(getProfileString(p, "Other", "none", "dflt"), "dflt");
}

// Something other than a file under the name: the defaults are read and a write fails; nothing
// waits or reads past an end.
TEST(Ini, AFolderOrAPipeInPlaceOfTheFileReadsAsDefaults) {
    const fs::path folder = tempIni("");
    fs::remove(folder);
    fs::create_directories(folder);
    const fs::path pipe = folder.parent_path() / "pipe.ini";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const fs::path& p : {folder, pipe}) {
        SCOPED_TRACE(p.filename().string());
        EXPECT_EQ(getProfileInt(p, "Client", "MaxChannel", 32), 32);
        EXPECT_EQ(getProfileString(p, "Skin", "Style", "dflt"), "dflt");
    }
    EXPECT_FALSE(writeProfileInt(folder, "Client", "MaxChannel", 16));
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST(Ini, WriteCreatesSectionsAndKeysAndKeepsTheRest) {
    auto p = tempIni("; settings\n[Keep]\nA=1\n\n[Other]\nB=2\n");
    ASSERT_TRUE(writeProfileString(p, "other", "b", "3"));
    ASSERT_TRUE(writeProfileString(p, "New", "C", "4"));
    ASSERT_TRUE(writeProfileInt(p, "Other", "D", 5));
    EXPECT_EQ(getProfileInt(p, "Keep", "A", 0), 1);
    EXPECT_EQ(getProfileInt(p, "Other", "B", 0), 3);
    EXPECT_EQ(getProfileInt(p, "New", "C", 0), 4);
    EXPECT_EQ(getProfileInt(p, "Other", "D", 0), 5);
    auto text = slurp(p);
    EXPECT_NE(text.find("; settings"), std::string::npos);
    EXPECT_EQ(text.find("[other]"), std::string::npos) << "existing section keeps its spelling";
    ASSERT_TRUE(writeProfileString(p, "Other", "B", std::nullopt));
    EXPECT_EQ(getProfileInt(p, "Other", "B", 42), 42);

    auto fresh = p.parent_path() / "fresh.ini";
    fs::remove(fresh);
    ASSERT_TRUE(writeProfileInt(fresh, "Pos", "X", 1504));
    EXPECT_EQ(getProfileInt(fresh, "pos", "x", 0), 1504);
}
