// The archive's catalog and files without a recorder: schema steps, the two-step commit and
// what a killed run leaves, verification and export.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "archive/Catalog.h"
#include "archive/Schema.h"
#include "archive/Store.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace fsv::archive;

namespace {

class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fsv::test::makeTempDir("fsv-archive");
        ASSERT_FALSE(dir.empty());
        fs::create_directories(dir / kIncomingFolder);
        std::string error;
        ASSERT_TRUE(catalog.open(dir, true, &error)) << error;
        const auto id = catalog.recorder("north gate", "127.0.0.1", 5066, "NVR-1");
        ASSERT_TRUE(id);
        ASSERT_TRUE(catalog.channel(*id, ChannelKind::Camera, 1, "Gate"));
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path fetch(const std::string& name, const std::string& bytes) {
        const fs::path p = dir / kIncomingFolder / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    RecordingRow row(const std::string& key) {
        RecordingRow r;
        r.recorder = "north gate";
        r.code = 1;
        r.eventKey = key;
        r.start = startOfKey(key);
        r.path = "north gate/Cam01/1201/Event" + key + "001.avi";
        return r;
    }
    // Archives `bytes` as the recording of `key`.
    RecordingRow add(const std::string& key, const std::string& bytes) {
        RecordingRow r = row(key);
        std::string error;
        EXPECT_TRUE(archiveFile(catalog, dir, fetch(key, bytes), bytes.size(), r, 100, &error))
            << error;
        return r;
    }
    static std::string slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path dir;
    Catalog catalog;
};

TEST_F(ArchiveTest, SchemaIsBroughtUpToDateOnceAndNewerCatalogsAreRefused) {
    EXPECT_EQ(catalog.schemaVersion(), latestSchemaVersion());
    Catalog again;
    std::string error;
    ASSERT_TRUE(again.open(dir, true, &error)) << error;  // no step runs twice
    EXPECT_EQ(again.schemaVersion(), latestSchemaVersion());
    {
        Database db;
        ASSERT_TRUE(db.open(Catalog::fileIn(dir).string(), false, false, &error));
        Statement mode(db, "PRAGMA journal_mode");
        ASSERT_TRUE(mode.step());
        EXPECT_EQ(mode.text(0), "wal");
        ASSERT_TRUE(db.exec("PRAGMA user_version = " + std::to_string(latestSchemaVersion() + 1)));
    }
    Catalog newer;
    EXPECT_FALSE(newer.open(dir, true, &error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    Catalog reader;
    EXPECT_FALSE(reader.open(dir, false, &error));
    Catalog none;
    EXPECT_FALSE(none.open(dir / "nowhere", false, &error));
}

TEST_F(ArchiveTest, ArchivedFileGetsItsRowAndHashAShortFileNone) {
    const RecordingRow r = add("20261201080000", "abc");
    EXPECT_EQ(r.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(slurp(dir / r.path), "abc");
    EXPECT_FALSE(fs::exists(dir / kIncomingFolder / "20261201080000"));
    const auto keys = catalog.archivedKeys("north gate");
    EXPECT_EQ(
        keys,
        (std::set<std::string>{Catalog::channelKey(ChannelKind::Camera, 1, "20261201080000")}));
    const auto rows = catalog.find({});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].bytes, 3u);
    EXPECT_EQ(rows[0].start, "2026-12-01 08:00:00");
    EXPECT_EQ(rows[0].cameraName, "Gate");

    // A file that came short is neither placed nor catalogued, and leaves nothing behind.
    RecordingRow shortRow = row("20261201090000");
    std::string error;
    EXPECT_FALSE(archiveFile(catalog, dir, fetch("short", "ab"), 3, shortRow, 100, &error));
    EXPECT_NE(error.find("size 2 instead of 3"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / shortRow.path));
    EXPECT_FALSE(fs::exists(dir / kIncomingFolder / "short"));
    EXPECT_EQ(catalog.find({}).size(), 1u);
    EXPECT_TRUE(catalog.pending().empty());
}

TEST_F(ArchiveTest, PendingRowsAreCommittedOnlyForWholeFilesInPlace) {
    // Three runs killed after the pending row: one after the rename, one before it, one with
    // the file in place but not the bytes that were hashed.
    const std::string whole = "whole file";
    RecordingRow placed = row("20261201080000"), notMoved = row("20261201090000"),
                 torn = row("20261201100000");
    for (RecordingRow* r : {&placed, &notMoved, &torn}) {
        const auto h = hashFile(fetch(r->eventKey, whole));
        r->sha256 = h->sha256;
        r->bytes = h->bytes;
        ASSERT_TRUE(catalog.addPending(*r));
    }
    std::string error;
    ASSERT_TRUE(placeFile(dir / kIncomingFolder / placed.eventKey, dir / placed.path, &error));
    ASSERT_TRUE(placeFile(dir / kIncomingFolder / torn.eventKey, dir / torn.path, &error));
    fs::resize_file(dir / torn.path, 4);
    EXPECT_TRUE(catalog.find({}).empty());  // pending rows are not recordings

    EXPECT_EQ(recoverPending(catalog, dir), 1);
    const auto rows = catalog.find({});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].path, placed.path);
    EXPECT_TRUE(catalog.pending().empty());
    EXPECT_FALSE(fs::exists(dir / torn.path));
    EXPECT_TRUE(verify(catalog, dir, 200).clean());
}

