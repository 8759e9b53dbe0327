#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "skin/Profile.h"
#include "skin/Skin.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace fsv::skin;

namespace {

struct TempDir {
    fsv::test::TempDir dir{"fsv-skin"};
    const fs::path& path = dir.path();
    void write(const fs::path& rel, const std::string& text) const {
        fs::create_directories((path / rel).parent_path());
        std::ofstream(path / rel, std::ios::binary) << text;
    }
};

}  // namespace

TEST(SkinFolder, ChoiceByStyleAndWidth) {
    struct Case {
        const char* style;
        int width;
        const char* folder;
    } cases[] = {
        {"Blue", 1024, "Blue/FarsightViewer_CommRes1024"},
        {"Metal_Style", 800, "Metal_Style/FarsightViewer_CommRes"},
        {"Metal_Style", 1280, "Metal_Style/FarsightViewer_CommRes1280"},
        {"Blue", 900, "FarsightViewer_CommRes"},
        {"Blue", 0, "FarsightViewer_CommRes"},
    };
    for (const auto& c : cases) EXPECT_EQ(skinFolderName(c.style, c.width), fs::path(c.folder));
}

TEST(SkinFolder, DataFolderFirstThenBesideTheProgram) {
    TempDir data, program;
    const fs::path rel = "Blue/FarsightViewer_CommRes1024";
    // Only beside the program: found there.
    program.write(rel / "skin_e.ini", "[Main]\nPanel=a.bmp\n");
    EXPECT_EQ(findSkinFolder("Blue", 1024, {data.path, program.path}), program.path / rel);
    EXPECT_EQ(findSkinFolder("Blue", 1024, {data.path, program.path}) / kSkinFile,
              program.path / "Blue/FarsightViewer_CommRes1024/skin_e.ini");
    // In both: the data folder wins.
    data.write(rel / "skin_e.ini", "");
    EXPECT_EQ(findSkinFolder("Blue", 1024, {data.path, program.path}), data.path / rel);
    // Nowhere: the first root, so the skin loads empty and nothing else happens.
    EXPECT_EQ(findSkinFolder("Red", 800, {data.path, program.path}),
              data.path / "Red/FarsightViewer_CommRes");
    EXPECT_TRUE(loadSkin(data.path / "Red/FarsightViewer_CommRes").controls.buttonLines.empty());
}

TEST(SkinStrips, NamesFromTheUpStrip) {
    std::string s[5];
    stripNames("ctlUp.bmp", s);
    EXPECT_EQ(s[0], "ctlUp.bmp");
    EXPECT_EQ(s[1], "ctlDown.bmp");
    EXPECT_EQ(s[2], "ctlDisable.bmp");
    EXPECT_EQ(s[3], "ctlPlay.bmp");
    EXPECT_EQ(s[4], "ctlFocus.bmp");
    stripNames("sub/toolUp.BMP", s);  // the stem keeps its folder; the new names end in .bmp
    EXPECT_EQ(s[4], "sub/toolFocus.bmp");
    stripNames("plain.bmp", s);  // no "Up.": only the up strip
    EXPECT_EQ(s[0], "plain.bmp");
    for (int i = 1; i < 5; ++i) EXPECT_TRUE(s[i].empty());
}

TEST(SkinTokens, LastTokenIsTheRestAndNumbersByLeadingDigits) {
    const auto t = splitTokens("a,12px,-3,tip, with, commas", 4);
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[3], "tip, with, commas");
    EXPECT_EQ(tokenNumber(t[1]), 12);
    EXPECT_EQ(tokenNumber(t[2]), -3);
    EXPECT_EQ(tokenNumber("x9"), 0);
    EXPECT_EQ(tokenNumber("99999999999999999999"), INT32_MAX);
    const auto few = splitTokens("a,,b", 5);  // empty and absent tokens are both empty
    EXPECT_EQ(few[1], "");
    EXPECT_EQ(few[2], "b");
    EXPECT_EQ(few[4], "");
}

TEST(SkinProfile, CaseOrderAndBuffers) {
    std::string longKeys = "[L]\n";
    for (int i = 0; i < 40; ++i) longKeys += "key" + std::to_string(100 + i) + "=v\n";
    longKeys += "[b]\nK=" + std::string(400, 'x') + "\nk=second\n[B]\nK=third\n";
    const Profile p(longKeys);
    const auto keys = p.keys("l");
    // Each name takes 7 characters with its terminator: 37 fit whole in 260 with the final one.
    ASSERT_EQ(keys.size(), 37u);
    EXPECT_EQ(keys.front(), "key100");
    EXPECT_EQ(keys.back(), "key136");
    EXPECT_EQ(p.value("B", "k").size(), 259u);  // first key and section win; 259 characters
    EXPECT_EQ(p.value("nope", "k"), "");
}

