// fsv archive against a small fleet of recorder-sim processes: one healthy pair, one that
// drops the link in the middle of a file, one that refuses the login; then the next run, a
// kill -9 in the middle of a run, a flipped byte and an export.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using fsv::test::runProgram;
using fsv::test::SimProcess;

namespace {

const std::vector<std::string> kWindow{"--from", "2026-11-01", "--to", "2026-12-31"};
constexpr size_t kPerRecorder = 12;  // the generated recordings: 3 cameras x 2 days x 2

struct Line {
    std::string name, mode;
    long offset = 0;
};

std::vector<Line> streamLog(const fs::path& file) {
    std::vector<Line> out;
    std::ifstream in(file);
    Line l;
    while (in >> l.name >> l.mode >> l.offset) out.push_back(l);
    return out;
}

class ArchiveRun : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        recordings() = fsv::test::makeTempDir("fsv-fleet-rec");
        ASSERT_FALSE(recordings().empty());
        auto r = runProgram(fsv::test::recorderSimPath(), {"--generate", recordings().string()});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    static void TearDownTestSuite() { fs::remove_all(recordings()); }
    static fs::path& recordings() {
        static fs::path p;
        return p;
    }

    void SetUp() override {
        base = fsv::test::makeTempDir("fsv-fleet");
        ASSERT_FALSE(base.empty());
        fs::create_directories(base / "home");
        archive = base / "archive";
        env = {{"FARSIGHT_HOME", (base / "home").string()},
               {"FARSIGHT_CONFIG", (base / "home").string()},
               {"FSV_PASSWORD", ""}};
    }
    void TearDown() override { fs::remove_all(base); }

