#include <gtest/gtest.h>

#include <fstream>

#include "StateTestSupport.h"
#include "platform/Ini.h"
#include "state/Settings.h"

using namespace fsv::state;
using fsv::state::test::TempFolder;

namespace {
std::filesystem::path iniWith(const TempFolder& dir, const std::string& name,
                              const std::string& text) {
    auto p = dir / name;
    std::ofstream(p) << text;
    return p;
}
}  // namespace

TEST(Settings, DefaultsAndRoundTrip) {
    TempFolder dir;
    auto ini = dir / "FarsightViewer.ini";
    Settings s = readSettings(ini);
    EXPECT_EQ(s, Settings{});
    EXPECT_EQ(s.captionPartCount(), 3);

    // The first run leaves a complete file with the defaults (but no skin key).
    ASSERT_TRUE(writeSettings(ini, s));
    struct Key {
        const char *section, *key;
        int value;
    } keys[] = {{"Farsight Viewer Client", "MaxChannel", 32},
                {"Farsight Viewer Client", "PanelWidth", 800},
                {"Farsight Viewer Client", "PanelHeight", 600},
                {"Download", "Tell", 1},
                {"Download", "Overwrite", 0},
                {"Channel Text", "ChannelNum", 1},
                {"Channel Text", "ServerName", 1},
                {"Channel Text", "CameraName", 1}};
    for (const auto& k : keys)
        EXPECT_EQ(fsv::platform::getProfileInt(ini, k.section, k.key, -99), k.value) << k.key;
    EXPECT_EQ(fsv::platform::getProfileString(ini, "Skin", "Style", "none"), "none");

    Settings t;
    t.maxChannel = 16;
    t.panelWidth = 1280;
    t.panelHeight = 1024;
    t.tell = false;
    t.overwrite = true;
    t.channelNum = t.serverName = t.cameraName = false;
    ASSERT_TRUE(writeSettings(ini, t));
    fsv::platform::writeProfileString(ini, "Skin", "Style", "Blue_Style");
    t.skinStyle = "Blue_Style";
    EXPECT_EQ(readSettings(ini), t);
    EXPECT_EQ(t.captionPartCount(), 0) << "no caption at all";

    auto odd = iniWith(dir, "odd.ini", "[Channel Text]\nChannelNum=-1\nServerName=0\n");
    EXPECT_EQ(readSettings(odd).captionPartCount(), 2) << "any non-zero value switches a part on";

    // The wait on a silent recorder: read, never written; outside 1 ... 3600 s the default.
    EXPECT_EQ(fsv::platform::getProfileString(ini, "Connection", "Wait", "none"), "none");
    for (auto [text, seconds] :
         {std::pair{"1", 1}, {"3600", 3600}, {"0", 30}, {"-5", 30}, {"3601", 30}, {"soon", 30}}) {
        auto waits = iniWith(dir, "wait.ini", std::string("[Connection]\nWait=") + text + "\n");
        EXPECT_EQ(readSettings(waits).waitSeconds, seconds) << text;
    }
}

TEST(Settings, MainWindowSizeFromTheScreen) {
    struct Case {
        ScreenSize screen;
        std::string file;
        ScreenSize size;
    } cases[] = {
        {{1024, 768}, "[Farsight Viewer Client]\nPanelWidth=1280\nPanelHeight=1024\n", {1024, 768}},
        {{800, 600}, "[Farsight Viewer Client]\nPanelWidth=1280\nPanelHeight=1024\n", {800, 600}},
        {{1280, 1024}, "", {1280, 1024}},
        {{1279, 1024}, "", {1024, 768}},
        {{1920, 1200}, "[Farsight Viewer Client]\nPanelWidth=1024\nPanelHeight=768\n", {1024, 768}},
        {{1152, 864}, "[Farsight Viewer Client]\nPanelWidth=800\nPanelHeight=600\n", {800, 600}},
        {{1152, 864}, "[Farsight Viewer Client]\nPanelWidth=-5\n", {1024, 768}},
        {{1152, 864}, "[Farsight Viewer Client]\nPanelHeight=100000\n", {1024, 768}},
        // Larger screens hold the size read to 1280 x 1024 the same way.
        {{1920, 1200}, "[Farsight Viewer Client]\nPanelWidth=100000\n", {1280, 1024}},
        {{1280, 1024}, "[Farsight Viewer Client]\nPanelHeight=100000\n", {1280, 1024}},
        {{2560, 1440}, "[Farsight Viewer Client]\nPanelWidth=-1\nPanelHeight=-1\n", {1280, 1024}},
        {{2560, 1440}, "[Farsight Viewer Client]\nPanelWidth=800\nPanelHeight=600\n", {800, 600}},
    };
    for (const auto& c : cases) {
        TempFolder dir;
        auto ini = iniWith(dir, "FarsightViewer.ini", c.file);
        EXPECT_EQ(chooseMainWindowSize(ini, c.screen), c.size) << c.file;
        EXPECT_EQ(fsv::platform::getProfileInt(ini, "Farsight Viewer Client", "PanelWidth", 0),
                  c.size.width);
        EXPECT_EQ(fsv::platform::getProfileInt(ini, "Farsight Viewer Client", "PanelHeight", 0),
                  c.size.height);
    }
}

TEST(Settings, MainWindowPositionFromKorSetAppPos) {
    const std::string twoScreens =
        "[Main]\nDisplayMode=1\nResolution1=1280,1024\nResolution2=1024,768\n";
    struct Case {
        std::string file;
        std::optional<WindowPosition> pos;
    } cases[] = {
        {twoScreens + "[FSV]\nMoniter=1\nPos=3\n", WindowPosition{1504, 168}},
        {twoScreens + "[FSV]\nMoniter=1\nPos=0\n", WindowPosition{1280, 0}},
        {twoScreens + "[FSV]\nMoniter=1\nPos=4\nX=10\nY=20\n", WindowPosition{1290, 20}},
        {twoScreens + "[FSV]\nMoniter=0\nPos=1\n", WindowPosition{480, 0}},
        {twoScreens + "[FSV]\nMoniter=0\nPos=2\n", WindowPosition{0, 424}},
        // One screen: the current screen (1920 x 1080); the monitor does not count.
        {"[Main]\nDisplayMode=0\n[FSV]\nMoniter=1\nPos=3\n", WindowPosition{1120, 480}},
        {"[Main]\nDisplayMode=01\n[FSV]\nMoniter=1\nPos=3\n", WindowPosition{1120, 480}},
        {"[Main]\nDisplayMode=0\n[FSV]\nMoniter=0\nPos=4\nX=7\nY=9\n", WindowPosition{7, 9}},
        {"", std::nullopt},
        {"[Main]\nDisplayMode=0\n[FSV]\nMoniter=0\n", std::nullopt},
        {"[Main]\nDisplayMode=0\n[FSV]\nPos=1\n", std::nullopt},
        {"[FSV]\nMoniter=0\nPos=1\n", std::nullopt},
        {"[Main]\nDisplayMode=0\n[FSV]\nMoniter=0\nPos=5\n", std::nullopt},
    };
    for (const auto& c : cases) {
        TempFolder dir;
        auto ini = iniWith(dir, "KorSetAppPos.ini", c.file);
        EXPECT_EQ(mainWindowPosition(ini, 800, 600, {1920, 1080}), c.pos) << c.file;
    }
    TempFolder dir;
    EXPECT_EQ(mainWindowPosition(dir / "missing.ini", 800, 600, {1920, 1080}), std::nullopt);
}
