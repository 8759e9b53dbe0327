// fsv against recorders and resume files that cannot be trusted: a recorder silent at each step,
// a frame cut short, an answer that cannot be read, file transfers of the wrong size; a resume
// file that aims at files of the user's, and one cut short. Every run ends, non-zero, within
// the stall limit and a margin, overwrites nothing it was not asked to, and keeps the work.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "state/ResumeFile.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using fsv::test::SimProcess;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

constexpr int kWait = 2;  // seconds: the --wait of every run here
// A loaded two-core machine may be slow to start processes; a run that hangs is cut off by
// `timeout` (status 124) well before the suite would stall.
constexpr double kMargin = 10;
constexpr int kCutOff = 40;

struct Timed {
    fsv::test::ProgramResult result;
    double seconds = 0;
};

class Hostile : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = fsv::test::makeTempDir("fsv-hostile");
        ASSERT_FALSE(root_.empty());
        auto r = fsv::test::runProgram(fsv::test::recorderSimPath(),
                                       {"--generate", (root_ / "rec").string()});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static Timed fsv(std::vector<std::string> args, const fs::path& home) {
        fs::create_directories(home);
        args.insert(args.begin(), {"-k", "5", std::to_string(kCutOff), fsv::test::fsvPath()});
        const auto start = std::chrono::steady_clock::now();
        Timed run;
        run.result = fsv::test::runProgram(
            "/usr/bin/timeout", args,
            {{"FARSIGHT_HOME", home.string()}, {"FARSIGHT_CONFIG", home.string()}});
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return run;
    }
    // The one recording of 1 December 2026, 08:03, camera 2, and where a download of it lands
    // below `out` (a protocol-35 recorder: the day's date id is 1).
    static fs::path source() { return root_ / "rec/Cam02/20261201/080300.avi"; }
    static fs::path target(const fs::path& out) {
        return out / "Cam02/1201/Dst0120261201080300002.avi";
    }
    static fsv::state::ResumeRecord record(const fs::path& path,
                                           const std::string& key = "20261201080300",
                                           uint8_t mode = 11) {
        fsv::state::ResumeRecord r;
        r.type = mode;
        r.camera = 2;
        r.eventKey = key;
        r.path = path.string();
        r.dateId = 1;
        return r;
    }
    static void writeResume(const fs::path& file, uint16_t port,
                            std::vector<fsv::state::ResumeRecord> records) {
        fsv::state::ResumeData data;
        data.header.address = "127.0.0.1";
        data.header.port = port;
        data.header.id = "Guest";
        data.records = std::move(records);
        std::string error;
        ASSERT_TRUE(fsv::state::saveResumeFile(file, data, &error)) << error;
    }

    static fs::path root_;
};
fs::path Hostile::root_;