    std::unique_ptr<SimProcess> sim(const std::string& name, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--recordings", recordings().string(),
                                      "--user",       "admin",
                                      "--password",   "pw",
                                      "--stream-log", (base / (name + ".log")).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<SimProcess>(args);
    }
    void book(const std::string& name, const SimProcess& s, const std::string& password = "pw") {
        runProgram(fsv::test::fsvPath(), {"book", "remove", name}, env);
        auto r = runProgram(fsv::test::fsvPath(),
                            {"book", "add", name, "127.0.0.1", "--port", std::to_string(s.port()),
                             "-u", "admin", "-p", password, "--group", "site"},
                            env);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    fsv::test::ProgramResult fsv(std::vector<std::string> args) {
        return runProgram(fsv::test::fsvPath(), args, env);
    }
    fsv::test::ProgramResult run() {
        std::vector<std::string> args{"archive", "run",  "--archive", archive.string(),
                                      "--group", "site", "--json"};
        args.insert(args.end(), kWindow.begin(), kWindow.end());
        return fsv(args);
    }
    // The summary line of each recorder.
    static std::map<std::string, nlohmann::json> summaries(const std::string& out) {
        std::map<std::string, nlohmann::json> s;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            auto j = nlohmann::json::parse(line, nullptr, false);
            if (!j.is_discarded() && j.value("event", "") == "summary")
                s[j["recorder"].get<std::string>()] = j;
        }
        return s;
    }
    std::vector<nlohmann::json> catalogRows() {
        auto r = fsv({"archive", "find", "--archive", archive.string(), "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        auto j = nlohmann::json::parse(r.out, nullptr, false);
        return j.is_array() ? j.get<std::vector<nlohmann::json>>() : std::vector<nlohmann::json>{};
    }
    std::set<std::string> archivedNames(const std::string& recorder) {
        std::set<std::string> out;  // as the recorder names them: key + three-digit code
        for (auto& row : catalogRows())
            if (row["recorder"] == recorder) {
                char code[8];
                std::snprintf(code, sizeof code, "%03d", row["camera"].get<int>());
                out.insert(row["event_key"].get<std::string>() + code);
            }
        return out;
    }

    fs::path base, archive;
    std::map<std::string, std::string> env;
};

TEST_F(ArchiveRun, FailedRecordersAreTakenUpByTheNextRunAndNothingIsFetchedTwice) {
    auto a = sim("a"), b = sim("b"), dropping = sim("c", {"--drop-stream-after", "2"}),
         refusing = sim("d");
    for (auto* s : {a.get(), b.get(), dropping.get(), refusing.get()})
        ASSERT_TRUE(s->started()) << s->error();
    book("a", *a);
    book("b", *b);
    book("c", *dropping);
    book("d", *refusing, "wrong");

    auto first = run();
    EXPECT_EQ(first.status, 1) << first.out << first.err;
    auto s = summaries(first.out);
    ASSERT_EQ(s.size(), 4u) << first.out;
    for (const char* ok : {"a", "b"}) {
        EXPECT_TRUE(s[ok]["ok"].get<bool>()) << s[ok];
        EXPECT_EQ(s[ok]["archived"], kPerRecorder);
    }
    EXPECT_FALSE(s["c"]["ok"].get<bool>());
    EXPECT_LT(s["c"]["archived"].get<size_t>(), kPerRecorder);
    EXPECT_FALSE(s["d"]["ok"].get<bool>());
    EXPECT_EQ(s["d"]["archived"], 0);
    EXPECT_NE(s["d"]["error"].get<std::string>().find("Password"), std::string::npos) << s["d"];
    EXPECT_TRUE(streamLog(base / "d.log").empty());
    // The cut file stays in the incoming folder, out of the catalog: the archive is clean.
    auto check = fsv({"archive", "verify", "--archive", archive.string()});
    EXPECT_EQ(check.status, 0) << check.out;
    const auto fromC = archivedNames("c");
    EXPECT_EQ(catalogRows().size(), 2 * kPerRecorder + fromC.size());

    // The link holds now and the book has the right password.
    dropping = sim("c2");
    ASSERT_TRUE(dropping->started());
    book("c", *dropping);
    book("d", *refusing);
    auto second = run();
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    s = summaries(second.out);
    for (const char* done : {"a", "b"}) {
        EXPECT_EQ(s[done]["archived"], 0) << s[done];
        EXPECT_EQ(s[done]["present"], kPerRecorder);
    }
    EXPECT_EQ(s["c"]["archived"].get<size_t>(), kPerRecorder - fromC.size()) << s["c"];
    EXPECT_EQ(s["d"]["archived"], kPerRecorder);
    EXPECT_EQ(catalogRows().size(), 4 * kPerRecorder);

    // What each recorder saw: every recording asked for once from the start, except the one
    // cut short, which was continued from where the first run left it.
    for (const char* name : {"a", "b", "d"}) {
        std::set<std::string> names;
        for (auto& l : streamLog(base / (std::string(name) + ".log"))) {
            EXPECT_EQ(l.mode, "11");
            EXPECT_EQ(l.offset, 0) << name << " " << l.name;
            EXPECT_TRUE(names.insert(l.name).second) << name << " fetched twice: " << l.name;
        }
        EXPECT_EQ(names.size(), kPerRecorder) << name;
    }
    const auto before = streamLog(base / "c.log");
    ASSERT_EQ(before.size(), fromC.size() + 1);  // the last one was cut
    const auto after = streamLog(base / "c2.log");
    EXPECT_EQ(after.size(), kPerRecorder - fromC.size());
    for (auto& l : after) {
        EXPECT_FALSE(fromC.count(l.name)) << "fetched again: " << l.name;
        EXPECT_EQ(l.offset > 0, l.name == before.back().name) << l.name << " " << l.offset;
    }
    check = fsv({"archive", "verify", "--archive", archive.string()});
    EXPECT_EQ(check.status, 0) << check.out;
}

TEST_F(ArchiveRun, KilledRunLeavesACleanArchiveThatTheNextRunCompletes) {
    auto slow = sim("slow", {"--delay-ms", "40"});
    ASSERT_TRUE(slow->started()) << slow->error();
    book("slow", *slow);

    std::vector<std::string> args{"archive", "run", "--archive", archive.string(), "slow"};
    args.insert(args.end(), kWindow.begin(), kWindow.end());
    fsv::test::detail::SpawnArgs sa(fsv::test::fsvPath(), args, env);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, fsv::test::fsvPath().c_str(), &fa, nullptr, sa.argv.data(),
                            sa.envp.data()),
              0);
    posix_spawn_file_actions_destroy(&fa);
    // Killed once a few files are in place and the next is arriving.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto placed = [&] {
        size_t n = 0;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(archive / "slow", ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            n += it->is_regular_file();
        return n;
    };
    while (placed() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";

    auto check = fsv({"archive", "verify", "--archive", archive.string()});
    EXPECT_EQ(check.status, 0) << check.out;
    const size_t kept = catalogRows().size();
    EXPECT_GE(kept, 2u);
    EXPECT_LT(kept, kPerRecorder);

    std::vector<std::string> again{"archive", "run", "--archive", archive.string(), "slow"};
    again.insert(again.end(), kWindow.begin(), kWindow.end());
    auto r = fsv(again);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(catalogRows().size(), kPerRecorder);
    check = fsv({"archive", "verify", "--archive", archive.string()});
    EXPECT_EQ(check.status, 0) << check.out;
}

TEST_F(ArchiveRun, VerifyFindsAFlippedByteAndExportPassesSha256sum) {
    auto one = sim("one");
    ASSERT_TRUE(one->started()) << one->error();
    book("one", *one);
    auto r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // Stamped copies too, with no display to draw on.
    const fs::path out = base / "evidence";
    auto noDisplay = env;
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) noDisplay[v] = "";
    auto e = runProgram(
        fsv::test::fsvPath(),
        {"archive", "export", "--archive", archive.string(), "--recorder", "one", "--camera", "1,2",
         "--from", "2026-12-01 00:00:00", "--to", "2026-12-01 23:59:59", "--stamp", out.string()},
        noDisplay);
    ASSERT_EQ(e.status, 0) << e.err;
    EXPECT_NE(e.out.find("4 stamped copies"), std::string::npos) << e.out;
    const std::string sums = "cd '" + out.string() + "' && sha256sum --quiet -c SHA256SUMS";
    EXPECT_EQ(std::system(sums.c_str()), 0);
    std::ifstream listed(out / "SHA256SUMS");
    size_t lines = 0, stamped = 0;
    for (std::string l; std::getline(listed, l);) {
        ++lines;
        stamped += l.find("  stamped/one/Cam0") != std::string::npos;
    }
    EXPECT_EQ(lines, 8u);  // cameras 1 and 2, two recordings on the day, and their stamped copies
    EXPECT_EQ(stamped, 4u);
    EXPECT_TRUE(fs::exists(out / "manifest.json"));
    EXPECT_TRUE(fs::exists(out / "manifest.csv"));

