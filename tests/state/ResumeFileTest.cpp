#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "StateTestSupport.h"
#include "platform/Bytes.h"
#include "platform/ScriptedUserPort.h"
#include "state/ResumeFile.h"

using namespace std::string_literals;
using namespace fsv::state;
using fsv::state::test::readBytes;
using fsv::state::test::TempFolder;
using fsv::state::test::writeBytes;
namespace fs = std::filesystem;

namespace {

ResumeData sampleData() {
    ResumeData d;
    d.header = {6000, "192.168.1.20", "admin", "secret"};
    d.records.push_back({0, 10, 3, "20240102030405", "/dl/Cam03/a.avi", 4, 9, 77});
    d.records.push_back({0, 11, 1, "20240102101010", "/dl/Cam01/b.avi", 0, 0xFFFFFFFE, 0});
    d.records.push_back({1, 11, 2, "20240103000000", "/dl/Aud02/c.wav", 0, 0xFFFFFFFE, 5});
    return d;
}

std::string text(const std::vector<uint8_t>& b, size_t at, size_t n) {
    return std::string(b.begin() + long(at), b.begin() + long(at + n));
}

// A version-2 file: the header, then 288-byte records without a date id.
std::vector<uint8_t> versionTwoFile(const ResumeData& d) {
    fsv::platform::ByteWriter w;
    w.bytes("KorFSV_Resume2", 15).i32(int32_t(d.records.size())).u16(d.header.port);
    w.fixedText(d.header.address, 16).fixedText(d.header.id, 32).fixedText(d.header.password, 32);
    for (const auto& r : d.records) {
        w.u8(r.listFlag).u8(r.type).u16(r.camera).u8(0).fixedText(r.eventKey, 15);
        w.fixedText(r.path, 260).u32(r.firstFrame).u32(r.lastFrame);
    }
    return w.take();
}

}  // namespace

TEST(ResumeFileFormat, WritesTheExactLayout) {
    ResumeData d;
    d.header = {6000, "10.0.0.5", "admin", "pw"};
    d.records.push_back({1, 10, 0x0203, "20240102030405", "/x/a.avi", 4, 9, 0x11223344});
    std::string error;
    auto bytes = writeResumeData(d, &error);
    ASSERT_TRUE(bytes) << error;
    const auto& b = *bytes;
    ASSERT_EQ(b.size(), 101u + 308u);
    EXPECT_EQ(text(b, 0, 15), "KorFSV_Resume3\0"s);
    EXPECT_EQ(fsv::platform::getU32(&b[15]), 1u);
    EXPECT_EQ(fsv::platform::getU16(&b[19]), 6000);
    EXPECT_EQ(text(b, 21, 16), "10.0.0.5" + std::string(8, '\0'));
    EXPECT_EQ(text(b, 37, 32), "admin" + std::string(27, '\0'));
    EXPECT_EQ(text(b, 69, 32), "pw" + std::string(30, '\0'));
    const size_t r = 101;
    EXPECT_EQ(b[r + 0], 1);
    EXPECT_EQ(b[r + 1], 10);
    EXPECT_EQ(fsv::platform::getU16(&b[r + 2]), 0x0203);
    EXPECT_EQ(b[r + 4], 0);
    EXPECT_EQ(text(b, r + 5, 15), "20240102030405\0"s);
    EXPECT_EQ(text(b, r + 20, 260), "/x/a.avi" + std::string(252, '\0'));
    EXPECT_EQ(fsv::platform::getU32(&b[r + 280]), 4u);
    EXPECT_EQ(fsv::platform::getU32(&b[r + 284]), 9u);
    EXPECT_EQ(fsv::platform::getU32(&b[r + 288]), 0x11223344u) << "the item's own date id";
    EXPECT_EQ(text(b, r + 292, 16), std::string(16, '\0'));
}

