#pragma once
// The user settings in FarsightViewer.ini and the window placement of KorSetAppPos.ini, both
// in the config folder and both read through the profile-file functions.
//
// FarsightViewer.ini (decimal integers):
//   [Farsight Viewer Client] MaxChannel=32 PanelWidth=800 PanelHeight=600
//   [Download]               Tell=1 Overwrite=0
//   [Channel Text]           ChannelNum=1 ServerName=1 CameraName=1
//   [Skin]                   Style=Metal_Style   (read only)
//   [Connection]             Wait=30             (read only: seconds a recorder may stay
//                                                 silent while it is waited on, 1 to 3600)
// KorSetAppPos.ini (hand-written, read only):
//   [Main] DisplayMode= Resolution1=0,0 Resolution2=0,0
//   [FSV]  Moniter= Pos= X=0 Y=0

#include <filesystem>
#include <optional>
#include <string>

namespace fsv::state {

inline constexpr char kClientSection[] = "Farsight Viewer Client";
inline constexpr char kDownloadSection[] = "Download";
inline constexpr char kChannelTextSection[] = "Channel Text";
inline constexpr char kSkinSection[] = "Skin";
inline constexpr char kConnectionSection[] = "Connection";
inline constexpr int kDefaultWaitSeconds = 30;

struct Settings {
    int maxChannel = 32;     // channels the channel view may hold; no control edits it
    int panelWidth = 800;    // main window size; the width also picks the skin resolution
    int panelHeight = 600;   //
    bool tell = true;        // tell the user when a download is finished
    bool overwrite = false;  // overwrite existing files without asking
    bool channelNum = true;  // caption parts of the channel panels
    bool serverName = true;
    bool cameraName = true;
    std::string skinStyle = "Metal_Style";
    // How long a recorder may send nothing while something waits on it (the connect, a
    // question, a stream) before its session ends; outside 1 ... 3600 the default.
    int waitSeconds = kDefaultWaitSeconds;

    // How many parts a channel panel's caption has; 0: the panels show no caption.
    int captionPartCount() const { return int(channelNum) + int(serverName) + int(cameraName); }
    bool operator==(const Settings&) const = default;
};

// configFolder()/"FarsightViewer.ini" and configFolder()/"KorSetAppPos.ini".
std::filesystem::path settingsPath();
std::filesystem::path appPositionPath();

// The eight setup keys, the skin style and the wait, with the defaults where a key is missing.
// A flag is on when its value is not 0.
Settings readSettings(const std::filesystem::path& ini);
// Writes the eight setup keys (never the skin style or the wait). False when the file cannot be
// written; the values in memory stay valid for the run.
bool writeSettings(const std::filesystem::path& ini, const Settings& settings);

struct ScreenSize {
    int width = 0;
    int height = 0;
    bool operator==(const ScreenSize&) const = default;
};
struct WindowPosition {
    int left = 0;
    int top = 0;
    bool operator==(const WindowPosition&) const = default;
};

// The main window size at start-up from the screen size: a screen of at least 1280 x 1024
// takes PanelWidth/PanelHeight (defaults 1280, 1024), and 1280 x 1024 when either is larger;
// one of at least 1024 x 768 takes them with defaults 1024, 768, and 1024 x 768 when either
// is larger; a smaller one keeps 800 x 600 without reading. The result is written back to the
// file.
ScreenSize chooseMainWindowSize(const std::filesystem::path& ini, ScreenSize screen);

// Where KorSetAppPos.ini puts a window of `width` x `height`, or nullopt when the file does not
// give a complete position (then the window starts at 0, 0 and may be moved freely). `screen`
// stands for the first screen when DisplayMode is 0.
std::optional<WindowPosition> mainWindowPosition(const std::filesystem::path& appPosIni, int width,
                                                 int height, ScreenSize screen);

// The setup dialog's panel-resolution list: 1024 selects entry 1, 1280 entry 2, else entry 0;
// entry 1 gives 1024 x 768, entry 2 1280 x 1024, anything else 800 x 600.
int panelChoiceFor(int panelWidth);
ScreenSize panelSizeFor(int choice);

}  // namespace fsv::state
