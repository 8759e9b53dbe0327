#include "skin/Skin.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "platform/System.h"
#include "skin/Profile.h"

namespace fsv::skin {
namespace {

namespace fs = std::filesystem;

int coord(const std::string& t) { return std::clamp(tokenNumber(t), -kMaxExtent, kMaxExtent); }
int extent(const std::string& t) { return std::clamp(tokenNumber(t), 0, kMaxExtent); }
int colour(const std::string& t) { return std::clamp(tokenNumber(t), 0, 255); }
bool isTrue(const std::string& t) { return equalsNoCase(t, "TRUE"); }
Rect rect(const std::vector<std::string>& t, size_t at) {
    return Rect{extent(t[at]), extent(t[at + 1]), extent(t[at + 2]), extent(t[at + 3])};
}

// Calls `each(key, value, index)` for every key of the line's own section, in file order.
template <typename F>
void forEachEntry(const Profile& p, const std::string& section, F each) {
    const std::vector<std::string> keys = p.keys(section);
    for (size_t i = 0; i < keys.size(); ++i) each(p.value(section, keys[i]), static_cast<int>(i));
}

// name,x,y,w,h,face,height,italic,underline,strikeout,red,green,blue,spare,flag
std::optional<TextItem> textItem(const std::string& value) {
    const auto t = splitTokens(value, 15);
    if (t[0].empty() || t[1].empty() || t[2].empty()) return std::nullopt;
    TextItem item;
    item.name = t[0];
    item.rect = Rect{coord(t[1]), coord(t[2]), extent(t[3]), extent(t[4])};
    item.face = t[5];
    item.height = std::clamp(tokenNumber(t[6]), -1000, 1000);
    item.italic = tokenNumber(t[7]) != 0;
    item.underline = tokenNumber(t[8]) != 0;
    item.strikeout = tokenNumber(t[9]) != 0;
    item.red = colour(t[10]);
    item.green = colour(t[11]);
    item.blue = colour(t[12]);
    item.flag = isTrue(t[14]);
    return item;
}

void buttonLines(const Profile& p, Controls& c) {
    const auto lines = p.keys("ButtonLines");
    for (size_t n = 0; n < lines.size(); ++n) {
        ButtonLine line;
        line.key = lines[n];
        stripNames(p.value("ButtonLines", lines[n]), line.strips);
        forEachEntry(p, "Button" + lines[n], [&](const std::string& v, int index) {
            const auto t = splitTokens(v, 9);
            if (index >= kButtonsPerLine) return;
            if (t[0].empty() || t[1].empty() || t[2].empty() || t[7].empty() || t[8].empty())
                return;
            // A button needs its piece of the strips: without all four numbers it is skipped.
            if (t[3].empty() || t[4].empty() || t[5].empty() || t[6].empty()) return;
            ButtonSpec b;
            b.name = t[0];
            b.line = static_cast<int>(n);
            b.index = index;
            b.x = coord(t[1]);
            b.y = coord(t[2]);
            b.source = rect(t, 3);
            if (b.source.w == 0 || b.source.h == 0) return;
            if (!equalsNoCase(t[7], "NULL")) b.tooltip = t[7];
            b.toggle = isTrue(t[8]);
            line.buttons.push_back(std::move(b));
        });
        c.buttonLines.push_back(std::move(line));
    }
}

void sliderLines(const Profile& p, Controls& c) {
    for (const std::string& key : p.keys("SliderLines")) {
        Line<SliderSpec> line{key, p.value("SliderLines", key), {}};
        forEachEntry(p, "Slider" + key, [&](const std::string& v, int) {
            const auto t = splitTokens(v, 15);
            if (t[0].empty() || t[1].empty() || t[2].empty() || t[14].empty()) return;
            SliderSpec s;
            s.name = t[0];
            s.x = coord(t[1]);
            s.y = coord(t[2]);
            s.background = rect(t, 3);
            s.horizontal = equalsNoCase(t[7], "HORZ");
            s.thumb = rect(t, 8);
            s.activeX = t[12].empty() ? s.thumb.x : extent(t[12]);
            s.activeY = t[13].empty() ? s.thumb.y : extent(t[13]);
            s.text = t[14];
            line.items.push_back(std::move(s));
        });
        c.sliderLines.push_back(std::move(line));
    }
}

void panelLines(const Profile& p, Controls& c) {
    for (const std::string& key : p.keys("Panles")) {
        PanelLine line{key, p.value("Panles", key), std::nullopt};
        forEachEntry(p, "Panel" + key, [&](const std::string& v, int index) {
            if (index == 0) {
                const auto t = splitTokens(v, 7);
                if (t[0].empty() || t[1].empty() || t[2].empty()) return;
                line.panel = PanelSpec{t[0], coord(t[1]), coord(t[2]), rect(t, 3), {}, {}};
                return;
            }
            if (!line.panel) return;  // items of a panel that was not made
            if (splitTokens(v, 2)[0].find("TXT") != std::string::npos) {
                if (auto item = textItem(v)) line.panel->texts.push_back(std::move(*item));
                return;
            }
            // name,x,y,file,n, then w,h for each of the n images
            const auto t = splitTokens(v, 5 + 2 * kMaxImagesPerSet + 1);
            if (t[0].empty() || t[3].empty()) return;
            ImageSet set{t[0], coord(t[1]), coord(t[2]), t[3], {}};
            const int n = std::clamp(tokenNumber(t[4]), 0, kMaxImagesPerSet);
            for (int i = 0; i < n; ++i) {
                const auto& w = t[5 + 2 * i];
                const auto& h = t[6 + 2 * i];
                if (w.empty() || h.empty()) break;
                set.sizes.emplace_back(extent(w), extent(h));
            }
            line.panel->imageSets.push_back(std::move(set));
        });
        c.panelLines.push_back(std::move(line));
    }
}

void progressLines(const Profile& p, Controls& c) {
    for (const std::string& key : p.keys("ProgressLines")) {
        Line<ProgressSpec> line{key, p.value("ProgressLines", key), {}};
        forEachEntry(p, "Progress" + key, [&](const std::string& v, int) {
            const auto t = splitTokens(v, 12);
            if (t[0].empty() || t[1].empty() || t[2].empty()) return;
            ProgressSpec s{t[0], coord(t[1]), coord(t[2]), rect(t, 3), rect(t, 7), true};
            s.horizontal = t[11].empty() || equalsNoCase(t[11], "HORZ");
            line.items.push_back(std::move(s));
        });
        c.progressLines.push_back(std::move(line));
    }
}

void comboLines(const Profile& p, Controls& c) {
    for (const std::string& key : p.keys("ComboBoxLines")) {
        Line<ComboSpec> line{key, p.value("ComboBoxLines", key), {}};
        forEachEntry(p, "ComboBox" + key, [&](const std::string& v, int) {
            const auto t = splitTokens(v, 8);
            if (t[0].empty() || t[1].empty() || t[2].empty() || t[3].empty() || t[4].empty())
                return;
            ComboSpec s{t[0],         coord(t[1]),  coord(t[2]),  extent(t[3]),
                        extent(t[4]), extent(t[5]), extent(t[6]), t[7]};
            if (equalsNoCase(s.tooltip, "NULL")) s.tooltip.clear();
            line.items.push_back(std::move(s));
        });
        c.comboLines.push_back(std::move(line));
    }
}

void editLines(const Profile& p, Controls& c) {
    for (const std::string& key : p.keys("EditCtrlLines")) {
        Line<EditSpec> line{key, p.value("EditCtrlLines", key), {}};
        forEachEntry(p, "EditCtrl" + key, [&](const std::string& v, int) {
            const auto t = splitTokens(v, 11);
            if (t[0].empty() || t[1].empty() || t[2].empty() || t[3].empty() || t[4].empty())
                return;
            EditSpec s;
            s.name = t[0];
            s.x = coord(t[1]);
            s.y = coord(t[2]);
            s.w = extent(t[3]);
            s.h = extent(t[4]);
            s.face = t[5];
            s.height = std::clamp(tokenNumber(t[6]), -1000, 1000);
            s.red = colour(t[7]);
            s.green = colour(t[8]);
            s.blue = colour(t[9]);
            if (!equalsNoCase(t[10], "NULL")) s.tooltip = t[10];
            line.items.push_back(std::move(s));
        });
        c.editLines.push_back(std::move(line));
    }
}

std::optional<std::string> readSmallFile(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || size > (1u << 20)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data(size, '\0');
    in.read(data.data(), static_cast<std::streamsize>(size));
    data.resize(static_cast<size_t>(in.gcount()));
    return data;
}

}  // namespace

fs::path skinFolderName(std::string_view style, int width) {
    switch (width) {
        case 800:
            return fs::path(style) / "FarsightViewer_CommRes";
        case 1024:
            return fs::path(style) / "FarsightViewer_CommRes1024";
        case 1280:
            return fs::path(style) / "FarsightViewer_CommRes1280";
        default:
            return "FarsightViewer_CommRes";
    }
}

std::vector<fs::path> defaultSkinRoots() {
    std::vector<fs::path> roots{platform::dataFolder()};
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path dir = exe.parent_path();
        roots.push_back(dir);
        roots.push_back(dir.parent_path());
        roots.push_back(dir.parent_path() / "share" / "FarsightViewer");
    }
    return roots;
}