    const auto rows = catalogRows();
    ASSERT_FALSE(rows.empty());
    const std::string victim = rows[rows.size() / 2]["path"];
    {
        std::fstream f(archive / victim, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(100);
        const char c = static_cast<char>(f.get());
        f.seekp(100);
        f.put(static_cast<char>(c ^ 0x01));
    }
    auto check = fsv({"archive", "verify", "--archive", archive.string()});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("changed    " + victim), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("0 missing, 1 changed, 0 untracked"), std::string::npos) << check.out;
}

TEST_F(ArchiveRun, LimitRateHoldsTheRecorderToIt) {
    auto one = sim("one");
    ASSERT_TRUE(one->started()) << one->error();
    book("one", *one);
    std::vector<std::string> args{"archive", "run",    "--archive",    archive.string(),
                                  "one",     "--json", "--limit-rate", "256"};
    args.insert(args.end(), kWindow.begin(), kWindow.end());
    const auto started = std::chrono::steady_clock::now();
    auto r = fsv(args);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto s = summaries(r.out);
    ASSERT_TRUE(s.count("one")) << r.out;
    EXPECT_EQ(s.at("one")["archived"], kPerRecorder);
    // Never faster than the limit: every byte at 256 KB/s, less the one burst (an eighth of a
    // second) that an idle recorder may send at once.
    const double bytes = s.at("one")["bytes"].get<double>();
    EXPECT_GE(took.count(), bytes / (256 * 1024) - 0.125) << bytes << " bytes";
    auto check = fsv({"archive", "verify", "--archive", archive.string()});
    EXPECT_EQ(check.status, 0) << check.out;
}

TEST_F(ArchiveRun, PruneListsOldRecordingsAndRemovesThemOnlyWithYes) {
    auto one = sim("one");
    ASSERT_TRUE(one->started()) << one->error();
    book("one", *one);
    ASSERT_EQ(run().status, 0);
    const std::string dir = archive.string();

    // The recordings are of 2026-11-30 and 2026-12-01: a long keep leaves them all.
    auto r = fsv({"archive", "prune", "--archive", dir, "--keep-days", "100000", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(catalogRows().size(), kPerRecorder);

    r = fsv({"archive", "prune", "--archive", dir, "--keep-days", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("would remove 12 recordings"), std::string::npos) << r.out;
    EXPECT_EQ(catalogRows().size(), kPerRecorder);  // a dry run

    r = fsv({"archive", "prune", "--archive", dir, "--keep-days", "0", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(catalogRows().empty());
    auto check = fsv({"archive", "verify", "--archive", dir});
    EXPECT_EQ(check.status, 0) << check.out;  // no file left behind
    EXPECT_NE(check.out.find("0 checked"), std::string::npos) << check.out;

    // Gone from the archive, they are fetched again by the next run.
    EXPECT_EQ(run().status, 0);
    EXPECT_EQ(catalogRows().size(), kPerRecorder);
}

}  // namespace