// Files of several recorders placed at once share a flush; each row is committed after it, and
// one that cannot be moved into place ends at once, its file and pending row gone.
TEST_F(ArchiveTest, SealerCommitsPlacedFilesAndRefusesOneThatCannotBeMoved) {
    CatalogWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(dir, &error)) << error;
    std::ofstream(dir / "blocker") << "a file where a folder should be";
    std::vector<std::future<Sealed>> placed;
    std::vector<RecordingRow> rows;
    fs::path blocked;
    {
        Sealer sealer(writer, dir);
        for (const std::string key : {"20261201080000", "20261201090000", "20261201100000"}) {
            RecordingRow r = row(key);
            const fs::path f = fetch(key, "bytes of " + key);
            ASSERT_TRUE(checkFetched(f, 9 + key.size(), r, &error, {}, false)) << error;
            placed.push_back(sealer.place(f, r, 100));
            rows.push_back(r);
        }
        RecordingRow r = row("20261201110000");
        r.path = "blocker/Cam01/x.avi";
        blocked = fetch("blocked", "xyz");
        ASSERT_TRUE(checkFetched(blocked, 3, r, &error, {}, false)) << error;
        auto refused = sealer.place(blocked, r, 100);
        ASSERT_EQ(refused.wait_for(std::chrono::seconds(0)), std::future_status::ready);
        const Sealed s = refused.get();
        EXPECT_FALSE(s.ok);
        EXPECT_NE(s.error.find("cannot move"), std::string::npos) << s.error;
    }  // the sealer ends only once what was placed is sealed
    for (auto& p : placed) {
        ASSERT_EQ(p.wait_for(std::chrono::seconds(0)), std::future_status::ready);
        const Sealed s = p.get();
        EXPECT_TRUE(s.ok) << s.error;
    }
    EXPECT_FALSE(fs::exists(blocked));
    EXPECT_TRUE(catalog.pending().empty());
    const auto found = catalog.find({});
    ASSERT_EQ(found.size(), 3u);
    for (auto& r : rows) {
        EXPECT_EQ(slurp(dir / r.path), "bytes of " + r.eventKey);
        EXPECT_TRUE(std::any_of(found.begin(), found.end(), [&](const RecordingRow& f) {
            return f.path == r.path && f.sha256 == r.sha256 && f.archivedAt == 100;
        }));
    }
}

TEST_F(ArchiveTest, VerifyFindsMissingChangedAndUntrackedFiles) {
    const RecordingRow a = add("20261201080000", "first"), b = add("20261201090000", "second"),
                       c = add("20261201100000", "third");
    fetch("partial", "xx");  // the incoming folder is the run's own
    VerifyReport clean = verify(catalog, dir, 200);
    EXPECT_TRUE(clean.clean());
    EXPECT_EQ(clean.checked, 3);
    for (auto& r : catalog.find({})) EXPECT_EQ(r.verifiedAt, 200);

    {  // one byte flipped in place, same size
        std::fstream f(dir / b.path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(2);
        f.put('X');
    }
    fs::remove(dir / c.path);
    std::ofstream(dir / "north gate" / "stray.avi") << "?";
    const VerifyReport report = verify(catalog, dir, 300);
    EXPECT_FALSE(report.clean());
    EXPECT_EQ(report.changed, std::vector<std::string>{b.path});
    EXPECT_EQ(report.missing, std::vector<std::string>{c.path});
    EXPECT_EQ(report.untracked, std::vector<std::string>{"north gate/stray.avi"});
    for (auto& r : catalog.find({}))
        if (r.path == a.path) {
            EXPECT_EQ(r.verifiedAt, 300);
        }
}

TEST_F(ArchiveTest, FindFiltersByRecorderCameraAndPeriod) {
    add("20261201080000", "a");
    add("20261201120000", "b");
    add("20261202080000", "c");
    FindFilter f;
    f.from = "2026-12-01 09:00:00";
    f.to = "2026-12-02 07:59:59";
    auto rows = catalog.find(f);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].eventKey, "20261201120000");
    f = {};
    f.code = 2;
    EXPECT_TRUE(catalog.find(f).empty());
    f = {};
    f.recorder = "north gate";
    EXPECT_EQ(catalog.find(f).size(), 3u);
}