fs::path findSkinFolder(std::string_view style, int width, const std::vector<fs::path>& roots) {
    const fs::path rel = skinFolderName(style, width);
    std::error_code ec;
    for (const fs::path& root : roots)
        if (fs::is_regular_file(root / rel / kSkinFile, ec)) return root / rel;
    return roots.empty() ? rel : roots.front() / rel;
}

void stripNames(const std::string& upName, std::string (&out)[5]) {
    for (auto& s : out) s.clear();
    out[0] = upName;
    const size_t at = upName.find("Up.");
    if (at == std::string::npos) return;
    const std::string stem = upName.substr(0, at);
    out[static_cast<int>(Strip::Down)] = stem + "Down.bmp";
    out[static_cast<int>(Strip::Disable)] = stem + "Disable.bmp";
    out[static_cast<int>(Strip::Play)] = stem + "Play.bmp";
    out[static_cast<int>(Strip::Focus)] = stem + "Focus.bmp";
}

namespace {

Controls controlsOf(const Profile& p) {
    Controls c;
    buttonLines(p, c);
    sliderLines(p, c);
    panelLines(p, c);
    progressLines(p, c);
    comboLines(p, c);
    editLines(p, c);
    forEachEntry(p, "StaticEdit", [&](const std::string& v, int) {
        if (auto item = textItem(v)) c.statics.push_back(std::move(*item));
    });
    return c;
}

}  // namespace

