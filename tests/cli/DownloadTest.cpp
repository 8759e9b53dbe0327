// fsv download against recorder-sim processes: the recorder's bytes (file mode) and our own AVI
// files (avi mode), each cut off by a dropped connection and then continued by a second run.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"


namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
    int status;
    std::string out, err;
};

Outcome shell(const std::string& cmd, const fs::path& errFile) {
    Outcome r{};
    FILE* p = ::popen((cmd + " 2>'" + errFile.string() + "'").c_str(), "r");
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = slurp(errFile);
    return r;
}

// A recorder-sim process on a port of its own choosing (or `port`); `dropAfter` makes every
// stream lose its connection after that many blocks or frames.
class Recorder {
  public:
    Recorder(const fs::path& recordings, int dropAfter, const std::string& protocol = "",
             int port = 0)
        : sim_(arguments(recordings, dropAfter, protocol, port)) {}
    int port() const { return sim_.port(); }

  private:
    static std::vector<std::string> arguments(const fs::path& recordings, int dropAfter,
                                              const std::string& protocol, int port) {
        std::vector<std::string> args = {"--listen", "127.0.0.1:" + std::to_string(port),
                                         "--recordings", recordings.string()};
        if (!protocol.empty()) args.insert(args.end(), {"--protocol", protocol});
        if (dropAfter) args.insert(args.end(), {"--drop-stream-after", std::to_string(dropAfter)});
        return args;
    }
    fsv::test::SimProcess sim_;
};

// The video packets of a file, one MD5 each, in file order (empty packets included).
std::vector<std::string> videoPackets(const fs::path& file, const fs::path& scratch) {
    auto r = shell(
        "ffprobe -v error -select_streams v:0 -show_data_hash MD5 "
        "-show_entries packet=data_hash -of csv=p=0 '" +
            file.string() + "'",
        scratch);
    std::vector<std::string> hashes;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) hashes.push_back(line);
    return hashes;
}

class DownloadCli : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = fsv::test::makeTempDir("fsv-download");
        ASSERT_FALSE(root_.empty());
        auto r = shell(
            "'" FSV_BINARY_DIR "/sim/recorder-sim' --generate '" + (root_ / "rec").string() + "'",
            root_ / "gen.err");
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    // `home` is the data folder (resume files); the suite's folder unless given.
    Outcome fsv(const std::string& args, fs::path home = {}) {
        if (home.empty()) home = root_;
        fs::create_directories(home);
        // A run that hangs fails the test (status 124) instead of stalling the suite.
        return shell("FARSIGHT_HOME='" + home.string() + "' FARSIGHT_CONFIG='" + home.string() +
                         "' timeout 120 '" FSV_BINARY_DIR "/cli/fsv' " + args,
                     root_ / "fsv.err");
    }
    std::string download(int port, const std::string& out, const std::string& more) {
        return "download 127.0.0.1:" + std::to_string(port) +
               " --camera 2 --from '2026-12-01 08:00:00' --to '2026-12-01 08:59:59' -o '" +
               (root_ / out).string() + "' " + more;
    }
    // The one recording of that period, and where the download lands.
    static fs::path source() { return root_ / "rec/Cam02/20261201/080300.avi"; }
    static fs::path target(const std::string& out, const std::string& stem = "Dst01") {
        return root_ / out / ("Cam02/1201/" + stem + "20261201080300002.avi");
    }

    static fs::path root_;
};
fs::path DownloadCli::root_;

TEST_F(DownloadCli, FileDownloadCutOffThenResumedIsByteForByteTheRecordersFile) {
    {
        Recorder dropping(root_ / "rec", 2);
        ASSERT_GT(dropping.port(), 0);
        auto r = fsv(download(dropping.port(), "file", ""));
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("1 of 1 recordings failed"), std::string::npos) << r.err;
    }
    ASSERT_TRUE(fs::exists(target("file")));
    auto partial = fs::file_size(target("file"));
    EXPECT_LT(partial, fs::file_size(source()));
    // Blocks still in flight when the link went are dropped with the session (the resume
    // fetches them again), so on a slow machine nothing may have reached the disk yet. Then
    // cut the file by hand, so that the resume from an offset is still what is tested.
    if (partial == 0) {
        const std::string head = slurp(source()).substr(0, 16384);
        std::ofstream(target("file"), std::ios::binary | std::ios::trunc) << head;
        partial = head.size();
    }

    Recorder recorder(root_ / "rec", 0);
    auto r = fsv(download(recorder.port(), "file", "--json"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(target("file")), slurp(source()));
    // One JSON line per step; the resumed file starts past what was there.
    std::istringstream lines(r.out);
    bool finished = false;
    uint64_t firstBytes = 0;
    for (std::string line; std::getline(lines, line);) {
        auto j = nlohmann::json::parse(line);
        if (j["event"] == "progress" && !firstBytes) firstBytes = j["bytes"];
        if (j["event"] == "finished") finished = j["file"] == target("file").string();
    }
    EXPECT_TRUE(finished) << r.out;
    EXPECT_GE(firstBytes, partial);

    // A further run finds the file whole and fetches nothing.
    r = fsv(download(recorder.port(), "file", ""));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1 already there"), std::string::npos) << r.out;
}