TEST(ResumeFileFormat, ReadsBothVersions) {
    const ResumeData d = sampleData();
    auto v3 = readResumeData(*writeResumeData(d));
    EXPECT_EQ(v3.status, ReadStatus::Ok);
    EXPECT_EQ(v3.value.version, 3);
    EXPECT_EQ(v3.value.header, d.header);
    EXPECT_EQ(v3.value.records, d.records);

    auto v2 = readResumeData(versionTwoFile(d));
    EXPECT_EQ(v2.status, ReadStatus::Ok);
    EXPECT_EQ(v2.value.version, 2);
    EXPECT_EQ(v2.value.header, d.header);
    ASSERT_EQ(v2.value.records.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        auto want = d.records[i];
        want.dateId = 0;
        EXPECT_EQ(v2.value.records[i], want);
    }
}

TEST(ResumeFileFormat, RefusesOtherMagics) {
    auto good = *writeResumeData(sampleData());
    for (auto magic : {"KorFSV_Resume4\0"s, "korfsv_resume3\0"s, "KorFSV_Resume3X"s,
                       "KOR_FSV_BOOK\0\x05\x02"s}) {
        auto bytes = good;
        std::copy(magic.begin(), magic.end(), bytes.begin());
        auto r = readResumeData(bytes);
        EXPECT_EQ(r.status, ReadStatus::WrongFormat) << testing::PrintToString(magic);
        EXPECT_EQ(r.message, "Unexpected file format!");
    }
}

TEST(ResumeFileFormat, FullSizeHeaderFieldsStayInsideTheirFields) {
    auto bytes = *writeResumeData(sampleData());
    std::fill(bytes.begin() + 21, bytes.begin() + 37, 'A');
    std::fill(bytes.begin() + 37, bytes.begin() + 69, 'B');
    std::fill(bytes.begin() + 69, bytes.begin() + 101, 'C');
    auto r = readResumeData(bytes);
    EXPECT_EQ(r.value.header.address, std::string(16, 'A'));
    EXPECT_EQ(r.value.header.id, std::string(32, 'B'));
    EXPECT_EQ(r.value.header.password, std::string(32, 'C'));
    EXPECT_EQ(r.value.records.size(), 3u);

    // The same for a header that is the whole file.
    auto r2 = readResumeData(std::span(bytes.data(), 101));
    EXPECT_EQ(r2.value.header.password, std::string(32, 'C'));
}

TEST(ResumeFileFormat, RefusesTextsThatDoNotFitTheirFields) {
    struct Case {
        const char* field;
        std::function<void(ResumeData&, size_t)> set;
        size_t fits;  // longest text the field takes
    } cases[] = {
        {"recorder address", [](ResumeData& d, size_t n) { d.header.address.assign(n, 'a'); }, 15},
        {"login ID", [](ResumeData& d, size_t n) { d.header.id.assign(n, 'i'); }, 31},
        {"password", [](ResumeData& d, size_t n) { d.header.password.assign(n, 'p'); }, 31},
        {"event key", [](ResumeData& d, size_t n) { d.records[1].eventKey.assign(n, '1'); }, 14},
        {"file path", [](ResumeData& d, size_t n) { d.records[2].path.assign(n, 'f'); }, 259},
    };
    for (const auto& c : cases) {
        ResumeData d = sampleData();
        c.set(d, c.fits);
        auto ok = writeResumeData(d);
        ASSERT_TRUE(ok) << c.field;
        auto back = readResumeData(*ok);
        EXPECT_EQ(back.value.header, d.header) << c.field;
        EXPECT_EQ(back.value.records, d.records) << c.field;

        c.set(d, c.fits + 1);
        std::string error;
        EXPECT_FALSE(writeResumeData(d, &error)) << c.field;
        EXPECT_NE(error.find(c.field), std::string::npos) << error;
    }
}

TEST(ResumeFileFormat, PlayOnlyWorkIsNotWritten) {
    ResumeData d = sampleData();
    d.records.insert(d.records.begin() + 1, ResumeRecord{0, 12, 3, "20240101000000", "", 0, 0, 0});
    auto r = readResumeData(*writeResumeData(d));
    EXPECT_EQ(r.value.records, sampleData().records);
}

