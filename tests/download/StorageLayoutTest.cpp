#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/Bytes.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "recordings/download/StorageLayout.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace fsv;
using namespace fsv::download;

namespace {

struct NameCase {
    QueueKind queue;
    uint16_t code;
    const char* date;
    const char* time;
    uint32_t dateId;
    uint32_t lastFrame;
    const char* expected;
};

TEST(StorageLayout, NamesFollowChannelDayStemAndTail) {
    const NameCase cases[] = {
        {QueueKind::Video, 12, "20070101", "080509", 0, kWholeRecordingLastFrame,
         "root/Cam12/0101/Event20070101080509012.avi"},
        {QueueKind::Video, 1, "20060315", "123000", 0, kWholeRecordingLastFrame,
         "root/Cam01/0315/Event20060315123000001.avi"},
        {QueueKind::Video, 1, "20060315", "123000", 7, kWholeRecordingLastFrame,
         "root/Cam01/0315/Dst0720060315123000001.avi"},
        {QueueKind::Audio, 2, "20060315", "123000", 0, kWholeRecordingLastFrame,
         "root/Aud02/0315/Event20060315123000002.wav"},
        // End Frame 9001 is last frame 9000: still a clip; 9002 is not.
        {QueueKind::Video, 1, "20060315", "123000", 0, 9000,
         "root/Cam01/0315/Clip20060315123000001.avi"},
        {QueueKind::Video, 1, "20060315", "123000", 0, 9001,
         "root/Cam01/0315/Event20060315123000001.avi"},
        {QueueKind::Video, 1, "20060315", "123000", 7, 9001,
         "root/Cam01/0315/Dst0720060315123000001.avi"},
        // Only the video queue makes clips.
        {QueueKind::File, 1, "20060315", "123000", 0, 0,
         "root/Cam01/0315/Event20060315123000001.avi"},
        {QueueKind::Video, 123, "20060315", "123000", 0, kWholeRecordingLastFrame,
         "root/Cam123/0315/Event20060315123000123.avi"},
    };
    for (const auto& c : cases) {
        PathInputs in{"root", c.queue, c.code, c.date, c.time, c.dateId, c.lastFrame};
        EXPECT_EQ(makeOutputPath(in), c.expected);
        in.root = "root/";
        EXPECT_EQ(makeOutputPath(in), c.expected) << "root with its slash";
    }
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fsv::test::makeTempDir("fsv_download");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string file(const std::string& name) { return (dir / name).string(); }
    void write(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    fs::path dir;
};

// A RIFF file of the given form with the listed chunks; `cut` bytes are taken off the end.
std::vector<uint8_t> riff(const char* form, std::vector<std::pair<std::string, size_t>> chunks,
                          size_t cut = 0) {
    fsv::platform::ByteWriter w;
    w.bytes("RIFF", 4).u32(0).bytes(form, 4);
    for (auto& [id, size] : chunks) {
        w.bytes(id.data(), 4).u32(static_cast<uint32_t>(size)).zeros(size + (size & 1));
    }
    w.patchU32(4, static_cast<uint32_t>(w.size() - 8));
    auto bytes = w.take();
    if (cut > 0 && cut <= bytes.size())
        bytes.erase(bytes.end() - static_cast<long>(cut), bytes.end());
    return bytes;
}

TEST_F(TempDir, FoldersAreCreatedLevelByLevel) {
    std::string path = makeOutputPath({dir.string(), QueueKind::Video, 3, "20070101", "080509"});
    createFolders(path);
    EXPECT_TRUE(fs::is_directory(dir / "Cam03" / "0101"));
    EXPECT_FALSE(fs::exists(path)) << "only folders are made";
    createFolders(path);  // existing folders are left alone
    EXPECT_TRUE(fs::is_directory(dir / "Cam03" / "0101"));
}

TEST_F(TempDir, CompletenessCheckLooksForAWholeIndex) {
    struct {
        std::vector<uint8_t> bytes;
        AviCompleteness expected;
    } cases[] = {
        {riff("AVI ", {{"LIST", 20}, {"LIST", 40}, {"idx1", 32}}), AviCompleteness::Complete},
        {riff("AVI ", {{"LIST", 20}, {"LIST", 40}, {"idx1", 32}}, 5), AviCompleteness::Incomplete},
        {riff("AVI ", {{"LIST", 20}, {"LIST", 40}}), AviCompleteness::Incomplete},
        {riff("AVI ", {{"LIST", 20}, {"LIST", 4000}}, 3900), AviCompleteness::Incomplete},
        {riff("WAVE", {{"fmt ", 16}, {"data", 100}}), AviCompleteness::NotAvi},
        {{'R', 'I', 'F'}, AviCompleteness::NotAvi},
    };
    int n = 0;
    for (auto& c : cases) {
        std::string path = file("f" + std::to_string(n++));
        write(path, c.bytes);
        EXPECT_EQ(checkAviCompleteness(path), c.expected) << "case " << n;
    }
    EXPECT_EQ(checkAviCompleteness(file("missing")), AviCompleteness::NotAvi);
}

TEST(DiskCheck, FreeSpaceMustExceedTheNeed) {
    EXPECT_FALSE(spaceSuffices(1000, 1000));
    EXPECT_TRUE(spaceSuffices(1001, 1000));

    ScriptedUserPort port;
    uint64_t free = 1000;
    FreeSpaceFn space = [&](const fs::path& p) -> std::optional<uint64_t> {
        return p.string().rfind("/big/", 0) == 0 ? 1u << 30 : free;
    };
    EXPECT_EQ(checkStreamDisk("/small/Cam01/0101/E.avi", 999, port, space),
              "/small/Cam01/0101/E.avi");
    EXPECT_TRUE(port.boxes().empty());

    // Equal is not enough: the user is told and picks another folder; the name stays.
    port.folderAnswer = "/big";
    EXPECT_EQ(checkStreamDisk("/small/Cam01/0101/E.avi", 1000, port, space), "/big/E.avi");
    ASSERT_EQ(port.boxes().size(), 1u);
    EXPECT_EQ(port.boxes()[0].text,
              "Destination disk drive doesn't have enough space. Total need 0 KB\n"
              "/small/Cam01/0101/E.avi");
    EXPECT_EQ(port.boxes()[0].type, mb::kIconStop);

    port.folderAnswer.clear();  // cancel
    EXPECT_EQ(checkStreamDisk("/small/E.avi", 5000, port, space), "");
    EXPECT_EQ(chooseDestination("/small/", 5000, port, space), "");
    port.folderAnswer = "/big";
    EXPECT_EQ(chooseDestination("/small/", 5000, port, space), "/big/");
}

TEST_F(TempDir, ExistingFileDecision) {
    const auto incomplete = riff("AVI ", {{"LIST", 20}, {"LIST", 400}});
    const auto complete = riff("AVI ", {{"LIST", 20}, {"idx1", 16}});
    const auto wav = riff("WAVE", {{"data", 100}});
    using O = FilePlan::Outcome;
    using A = ExistingFileAnswer;
    struct Case {
        const char* name;
        std::vector<uint8_t> existing;  // empty: no file
        uint8_t mode;
        bool append, overwriteSetting;
        A answer;
        O expected;
        bool asked, fileKept;
    } cases[] = {
        {"no file", {}, 11, false, false, A::Abort, O::Create, false, false},
        {"overwrite setting", incomplete, 11, false, true, A::Abort, O::Create, false, true},
        {"resume item skips the question", incomplete, 11, true, true, A::Abort, O::Resume, false,
         true},
        {"abort", incomplete, 11, false, false, A::Abort, O::Abort, true, true},
        {"overwrite", incomplete, 11, false, false, A::Overwrite, O::Create, true, true},
        {"file download resumes an incomplete file", incomplete, 11, false, false, A::Resume,
         O::Resume, true, true},
        {"file download redoes a complete file", complete, 11, false, false, A::Resume, O::Create,
         true, false},
        {"play download continues a complete file", complete, 10, false, false, A::Resume,
         O::Append, true, true},
        {"play download redoes an incomplete file", incomplete, 10, false, false, A::Resume,
         O::Create, true, false},
        {"audio is never resumed", wav, 11, true, false, A::Abort, O::Create, false, false},
        // Work from a resume file replaces only an unfinished recording; anything else stays.
        {"resumed play download redoes an incomplete file", incomplete, 10, true, false, A::Abort,
         O::Create, false, false},
        {"resumed item leaves a complete file alone", complete, 11, true, false, A::Abort, O::Abort,
         false, true},
        {"resumed item leaves other files alone",
         {'n', 'o', 't', 'e', 's'},
         11,
         true,
         false,
         A::Abort,
         O::Abort,
         false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = file(c.existing == wav ? "E.wav" : "E.avi");
        fs::remove(path);
        if (!c.existing.empty()) write(path, c.existing);
        ScriptedUserPort port;
        port.onExistingFile = [&](const fs::path&, bool) { return c.answer; };
        FileCheckInputs in{path, c.mode, 123456, c.append, c.overwriteSetting};
        FilePlan plan = planOutputFile(in, port);
        EXPECT_EQ(plan.outcome, c.expected);
        EXPECT_EQ(plan.path, path);
        EXPECT_EQ(!port.existingFileQuestions().empty(), c.asked);
        EXPECT_EQ(fs::exists(path), c.fileKept);
        if (c.expected == O::Resume) {
            EXPECT_EQ(plan.offset, c.existing.size());
        }
    }
}

TEST_F(TempDir, ResumedItemNeverWritesThroughALink) {
    const std::string notes = file("notes.txt"), link = file("E.avi");
    std::ofstream(notes) << "notes";
    fs::create_symlink(notes, link);
    ScriptedUserPort port;
    FilePlan plan = planOutputFile({link, 11, 123456, true, false}, port);
    EXPECT_EQ(plan.outcome, FilePlan::Outcome::Abort);
    EXPECT_TRUE(port.saw(format(kRefusedFileText, link.c_str())));
    fs::remove(notes);  // a link to nowhere is refused as well
    EXPECT_EQ(planOutputFile({link, 11, 123456, true, false}, port).outcome,
              FilePlan::Outcome::Abort);
    EXPECT_FALSE(fs::exists(notes));
}

TEST_F(TempDir, ResumedWorkGoesOnlyToLayoutPathsBelowADestination) {
    const PathInputs in{"", QueueKind::File, 2, "20261201", "080300", 1, kWholeRecordingLastFrame};
    const std::string tail = "Cam02/1201/Dst0120261201080300002.avi";
    const std::string root = dir.string() + "/";
    const struct {
        std::string path;
        bool ok;
    } cases[] = {
        {root + tail, true},
        {root + "Cam02/1201/Event20261201080300002.avi", false},  // another stem
        {root + "Cam02/1201/Dst0120261201080300003.avi", false},  // another camera
        {root + "notes.txt", false},
        {tail, false},                      // no destination
        {"relative/" + tail, false},        // not absolute
        {root + "./" + tail, false},        // a detour
        {root + "sub/../" + tail, false},   // a detour
        {root + "missing/" + tail, false},  // no such destination
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_EQ(isOutputPathOf(c.path, in, &why), c.ok) << c.path;
        EXPECT_EQ(why.empty(), c.ok) << c.path;
    }
}

TEST_F(TempDir, ResumeIsOfferedOnlyWhenTheLengthDiffers) {
    std::string path = file("E.avi");
    write(path, riff("AVI ", {{"LIST", 20}}));
    const uint64_t length = fs::file_size(path);
    ScriptedUserPort port;
    port.existingFileAnswer = ExistingFileAnswer::Overwrite;
    planOutputFile({path, 11, length, false, false}, port);
    planOutputFile({path, 11, length + 1, false, false}, port);
    auto asked = port.existingFileQuestions();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_FALSE(asked[0].second);
    EXPECT_TRUE(asked[1].second);
}

TEST_F(TempDir, SaveAsTakesTheChosenPathOrAborts) {
    std::string path = file("E.avi");
    write(path, {1, 2, 3});
    ScriptedUserPort port;
    port.existingFileAnswer = ExistingFileAnswer::SaveAs;
    port.saveAnswer = file("Other.avi");
    FilePlan plan = planOutputFile({path, 10, 99, false, false}, port);
    EXPECT_EQ(plan.outcome, FilePlan::Outcome::Create);
    EXPECT_EQ(plan.path, file("Other.avi"));
    port.saveAnswer.clear();
    EXPECT_EQ(planOutputFile({path, 10, 99, false, false}, port).outcome, FilePlan::Outcome::Abort);
    EXPECT_TRUE(fs::exists(path));
}

}  // namespace
