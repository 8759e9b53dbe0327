#include "state/Settings.h"

#include "platform/Ini.h"
#include "platform/System.h"

namespace fsv::state {
namespace fs = std::filesystem;

fs::path settingsPath() { return platform::configFolder() / "FarsightViewer.ini"; }
fs::path appPositionPath() { return platform::configFolder() / "KorSetAppPos.ini"; }

Settings readSettings(const fs::path& ini) {
    Settings s;
    using platform::getProfileInt;
    s.maxChannel = getProfileInt(ini, kClientSection, "MaxChannel", 32);
    s.panelWidth = getProfileInt(ini, kClientSection, "PanelWidth", 800);
    s.panelHeight = getProfileInt(ini, kClientSection, "PanelHeight", 600);
    s.tell = getProfileInt(ini, kDownloadSection, "Tell", 1) != 0;
    s.overwrite = getProfileInt(ini, kDownloadSection, "Overwrite", 0) != 0;
    s.channelNum = getProfileInt(ini, kChannelTextSection, "ChannelNum", 1) != 0;
    s.serverName = getProfileInt(ini, kChannelTextSection, "ServerName", 1) != 0;
    s.cameraName = getProfileInt(ini, kChannelTextSection, "CameraName", 1) != 0;
    s.skinStyle = platform::getProfileString(ini, kSkinSection, "Style", "Metal_Style");
    s.waitSeconds = getProfileInt(ini, kConnectionSection, "Wait", kDefaultWaitSeconds);
    if (s.waitSeconds < 1 || s.waitSeconds > 3600) s.waitSeconds = kDefaultWaitSeconds;
    return s;
}

bool writeSettings(const fs::path& ini, const Settings& s) {
    using platform::writeProfileInt;
    bool ok = true;
    ok &= writeProfileInt(ini, kClientSection, "MaxChannel", s.maxChannel);
    ok &= writeProfileInt(ini, kClientSection, "PanelWidth", s.panelWidth);
    ok &= writeProfileInt(ini, kClientSection, "PanelHeight", s.panelHeight);
    ok &= writeProfileInt(ini, kDownloadSection, "Tell", s.tell);
    ok &= writeProfileInt(ini, kDownloadSection, "Overwrite", s.overwrite);
    ok &= writeProfileInt(ini, kChannelTextSection, "ChannelNum", s.channelNum);
    ok &= writeProfileInt(ini, kChannelTextSection, "ServerName", s.serverName);
    ok &= writeProfileInt(ini, kChannelTextSection, "CameraName", s.cameraName);
    return ok;
}

ScreenSize chooseMainWindowSize(const fs::path& ini, ScreenSize screen) {
    ScreenSize size{800, 600};
    // The size read is held to the size of the screen class it was read for: a width or a
    // height beyond it (a negative one counts as huge) gives that class's size.
    auto bounded = [&](ScreenSize largest) {
        size.width = platform::getProfileInt(ini, kClientSection, "PanelWidth", largest.width);
        size.height = platform::getProfileInt(ini, kClientSection, "PanelHeight", largest.height);
        if (static_cast<unsigned>(size.width) > static_cast<unsigned>(largest.width) ||
            static_cast<unsigned>(size.height) > static_cast<unsigned>(largest.height))
            size = largest;
    };
    if (screen.width > 1279 && screen.height > 1023)
        bounded({1280, 1024});
    else if (screen.width > 1023 && screen.height > 767)
        bounded({1024, 768});
    platform::writeProfileInt(ini, kClientSection, "PanelWidth", size.width);
    platform::writeProfileInt(ini, kClientSection, "PanelHeight", size.height);
    return size;
}

namespace {
// The values are read into 20-character buffers: longer text is cut to 19 characters.
std::string readBuffered(const fs::path& ini, const char* section, const char* key,
                         const char* defaultValue, size_t buffer = 20) {
    std::string v = platform::getProfileString(ini, section, key, defaultValue);
    if (v.size() > buffer - 1) v.resize(buffer - 1);
    return v;
}

ScreenSize resolution(const std::string& text) {
    size_t comma = text.find(',');
    ScreenSize s;
    s.width = platform::profileNumber(text.substr(0, comma));
    if (comma != std::string::npos) s.height = platform::profileNumber(text.substr(comma + 1));
    return s;
}
}  // namespace

std::optional<WindowPosition> mainWindowPosition(const fs::path& ini, int width, int height,
                                                 ScreenSize screen) {
    // DisplayMode goes into a 2-byte buffer: only its first character counts.
    std::string mode = readBuffered(ini, "Main", "DisplayMode", "", 2);
    if (mode.empty()) return std::nullopt;
    const bool twoScreens = platform::profileNumber(mode) != 0;
    ScreenSize first = screen, second;
    if (twoScreens) {
        first = resolution(readBuffered(ini, "Main", "Resolution1", "0,0"));
        second = resolution(readBuffered(ini, "Main", "Resolution2", "0,0"));
    }
    std::string monitor = readBuffered(ini, "FSV", "Moniter", "");
    if (monitor.empty()) return std::nullopt;
    std::string pos = readBuffered(ini, "FSV", "Pos", "");
    if (pos.empty()) return std::nullopt;
    const int x = platform::profileNumber(readBuffered(ini, "FSV", "X", "0"));
    const int y = platform::profileNumber(readBuffered(ini, "FSV", "Y", "0"));

    const bool onSecond = twoScreens && platform::profileNumber(monitor) != 0;
    const int w1 = first.width, h1 = first.height, w2 = second.width, h2 = second.height;
    switch (platform::profileNumber(pos)) {
        case 0:
            return onSecond ? WindowPosition{w1, 0} : WindowPosition{0, 0};
        case 1:
            return onSecond ? WindowPosition{w1 + w2 - width, 0} : WindowPosition{w1 - width, 0};
        case 2:
            return onSecond ? WindowPosition{w1, h2 - height} : WindowPosition{0, h1 - height};
        case 3:
            return onSecond ? WindowPosition{w1 + w2 - width, h2 - height}
                            : WindowPosition{w1 - width, h1 - height};
        case 4:
            return onSecond ? WindowPosition{w1 + x, y} : WindowPosition{x, y};
        default:
            return std::nullopt;
    }
}

int panelChoiceFor(int panelWidth) {
    if (panelWidth == 1024) return 1;
    if (panelWidth == 1280) return 2;
    return 0;
}

ScreenSize panelSizeFor(int choice) {
    if (choice == 1) return {1024, 768};
    if (choice == 2) return {1280, 1024};
    return {800, 600};
}

}  // namespace fsv::state