TEST_F(DownloadCli, AviDownloadCutOffThenContinuedHasEveryFrameOnce) {
    {
        Recorder dropping(root_ / "rec", 7);
        auto r = fsv(download(dropping.port(), "avi", "--mode avi"));
        EXPECT_NE(r.status, 0);
    }
    ASSERT_TRUE(fs::exists(target("avi")));
    const auto cut = videoPackets(target("avi"), root_ / "ff.err");
    EXPECT_EQ(cut.size(), 7u) << "what arrived before the drop is a usable file";

    Recorder recorder(root_ / "rec", 0);
    auto r = fsv(download(recorder.port(), "avi", "--mode avi"));
    ASSERT_EQ(r.status, 0) << r.err;
    auto probe = shell("ffprobe -v error '" + target("avi").string() + "'", root_ / "probe.err");
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.err, "");
    const auto expected = videoPackets(source(), root_ / "ff.err");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(videoPackets(target("avi"), root_ / "ff.err"), expected);

    // A further run finds every frame there (the cut file above was not taken for whole) and
    // fetches nothing; nor does one over a clip that is whole.
    const std::string whole = slurp(target("avi"));
    r = fsv(download(recorder.port(), "avi", "--mode avi"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1 already there"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(target("avi")), whole);
    r = fsv(download(recorder.port(), "avi", "--mode avi --first 2 --last 4"));
    ASSERT_EQ(r.status, 0) << r.err;
    r = fsv(download(recorder.port(), "avi", "--mode avi --first 2 --last 4"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1 already there"), std::string::npos) << r.out;
}

TEST_F(DownloadCli, FrameRangeMakesAClip) {
    Recorder recorder(root_ / "rec", 0);
    auto r = fsv(download(recorder.port(), "clip", "--mode avi --first 5 --last 9"));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto all = videoPackets(source(), root_ / "ff.err");
    const auto clip = videoPackets(target("clip", "Clip"), root_ / "ff.err");
    ASSERT_GE(all.size(), 9u);
    EXPECT_EQ(clip, std::vector<std::string>(all.begin() + 4, all.begin() + 9));

    r = fsv(download(recorder.port(), "clip", "--mode avi --first 6 --last 5"));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("End Frame must greater than Start Frame!"), std::string::npos);
    r = fsv(download(recorder.port(), "clip", "--mode file --first 1 --last 2"));
    EXPECT_NE(r.status, 0);
}

// A protocol-35 recorder numbers its days, so the resume records must carry the day's own id:
// the dropped run leaves its work in Temp0.rsm, and `fsv resume` finishes it from there.
TEST_F(DownloadCli, DroppedDownloadIsFinishedFromItsResumeFile) {
    struct Case {
        const char* mode;
        int dropAfter;
    };
    for (const Case c : {Case{"file", 2}, Case{"avi", 7}}) {
        SCOPED_TRACE(c.mode);
        const std::string out = std::string("resumed-") + c.mode;
        const fs::path home = root_ / ("home-" + out);
        int port = 0;
        {
            Recorder dropping(root_ / "rec", c.dropAfter, "35");
            port = dropping.port();
            ASSERT_GT(port, 0);
            auto r = fsv(download(port, out, std::string("--mode ") + c.mode), home);
            EXPECT_NE(r.status, 0);
            EXPECT_NE(r.err.find("fsv resume " + (home / "Temp0.rsm").string()), std::string::npos)
                << r.err;
        }
        const fs::path kept = home / "Temp0.rsm";
        ASSERT_TRUE(fs::exists(kept));
        EXPECT_FALSE(fs::exists(home / "Auto1.rsm"));
        // One version-3 record whose date id (at 288 in the record) is the day's: 20261201 is
        // in the recorder's second month group.
        const std::string bytes = slurp(kept);
        ASSERT_EQ(bytes.size(), 101u + 308u);
        EXPECT_EQ(static_cast<uint8_t>(bytes[101 + 288]), 1);
        EXPECT_EQ(bytes.substr(101 + 5, 14), "20261201080300");

        // The recorder comes back where it was.
        Recorder recorder(root_ / "rec", 0, "35", port);
        ASSERT_EQ(recorder.port(), port);
        auto r = fsv("resume '" + kept.string() + "'", home);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(fs::exists(kept));
        EXPECT_FALSE(fs::exists(home / "Auto1.rsm"));
        if (std::string(c.mode) == "file") {
            EXPECT_EQ(slurp(target(out)), slurp(source()));
        } else {
            const auto expected = videoPackets(source(), root_ / "ff.err");
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(videoPackets(target(out), root_ / "ff.err"), expected);
        }
    }
}

// A recorder that goes away with more work queued behind the running stream: the run ends
// (the queued work will not start on a dead session), keeps all of it, and a resume finishes it.
TEST_F(DownloadCli, DropWithWorkStillQueuedEndsAndKeepsAllOfIt) {
    const fs::path home = root_ / "home-queued";
    const std::string day = " --camera 2 --from '2026-12-01 00:00:00' --to '2026-12-01 23:59:59'";
    int port = 0;
    {
        Recorder dropping(root_ / "rec", 2, "35");
        port = dropping.port();
        ASSERT_GT(port, 0);
        auto r = fsv("download 127.0.0.1:" + std::to_string(port) + day + " -o '" +
                         (root_ / "queued").string() + "'",
                     home);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("2 of 2 recordings failed"), std::string::npos) << r.err;
    }
    const fs::path kept = home / "Temp0.rsm";
    ASSERT_TRUE(fs::exists(kept));
    EXPECT_EQ(fs::file_size(kept), 101u + 2 * 308u) << "both recordings are kept";

    Recorder recorder(root_ / "rec", 0, "35", port);
    ASSERT_EQ(recorder.port(), port);
    auto r = fsv("resume '" + kept.string() + "'", home);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_EQ(slurp(root_ / "queued/Cam02/1201/Dst0120261201080300002.avi"), slurp(source()));
    EXPECT_EQ(slurp(root_ / "queued/Cam02/1201/Dst0120261201090317002.avi"),
              slurp(root_ / "rec/Cam02/20261201/090317.avi"));
}

TEST_F(DownloadCli, DownloadThatFinishesLeavesNoResumeFile) {
    const fs::path home = root_ / "home-whole";
    Recorder recorder(root_ / "rec", 0, "35");
    auto r = fsv(download(recorder.port(), "whole", ""), home);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(target("whole")), slurp(source()));
    EXPECT_FALSE(fs::exists(home / "Auto1.rsm"));
    EXPECT_FALSE(fs::exists(home / "Temp0.rsm"));
}