TEST_F(ArchiveTest, ExportWritesSumsAndManifestsAndStopsOnAChangedFile) {
    const RecordingRow a = add("20261201080000", "first");
    const fs::path out = dir.string() + "-out";
    auto result = exportRecordings(catalog.find({}), dir, out);
    ASSERT_TRUE(result.error.empty()) << result.error;
    EXPECT_EQ(slurp(out / a.path), "first");
    EXPECT_EQ(slurp(out / "SHA256SUMS"), a.sha256 + "  " + a.path + "\n");
    const std::string csv = slurp(out / "manifest.csv");
    EXPECT_NE(csv.find("north gate,camera,1,Gate,2026-12-01 08:00:00,20261201080000,"),
              std::string::npos)
        << csv;
    EXPECT_NE(slurp(out / "manifest.json").find("\"sha256\": \"" + a.sha256), std::string::npos);
    EXPECT_EQ(csvField("a,\"b\""), "\"a,\"\"b\"\"\"");

    std::ofstream(dir / a.path) << "FIRST";
    result = exportRecordings(catalog.find({}), dir, out);
    EXPECT_NE(result.error.find("does not match"), std::string::npos) << result.error;
    fs::remove_all(out);
}

TEST_F(ArchiveTest, StampedCopiesAreListedAndSummedBesideTheRecordings) {
    const RecordingRow video = add("20261201080000", "frames");
    ASSERT_TRUE(catalog.channel(*catalog.recorder("north gate", "127.0.0.1", 5066, "NVR-1"),
                                ChannelKind::Audio, 1, "Mic"));
    RecordingRow sound = row("20261201080000");
    sound.kind = ChannelKind::Audio;
    sound.path = "north gate/Aud01/1201/Event20261201080000001.wav";
    std::string error;
    ASSERT_TRUE(archiveFile(catalog, dir, fetch("sound", "samples"), 7, sound, 100, &error))
        << error;
    const fs::path out = dir.string() + "-out";
    std::vector<fs::path> asked;
    Stamper stamp = [&](const fs::path& in, const fs::path& to, std::string*) {
        asked.push_back(in);
        std::ofstream(to, std::ios::binary) << "stamped " << slurp(in);
        return true;
    };
    auto result = exportRecordings(catalog.find({}), dir, out, stamp);
    ASSERT_TRUE(result.error.empty()) << result.error;
    // Only the camera's recording, from the checked copy.
    ASSERT_EQ(asked, std::vector<fs::path>{out / video.path});
    const std::string stamped = "stamped/" + video.path;
    EXPECT_EQ(slurp(out / stamped), "stamped frames");
    const std::string sums = slurp(out / "SHA256SUMS");
    EXPECT_NE(sums.find(hashFile(out / stamped)->sha256 + "  " + stamped + "\n"), std::string::npos)
        << sums;
    EXPECT_EQ(std::count(sums.begin(), sums.end(), '\n'), 3);
    EXPECT_EQ(std::system(("cd '" + out.string() + "' && sha256sum --quiet -c SHA256SUMS").c_str()),
              0);
    const auto manifest = slurp(out / "manifest.json");
    EXPECT_NE(manifest.find("\"path\": \"" + stamped + "\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("\"stamped\": null"), std::string::npos) << manifest;
    EXPECT_NE(slurp(out / "manifest.csv").find("," + stamped + ",14,"), std::string::npos);

    // A copy that cannot be stamped stops the export and says why.
    stamp = [](const fs::path&, const fs::path&, std::string* why) {
        *why = "no frames";
        return false;
    };
    result = exportRecordings(catalog.find({}), dir, out, stamp);
    EXPECT_EQ(result.error, "cannot stamp " + video.path + ": no frames");
    fs::remove_all(out);
}

TEST(ArchiveFolderName, KeepsRecorderFoldersInsideTheArchive) {
    EXPECT_EQ(folderName("north gate"), "north gate");
    EXPECT_EQ(folderName("../up"), "_.._up");
    EXPECT_EQ(folderName(".."), "_..");
    EXPECT_EQ(folderName(""), "_");
    EXPECT_EQ(folderName("a/b\\c\n"), "a_b_c_");
}

}  // namespace
