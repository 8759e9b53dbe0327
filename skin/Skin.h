#pragma once
// The skin of the main window: which folder holds it, and what its description files place.
// Reading is forgiving: a line missing what it needs is skipped, a missing file leaves its part
// empty, and numbers are kept within sane bounds, so any file loads what it can.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fsv::skin {

inline constexpr char kSkinFile[] = "skin_e.ini";
// The process-wide button table holds 16 buttons per line.
inline constexpr int kButtonsPerLine = 16;
// Sizes and positions are clamped to these bounds; a size is never negative.
inline constexpr int kMaxExtent = 8192;
inline constexpr int kMaxImagesPerSet = 64;
// The panel-window files of one skin are read up to this many bytes in all; windows whose
// files come after that stay empty.
inline constexpr size_t kMaxPanelWindowText = 2u << 20;

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Rect&) const = default;
};

// The five images of a button, in this order in `ButtonLine::strips`.
enum class Strip { Up = 0, Down, Disable, Play, Focus };

struct ButtonSpec {
    std::string name;
    int line = 0, index = 0;
    int x = 0, y = 0;
    Rect source;          // the piece of every strip
    std::string tooltip;  // empty: no tooltip
    bool toggle = false;
};

struct ButtonLine {
    std::string key;
    std::string strips[5];  // file names relative to the skin folder; empty when there is none
    std::vector<ButtonSpec> buttons;
};

struct SliderSpec {
    std::string name;
    int x = 0, y = 0;
    Rect background;
    bool horizontal = false;
    Rect thumb;
    int activeX = 0, activeY = 0;  // the active thumb: same size as `thumb`
    std::string text;
};

struct TextItem {
    std::string name;
    Rect rect;
    std::string face;
    int height = 0;
    bool italic = false, underline = false, strikeout = false;
    int red = 0, green = 0, blue = 0;
    bool flag = false;
};

struct ImageSet {
    std::string name;
    int x = 0, y = 0;
    std::string file;
    std::vector<std::pair<int, int>> sizes;  // (w, h) of each image
};

struct PanelSpec {
    std::string name;
    int x = 0, y = 0;
    Rect source;
    std::vector<TextItem> texts;
    std::vector<ImageSet> imageSets;
};

struct ProgressSpec {
    std::string name;
    int x = 0, y = 0;
    Rect background, bar;
    bool horizontal = true;
};

struct ComboSpec {
    std::string name;
    int x = 0, y = 0, w = 0, h = 0;
    int sx = 0, sy = 0;  // background piece (w x h) of the line's bitmap
    std::string tooltip;
};

struct EditSpec {
    std::string name;
    int x = 0, y = 0, w = 0, h = 0;
    std::string face;
    int height = 0;
    int red = 0, green = 0, blue = 0;
    std::string tooltip;
};

// A line of any kind but buttons: its key, its bitmap and its controls.
template <typename T>
struct Line {
    std::string key;
    std::string bitmap;
    std::vector<T> items;
};

struct PanelLine {
    std::string key;
    std::string bitmap;
    std::optional<PanelSpec> panel;
};

struct Controls {
    std::vector<ButtonLine> buttonLines;
    std::vector<Line<SliderSpec>> sliderLines;
    std::vector<PanelLine> panelLines;
    std::vector<Line<ProgressSpec>> progressLines;
    std::vector<Line<ComboSpec>> comboLines;
    std::vector<Line<EditSpec>> editLines;
    std::vector<TextItem> statics;
};

struct PanelWindowSpec {
    std::string name;  // its key in the skin's list of panel windows ("Side", "Status")
    std::string file;
    std::string background;
    Rect place;
    Controls controls;
};

struct SkinSpec {
    std::string panel;  // the main surface's bitmap
    Controls controls;
    std::vector<PanelWindowSpec> windows;
};

// Folder of a style at a panel width, relative to the folder that holds the styles:
// "Blue/FarsightViewer_CommRes1024" at 1024, and "FarsightViewer_CommRes" for a width that has
// no layout of its own.
std::filesystem::path skinFolderName(std::string_view style, int width);

// Where skins are looked for, in order: the data folder, then beside the running program (its
// own folder, the folder above it, and ../share/FarsightViewer for an installed program).
std::vector<std::filesystem::path> defaultSkinRoots();

// The first of `roots` whose skin folder holds skin_e.ini; when none does, the folder under the
// first root (its files then are all missing and the skin loads empty).
std::filesystem::path findSkinFolder(std::string_view style, int width,
                                     const std::vector<std::filesystem::path>& roots);

// Reads a panel-window file by its name relative to the skin folder; nullopt when missing.
using FileReader = std::function<std::optional<std::string>(const std::string& name)>;

// Parses skin_e.ini text; panel-window files come through `read`.
SkinSpec parseSkin(std::string_view skinIni, const FileReader& read);
// The controls of one description text (skin_e.ini or a panel-window file).
Controls parseControls(std::string_view text);
// The names of a button line's strips from its up-strip name.
void stripNames(const std::string& upName, std::string (&out)[5]);

// Reads the files of a skin folder. Files over 1 MiB are taken as missing.
SkinSpec loadSkin(const std::filesystem::path& folder);

}  // namespace fsv::skin