// One row per way a recorder can stall, send a file of the wrong size or leave a stream
// without its end. Each row resumes one download from a resume file (a file download, or an
// AVI download where the row says so); where the work is kept depends on how far it got: the
// loaded file stays when nothing was taken up, a stalled session leaves "Temp0.rsm" (as a
// dropped connection does), a failed transfer on a live connection "Auto1.rsm".
TEST_F(Hostile, EveryRunEndsWithinTheStallLimitAndKeepsItsWork) {
    enum class Ends { Timeout, Unreadable, WrongSize, Stopped, Done };
    struct Row {
        const char* fault;
        Ends ends;
        const char* keptIn;    // the resume file that holds the work afterwards
        bool partial = false;  // an earlier run left the first 16 KiB of the file
        bool avi = false;      // a download-and-play stream (mode 10) instead of a file
    };
    const Row rows[] = {
        {"silent-after-key", Ends::Timeout, "work.rsm"},
        {"silent-after-login", Ends::Timeout, "work.rsm"},
        {"bad-days", Ends::Unreadable, "work.rsm"},
        {"silent-after-open", Ends::Timeout, "Temp0.rsm"},
        {"short-frame", Ends::Timeout, "Temp0.rsm"},
        {"p-only", Ends::WrongSize, "Auto1.rsm"},
        {"size-more", Ends::WrongSize, "Auto1.rsm"},
        {"size-less", Ends::WrongSize, "Auto1.rsm"},
        {"from-zero", Ends::WrongSize, "Auto1.rsm", true},
        // A header of the size alone, and no header at all: the blocks are the file.
        {"short-p", Ends::Done, nullptr},
        {"no-p", Ends::Done, nullptr},
        // Every frame came, the recorder's end did not: only the recorder can say it is whole.
        {"no-status", Ends::Timeout, "Temp0.rsm", false, true},
        {"drop-before-status", Ends::Stopped, "Temp0.rsm", false, true},
    };
    const std::string whole = slurp(source());
    ASSERT_GT(whole.size(), 20000u);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        const fs::path home = root_ / (std::string("home-") + row.fault);
        const fs::path out = root_ / (std::string("out-") + row.fault);
        fs::create_directories(target(out).parent_path());
        if (row.partial) std::ofstream(target(out), std::ios::binary) << whole.substr(0, 16384);

        SimProcess sim({"--recordings", (root_ / "rec").string(), "--fault", row.fault});
        EXPECT_TRUE(sim.started()) << sim.error();
        if (!sim.started()) continue;
        fs::create_directories(home);
        writeResume(home / "work.rsm", sim.port(),
                    {record(target(out), "20261201080300", row.avi ? 10 : 11)});
        const Timed run =
            fsv({"resume", (home / "work.rsm").string(), "--wait", std::to_string(kWait)}, home);
        const auto& r = run.result;
        EXPECT_LT(run.seconds, kWait + kMargin) << r.err;

        if (row.ends == Ends::Done) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(slurp(target(out)) == whole) << "the file is the recorder's";
            EXPECT_FALSE(fs::exists(home / "work.rsm"));
            EXPECT_FALSE(fs::exists(home / "Auto1.rsm"));
            continue;
        }
        EXPECT_EQ(r.status, 1) << r.err;
        switch (row.ends) {
            case Ends::Timeout:
                EXPECT_NE(r.err.find("fsv: Timeout: no answer from 127.0.0.1 for 2 seconds."),
                          std::string::npos)
                    << r.err;
                break;
            case Ends::Unreadable:
                EXPECT_NE(r.err.find("server information could not be read"), std::string::npos)
                    << r.err;
                break;
            case Ends::Stopped:
                EXPECT_NE(r.err.find("fsv resume: 1 of 1 recordings failed"), std::string::npos)
                    << r.err;
                EXPECT_EQ(r.err.find("finish download"), std::string::npos) << r.err;
                break;
            default:
                EXPECT_NE(r.err.find("fsv resume: 1 of 1 recordings failed"), std::string::npos)
                    << r.err;
                EXPECT_NE(r.err.find("Download "), std::string::npos) << r.err;
                break;
        }
        // The work is where the row says, and only there.
        for (const char* name : {"work.rsm", "Temp0.rsm", "Auto1.rsm"}) {
            if (std::string(name) != row.keptIn) {
                EXPECT_FALSE(fs::exists(home / name)) << name;
                continue;
            }
            // (No ASSERT in the loop: one row's failure must not hide the next rows'.)
            auto kept = fsv::state::loadResumeFile(home / name);
            EXPECT_EQ(kept.status, fsv::state::ReadStatus::Ok) << name;
            EXPECT_EQ(kept.value.records.size(), 1u) << name;
            if (kept.value.records.size() != 1) continue;
            EXPECT_EQ(kept.value.records[0].path, target(out).string());
            EXPECT_EQ(kept.value.records[0].eventKey, "20261201080300");
        }
        // Bytes past the recording's size are taken back off: the file is no longer than it
        // was before the transfer, or than the recording.
        if (row.avi) continue;  // the frames that came are kept in an AVI file of its own
        if (row.partial) {
            EXPECT_TRUE(slurp(target(out)) == whole.substr(0, 16384));
        } else if (fs::exists(target(out))) {
            EXPECT_LE(fs::file_size(target(out)), row.ends == Ends::WrongSize ? whole.size() : 0);
        }
    }
}

// What fsv info makes of a recorder that lists cameras by the ten thousand, goes silent at
// some layer, or answers only half of the information: either the cameras, or an honest
// timeout within the wait (counted from the last byte heard, whatever the layer).
TEST_F(Hostile, InfoAnswersOrTimesOutWithinTheWait) {
    struct Row {
        std::vector<std::string> sim;
        int status;
        const char* says;  // in the output (status 0) or at the start of the error output
    };
    const Row rows[] = {
        // One queue per camera costs no thread until work comes: no abort, and every camera.
        {{"--cameras", "65535"}, 0, "Cam65534"},
        // The connection is accepted, and nothing follows: not the key, not the verdict.
        {{"--fault", "silent-after-verdict"}, 1, "fsv: Timeout"},
        // Half of the recorded days, then nothing: silent in the middle of a frame.
        {{"--fault", "cut-days"}, 1, "fsv: Timeout"},
        // The days, but never the channel names: no answer, not a recorder without cameras.
        {{"--fault", "no-names"}, 1, "fsv: Timeout"},
    };
    constexpr int kInfoWait = 6;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sim.back());
        std::vector<std::string> args = {"--recordings", (root_ / "rec").string()};
        args.insert(args.end(), row.sim.begin(), row.sim.end());
        SimProcess sim(args);
        EXPECT_TRUE(sim.started()) << sim.error();
        if (!sim.started()) continue;
        const Timed run =
            fsv({"info", sim.address(), "--wait", std::to_string(kInfoWait)}, root_ / "home-info");
        EXPECT_EQ(run.result.status, row.status) << run.result.err;
        if (row.status == 0) {
            EXPECT_NE(run.result.out.find(row.says), std::string::npos);
            continue;
        }
        EXPECT_EQ(run.result.err.rfind(row.says, 0), 0u) << run.result.err;
        // Within the wait and what starting the program costs: not the wait and then some
        // more for a layer that counted on its own.
        EXPECT_LT(run.seconds, kInfoWait + 2.5) << run.result.err;
    }
}