// The count decides how many records are read; data that end early keep complete records.
TEST(ResumeFileFormat, ACutFileKeepsItsCompleteRecords) {
    for (int version : {3, 2}) {
        const ResumeData d = sampleData();
        const auto full = version == 3 ? *writeResumeData(d) : versionTwoFile(d);
        const size_t stride = version == 3 ? 308 : 288;
        for (size_t len = 0; len <= full.size(); ++len) {
            auto r = readResumeData(std::span(full.data(), len));
            if (len < 15) {
                EXPECT_EQ(r.status, ReadStatus::WrongFormat);
                continue;
            }
            EXPECT_EQ(r.status, len == full.size() ? ReadStatus::Ok : ReadStatus::Damaged);
            size_t complete = len < 101 ? 0 : (len - 101) / stride;
            ASSERT_EQ(r.value.records.size(), complete) << len;
            for (size_t i = 0; i < complete; ++i)
                EXPECT_EQ(r.value.records[i].path, d.records[i].path);
        }
    }
    // A count below the records present reads only the counted ones.
    auto bytes = *writeResumeData(sampleData());
    bytes[15] = 1;
    EXPECT_EQ(readResumeData(bytes).value.records.size(), 1u);
    EXPECT_EQ(readResumeData(bytes).status, ReadStatus::Ok);
}

TEST(ResumeFiles, AutomaticAndTemporaryFilesOfAConnection) {
    TempFolder dir;
    EXPECT_EQ(autoResumePath(dir.path(), 0), dir / "Auto1.rsm");
    EXPECT_EQ(tempResumePath(dir.path(), 0), dir / "Temp0.rsm");

    ResumeLock lock;
    const ResumeData d = sampleData();
    ASSERT_EQ(writeAutoResumeFile(lock, dir.path(), 0, d), ResumeWrite::Written);
    auto loaded = loadResumeFile(dir / "Auto1.rsm");
    EXPECT_EQ(loaded.status, ReadStatus::Ok);
    EXPECT_EQ(loaded.value.records, d.records);

    // The recorder closed connection 0: the work is kept as Temp0.rsm beside Auto1.rsm, and
    // ending the connection deletes only the automatic file.
    auto temp = keepAutoResumeFileAsTemp(lock, dir.path(), 0);
    ASSERT_TRUE(temp);
    EXPECT_EQ(*temp, dir / "Temp0.rsm");
    EXPECT_EQ(readBytes(*temp), readBytes(dir / "Auto1.rsm"));
    deleteAutoResumeFile(lock, dir.path(), 0);
    EXPECT_FALSE(fs::exists(dir / "Auto1.rsm"));
    ASSERT_TRUE(moveResumeFile(*temp, dir / "kept.rsm"));
    EXPECT_FALSE(fs::exists(*temp));
    EXPECT_EQ(loadResumeFile(dir / "kept.rsm").value.records, d.records);

    // Save As copies, the automatic file stays.
    ASSERT_EQ(writeAutoResumeFile(lock, dir.path(), 4, d), ResumeWrite::Written);
    ASSERT_TRUE(saveAutoResumeFileAs(lock, dir.path(), 4, dir / "mine.rsm"));
    EXPECT_EQ(readBytes(dir / "mine.rsm"), readBytes(dir / "Auto5.rsm"));

    // A connection without a number has no automatic file to delete.
    deleteAutoResumeFile(lock, dir.path(), -1);
    EXPECT_TRUE(fs::exists(dir / "Auto5.rsm"));

    // A field that does not fit fails the write and leaves the old file.
    const auto before = readBytes(dir / "Auto5.rsm");
    ResumeData bad = d;
    bad.header.address = "a-host-name-that-is-too-long";
    std::string error;
    EXPECT_EQ(writeAutoResumeFile(lock, dir.path(), 4, bad, &error), ResumeWrite::Failed);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readBytes(dir / "Auto5.rsm"), before);
}

// A take-up writes the file under the lock with the work as it found it; the work finishes
// meanwhile and its rewrite, asked while the lock is held, must still be written after it.
TEST(ResumeFiles, ARewriteAskedWhileTheLockIsHeldIsWrittenAfterIt) {
    TempFolder dir;
    ResumeLock lock;
    std::latch held(1), release(1);
    std::thread takeUp([&] {
        auto l = lock.lock();
        held.count_down();
        release.wait();
        ASSERT_TRUE(saveResumeFile(autoResumePath(dir.path(), 0), sampleData()));
    });
    held.wait();
    ResumeWrite r = ResumeWrite::Failed;
    std::thread finished(
        [&] { r = writeAutoResumeFile(lock, dir.path(), 0, [] { return ResumeData{}; }); });
    release.count_down();
    takeUp.join();
    finished.join();
    EXPECT_EQ(r, ResumeWrite::Written);
    EXPECT_TRUE(loadResumeFile(dir / "Auto1.rsm").value.records.empty());
}