TEST(SkinButtons, LinesIndexesAndSkippedEntries) {
    const Controls c = parseControls(R"([ButtonLines]
Layout=btn\layoutUp.bmp
Tool=toolUp.bmp
[ButtonLayout]
b0=one,10,20,0,0,30,24,One panel,TRUE
b1=,10,20,0,0,30,24,tip,FALSE
b2=noX,,20,0,0,30,24,tip,FALSE
b3=noY,10,,0,0,30,24,tip,FALSE
b4=noTip,10,20,0,0,30,24,,FALSE
b5=nullTip,40,20,30,0,30,24,nUlL,true
b6=noToggle,10,20,0,0,30,24,tip,
b7=rest,70,20,60,0,30,24,Tip,TrUe, and more
b8=noSize,10,20,0,0,,24,tip,TRUE
[BUTTONTOOL]
t0=setup,1,2,3,4,5,6,Setup,False
)");
    ASSERT_EQ(c.buttonLines.size(), 2u);
    const ButtonLine& l0 = c.buttonLines[0];
    EXPECT_EQ(l0.strips[0], "btn\\layoutUp.bmp");
    EXPECT_EQ(l0.strips[1], "btn\\layoutDown.bmp");
    std::map<std::string, ButtonSpec> by;
    for (const auto& b : l0.buttons) by[b.name] = b;
    ASSERT_EQ(by.size(), 3u);  // one, nullTip and rest; the others miss a required token
    EXPECT_EQ(by["one"].index, 0);
    EXPECT_TRUE(by["one"].toggle);
    EXPECT_EQ(by["one"].tooltip, "One panel");
    EXPECT_EQ(by["one"].source, (Rect{0, 0, 30, 24}));
    EXPECT_EQ(by["nullTip"].index, 5);  // the key's place gives the index, skipped keys count
    EXPECT_EQ(by["nullTip"].tooltip, "");
    EXPECT_TRUE(by["nullTip"].toggle);
    // The toggle token is the rest of the line: "TrUe, and more" is not "TRUE".
    EXPECT_FALSE(by["rest"].toggle);
    EXPECT_EQ(c.buttonLines[1].buttons.at(0).line, 1);
    EXPECT_FALSE(c.buttonLines[1].buttons.at(0).toggle);
}

TEST(SkinControls, SlidersPanelsAndTheOtherKinds) {
    const Controls c = parseControls(R"([SliderLines]
Pos=slider.bmp
[SliderPos]
s=pos,5,6,0,0,200,20,horz,0,20,12,20,12,,position
s2=vert,5,6,0,0,20,200,VERT,0,0,1,1,,,
[Panles]
Info=info.bmp
[PanelInfo]
p=info,100,200,0,0,300,40
t1=chTXT,4,5,60,30,DejaVu Sans,-14,1,0,1,255,128,0,0,TRUE
i1=leds,10,10,leds.bmp,3,8,8,9,9
t2=timeTXT,70,5,90,30,Mono,16,0,0,0,1,2,3,0,no
i2=short,10,10,leds.bmp,5,8,8
[ProgressLines]
Down=prog.bmp
[ProgressDown]
p=bar,1,2,0,0,100,10,0,10,100,10,
[ComboBoxLines]
C=combo.bmp
[ComboBoxC]
c=list,1,2,80,20,0,0,Pick one, please
[EditCtrlLines]
E=edit.bmp
[EditCtrlE]
e=name,1,2,80,20,Sans,12,255,255,255,NULL
[StaticEdit]
s=status,3,4,100,16,Sans,12,0,0,0,200,200,200,0,TRUE
)");
    ASSERT_EQ(c.sliderLines.size(), 1u);
    ASSERT_EQ(c.sliderLines[0].items.size(), 1u);  // the vertical one has an empty rest
    const SliderSpec& s = c.sliderLines[0].items[0];
    EXPECT_TRUE(s.horizontal);
    EXPECT_EQ(s.background, (Rect{0, 0, 200, 20}));
    EXPECT_EQ(s.activeX, 12);
    EXPECT_EQ(s.activeY, 20);  // missing: the normal thumb's y
    EXPECT_EQ(s.text, "position");

    ASSERT_TRUE(c.panelLines.at(0).panel);
    const PanelSpec& p = *c.panelLines[0].panel;
    EXPECT_EQ(p.source, (Rect{0, 0, 300, 40}));
    ASSERT_EQ(p.texts.size(), 2u);
    EXPECT_EQ(p.texts[0].face, "DejaVu Sans");
    EXPECT_EQ(p.texts[0].height, -14);
    EXPECT_TRUE(p.texts[0].italic && p.texts[0].strikeout && !p.texts[0].underline);
    EXPECT_EQ(p.texts[0].green, 128);
    EXPECT_TRUE(p.texts[0].flag);
    EXPECT_FALSE(p.texts[1].flag);
    ASSERT_EQ(p.imageSets.size(), 2u);
    EXPECT_EQ(p.imageSets[0].sizes, (std::vector<std::pair<int, int>>{{8, 8}, {9, 9}}));
    EXPECT_EQ(p.imageSets[1].sizes.size(), 1u);  // five announced, one given

    EXPECT_EQ(c.progressLines.at(0).items.at(0).bar, (Rect{0, 10, 100, 10}));
    EXPECT_EQ(c.comboLines.at(0).items.at(0).tooltip, "Pick one, please");
    EXPECT_EQ(c.editLines.at(0).items.at(0).tooltip, "");
    EXPECT_EQ(c.statics.at(0).blue, 200);
}