// The stall limit holds for every command that talks to a recorder.
TEST_F(Hostile, EveryCommandGivesUpOnASilentRecorder) {
    SimProcess sim({"--recordings", (root_ / "rec").string(), "--fault", "silent-after-login"});
    ASSERT_TRUE(sim.started()) << sim.error();
    const std::vector<std::string> period = {
        "--camera", "2", "--from", "2026-12-01 08:00:00", "--to", "2026-12-01 08:59:59"};
    for (const std::string command : {"info", "events", "download"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, sim.address(), "--wait", std::to_string(kWait)};
        if (command != "info") args.insert(args.end(), period.begin(), period.end());
        if (command == "download") args.insert(args.end(), {"-o", (root_ / "quiet").string()});
        const Timed run = fsv(args, root_ / "home-quiet");
        EXPECT_EQ(run.result.status, 1) << run.result.err;
        EXPECT_EQ(run.result.err.rfind("fsv: Timeout", 0), 0u) << run.result.err;
        EXPECT_LT(run.seconds, kWait + kMargin);
    }
}

// A resume file names where its downloads go. One that names a file of the user's, a path that
// takes a detour, or a download's own name where a file of another kind lies, is refused: each
// is reported, and not one byte of those files changes.
TEST_F(Hostile, CraftedResumeFileOverwritesNothing) {
    const fs::path dest = root_ / "crafted";
    const fs::path notes = dest / "notes.txt";
    const fs::path lookalike = target(dest);
    fs::create_directories(lookalike.parent_path());
    std::ofstream(notes) << "the user's own notes";
    std::ofstream(lookalike) << "not a recording, though named like one";

    SimProcess sim({"--recordings", (root_ / "rec").string()});
    ASSERT_TRUE(sim.started()) << sim.error();
    const fs::path home = root_ / "home-crafted";
    fs::create_directories(home);
    const fs::path detour = dest / "./Cam02/1201/Dst0120261201080300002.avi";
    writeResume(home / "crafted.rsm", sim.port(),
                {record(notes), record(detour), record(lookalike)});
    const Timed run = fsv({"resume", (home / "crafted.rsm").string(), "--wait", "10"}, home);
    const auto& r = run.result;
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("refused " + notes.string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("refused " + detour.string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Refused: " + lookalike.string() + " is not an unfinished recording"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(slurp(notes) == "the user's own notes") << "overwritten";
    EXPECT_TRUE(slurp(lookalike) == "not a recording, though named like one") << "overwritten";
}

// A resume file that declares four records but ends after the first: the reader's word on the
// damage is shown, nothing is taken up, and the file stays for whoever can mend it.
TEST_F(Hostile, CutResumeFileIsKeptWithItsDamage) {
    SimProcess sim({"--recordings", (root_ / "rec").string()});
    ASSERT_TRUE(sim.started()) << sim.error();
    const fs::path home = root_ / "home-cut";
    fs::create_directories(home);
    const fs::path file = home / "cut.rsm";
    writeResume(file, sim.port(), {record(target(root_ / "cut"))});
    std::string bytes = slurp(file);
    ASSERT_EQ(bytes.size(), 101u + 308u);
    bytes[15] = 4;  // the count says four
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

    const Timed run = fsv({"resume", file.string(), "--wait", "10"}, home);
    EXPECT_NE(run.result.status, 0);
    EXPECT_NE(run.result.err.find("The resume file ends after 1 of its 4 records."),
              std::string::npos)
        << run.result.err;
    EXPECT_EQ(slurp(file), bytes);
    EXPECT_FALSE(fs::exists(target(root_ / "cut")));
}

}  // namespace