// Rewrites asked while one is under way are left to it; it writes once more for them, with
// the work as it stands after the last change.
TEST(ResumeFiles, RewritesAskedTogetherAreWrittenOnceMoreByTheOneUnderWay) {
    TempFolder dir;
    ResumeLock lock;
    std::latch collecting(1), asked(1);
    std::atomic<int> collects{0};
    std::atomic<bool> workDone{false};
    std::thread first([&] {
        writeAutoResumeFile(lock, dir.path(), 0, [&] {
            if (collects++ == 0) {
                collecting.count_down();
                asked.wait();
            }
            return workDone ? ResumeData{} : sampleData();
        });
    });
    collecting.wait();
    workDone = true;
    EXPECT_EQ(writeAutoResumeFile(lock, dir.path(), 0, [] { return ResumeData{}; }),
              ResumeWrite::Skipped);
    EXPECT_EQ(writeAutoResumeFile(lock, dir.path(), 0, [] { return ResumeData{}; }),
              ResumeWrite::Skipped);
    asked.count_down();
    first.join();
    EXPECT_EQ(collects, 2);
    EXPECT_TRUE(loadResumeFile(dir / "Auto1.rsm").value.records.empty());
}

TEST(ResumeFiles, StartUpScanOfUnfinishedWork) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, size_t>> files;  // name, size
        std::optional<int> answer;                          // nullopt: no question expected
        std::vector<std::string> queued;
        std::vector<std::string> left;  // files still there afterwards
    } cases[] = {
        {"header only", {{"Auto1.rsm", 101}}, std::nullopt, {}, {}},
        {"left over by a crash", {{"Auto1.rsm.tmp4242", 409}}, std::nullopt, {}, {}},
        {"one record byte", {{"Auto1.rsm", 102}}, fsv::mb::kIdYes, {"Auto1.rsm"}, {"Auto1.rsm"}},
        {"yes queues in connection order",
         {{"Auto10.rsm", 409}, {"Auto2.rsm", 409}, {"Auto3.rsm", 50}},
         fsv::mb::kIdYes,
         {"Auto2.rsm", "Auto10.rsm"},
         {"Auto10.rsm", "Auto2.rsm"}},
        {"no deletes", {{"Auto1.rsm", 409}, {"Auto2.rsm", 409}}, fsv::mb::kIdNo, {}, {}},
        {"other files are left alone",
         {{"Temp0.rsm", 409}, {"Auto1.txt", 10}, {"mine.rsm", 409}, {"Auto.rsm", 5}},
         std::nullopt,
         {},
         {"Auto1.txt", "Temp0.rsm", "mine.rsm"}},
    };
    for (const auto& c : cases) {
        TempFolder dir;
        for (const auto& [name, size] : c.files)
            writeBytes(dir / name, std::vector<uint8_t>(size, 1));
        fsv::ScriptedUserPort user;
        if (c.answer) user.boxAnswers.push_back(*c.answer);
        auto queued = scanUnfinishedWork(dir.path(), user);

        std::vector<std::string> names;
        for (const auto& p : queued) names.push_back(p.filename().string());
        EXPECT_EQ(names, c.queued) << c.what;
        auto boxes = user.boxes();
        if (c.answer) {
            ASSERT_EQ(boxes.size(), 1u) << c.what;
            EXPECT_EQ(boxes[0].text, "Last time have unfinished work.\nDo you want to continue?");
            EXPECT_EQ(boxes[0].type, fsv::mb::kYesNo | fsv::mb::kIconQuestion);
            EXPECT_TRUE(boxes[0].direct);
        } else {
            EXPECT_TRUE(boxes.empty()) << c.what;
        }
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(dir.path()))
            left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, c.left) << c.what;
    }
}