TEST_F(DownloadCli, ResumeRefusesFilesItCannotUse) {
    const fs::path home = root_ / "home-bad";
    fs::create_directories(home);
    std::ofstream(home / "junk.rsm") << "not a resume file at all";
    auto r = fsv("resume '" + (home / "junk.rsm").string() + "'", home);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Unexpected file format!"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(home / "junk.rsm"));
    r = fsv("resume '" + (home / "none.rsm").string() + "'", home);
    EXPECT_NE(r.status, 0);

    // A recorder that cannot be reached leaves the file to be loaded later.
    int gone = 0;
    {
        Recorder recorder(root_ / "rec", 0);
        gone = recorder.port();
    }
    std::string file(101 + 308, '\0');
    file.replace(0, 14, "KorFSV_Resume3");
    file[15] = 1;  // one record
    file[19] = static_cast<char>(gone & 0xFF);
    file[20] = static_cast<char>(gone >> 8);
    file.replace(21, 9, "127.0.0.1");
    file.replace(37, 5, "Guest");
    file[101 + 1] = 11;
    file[101 + 2] = 2;
    file.replace(101 + 5, 14, "20261201080300");
    file.replace(101 + 20, 5, "x.avi");
    std::ofstream(home / "later.rsm", std::ios::binary) << file;
    r = fsv("resume '" + (home / "later.rsm").string() + "'", home);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Connect fail!"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(home / "later.rsm"));
}

}  // namespace