Controls parseControls(std::string_view text) { return controlsOf(Profile(text)); }

SkinSpec parseSkin(std::string_view skinIni, const FileReader& read) {
    const Profile p(skinIni);
    SkinSpec skin;
    skin.panel = p.value("Main", "Panel");
    skin.controls = controlsOf(p);
    // Every panel-window file read counts against one budget, so a skin listing large files
    // (or one file many times) costs no more than a few of them would.
    size_t budget = kMaxPanelWindowText;
    for (const std::string& key : p.keys("DlgBoxInis")) {
        PanelWindowSpec w;
        w.name = key;
        w.file = splitTokens(p.value("DlgBoxInis", key), 2)[0];
        // A window whose file is missing, or is beyond the budget, keeps its place in the
        // table, empty.
        if (!w.file.empty() && read && budget > 0) {
            const auto text = read(w.file);
            if (text && text->size() > budget) budget = 0;  // this and every later one: empty
            if (text && budget > 0) {
                budget -= text->size();
                const Profile window(*text);
                const auto t = splitTokens(window.value("DialogBox", "Skin"), 5);
                w.background = t[0];
                w.place = Rect{coord(t[1]), coord(t[2]), extent(t[3]), extent(t[4])};
                w.controls = controlsOf(window);
            }
        }
        skin.windows.push_back(std::move(w));
    }
    return skin;
}

SkinSpec loadSkin(const fs::path& folder) {
    const auto text = readSmallFile(folder / kSkinFile);
    if (!text) return {};
    return parseSkin(*text, [&](const std::string& name) {
        std::string rel = name;
        std::replace(rel.begin(), rel.end(), '\\', '/');
        return readSmallFile(folder / rel);
    });
}

}  // namespace fsv::skin