TEST(SkinFiles, PanelWindowsAndAbsurdInput) {
    TempDir d;
    d.write("skin_e.ini",
            "[Main]\nPanel=main.bmp\n[DlgBoxInis]\nA=side.ini,x\nB=gone.ini\n"
            "[ButtonLines]\nL=u.bmp\n[ButtonL]\n"
            "a=neg,-5,-99999999999,-10,-10,-30,24,t,TRUE\n"
            "b=huge,1,1,2000000000,0,99999,99999,t,TRUE\n");
    d.write("side.ini",
            "[DialogBox]\nSkin=side.bmp,10,20,300,200\n[StaticEdit]\n"
            "s=status,3,4,100,16,Sans,12,0,0,0,200,200,200,0,TRUE\n");
    const SkinSpec s = loadSkin(d.path);
    EXPECT_EQ(s.panel, "main.bmp");
    ASSERT_EQ(s.windows.size(), 2u);
    EXPECT_EQ(s.windows[0].background, "side.bmp");
    EXPECT_EQ(s.windows[0].place, (Rect{10, 20, 300, 200}));
    EXPECT_EQ(s.windows[0].controls.statics.size(), 1u);
    EXPECT_TRUE(s.windows[1].background.empty());  // missing file: an empty window in its place
    // A negative size is no size; huge numbers are held to the bounds.
    const auto& buttons = s.controls.buttonLines.at(0).buttons;
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0].source, (Rect{kMaxExtent, 0, kMaxExtent, kMaxExtent}));

    // Binary garbage loads as nothing.
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
    const SkinSpec g = parseSkin(junk, nullptr);
    EXPECT_TRUE(g.controls.buttonLines.empty());
}

TEST(SkinProfile, ManySectionsAndKeysKeepTheFirstOfEach) {
    // Tens of thousands of sections and keys, each name also repeated in another case.
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        const std::string n = std::to_string(i);
        text += "[S" + n + "]\nk=first" + n + "\nK=second\n[s" + n + "]\nk=third\n";
    }
    text += "[Many]\n";
    for (int i = 0; i < 20000; ++i)
        text += "key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    const Profile p(text);
    EXPECT_EQ(p.value("s0", "K"), "first0");
    EXPECT_EQ(p.value("S19999", "k"), "first19999");
    EXPECT_EQ(p.value("many", "KEY12345"), "12345");
    EXPECT_EQ(p.keys("S7").size(), 1u);
    EXPECT_EQ(p.value("S20000", "k"), "");
}

TEST(SkinFiles, PanelWindowFilesShareOneBudget) {
    // Sixty windows all naming one file of almost 1 MiB: only the first two are read.
    std::string ini = "[DlgBoxInis]\n";
    for (int i = 0; i < 60; ++i) ini += "w" + std::to_string(i) + "=big.ini\n";
    std::string big = "[DialogBox]\nSkin=b.bmp,1,2,3,4\n[StaticEdit]\n";
    while (big.size() < kMaxPanelWindowText / 2 - 100)
        big += "s=status,3,4,100,16,Sans,12,0,0,0,200,200,200,0,TRUE\n";
    int reads = 0;
    const SkinSpec s = parseSkin(ini, [&](const std::string&) {
        ++reads;
        return std::optional<std::string>(big);
    });
    ASSERT_EQ(s.windows.size(), 60u);
    EXPECT_EQ(s.windows[0].background, "b.bmp");
    EXPECT_EQ(s.windows[1].place, (Rect{1, 2, 3, 4}));
    EXPECT_TRUE(s.windows[2].background.empty());
    EXPECT_TRUE(s.windows[59].controls.statics.empty());
    EXPECT_LE(reads, 3);
}
