// fsv events against recorder-sim processes speaking protocol 34 and 35: the listed recordings
// are exactly the files of the period in the recorder's folder, with their sizes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <tuple>

#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"


namespace fs = std::filesystem;

namespace {

struct EventsRun {
    int status = -1;
    std::string out, err;
};

EventsRun runFsv(const std::string& args, const fs::path& errFile) {
    EventsRun r;
    const std::string cmd = FSV_BINARY_DIR "/cli/fsv " + args + " 2>'" + errFile.string() + "'";
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

// recorder-sim on a port of its own choosing, speaking `protocol`.
class SimRecorder {
  public:
    SimRecorder(const fs::path& recordings, int protocol)
        : sim_({"--recordings", recordings.string(), "--protocol", std::to_string(protocol)}) {}
    int port() const { return sim_.port(); }

  private:
    fsv::test::SimProcess sim_;
};

using Listed = std::tuple<std::string, int, std::string, std::string, uint64_t>;

class EventsTest : public ::testing::Test {
  protected:
    fs::path dir = fsv::test::makeTempDir("fsv-events-cli");
    std::set<Listed> files;  // every recording in the folder

    void SetUp() override {
        ASSERT_FALSE(dir.empty());
        // Days across a month end, so that protocol 35 gives them two date ids.
        add("Cam01", "20261130", "235959", 10);
        add("Cam01", "20261201", "000000", 0);
        add("Cam01", "20261201", "120000", 21);
        add("Cam01", "20261202", "080000", 32);
        add("Cam01", "20261202", "080001", 43);
        add("Cam02", "20261201", "120000", 54);
        add("Cam02", "20261203", "000000", 65);
        add("Aud01", "20261201", "130000", 76);
    }
    void TearDown() override { fs::remove_all(dir); }

    void add(const std::string& channel, const std::string& date, const std::string& time,
             size_t size) {
        fs::create_directories(dir / channel / date);
        const bool audio = channel[0] == 'A';
        std::ofstream(dir / channel / date / (time + (audio ? ".wav" : ".avi")))
            << std::string(size, 'r');
        files.insert({audio ? "audio" : "camera", std::stoi(channel.substr(3)), date, time, size});
    }

    std::set<Listed> expected(const std::string& from, const std::string& to,
                              std::set<std::pair<std::string, int>> channels) {
        std::set<Listed> out;
        for (auto& f : files) {
            const std::string when = std::get<2>(f) + std::get<3>(f);
            if (channels.count({std::get<0>(f), std::get<1>(f)}) && when >= from && when <= to)
                out.insert(f);
        }
        return out;
    }

    static std::set<Listed> parse(const std::string& json) {
        std::set<Listed> out;
        for (auto& e : nlohmann::json::parse(json))
            out.insert(Listed{e.at("kind").get<std::string>(), e.at("code").get<int>(),
                              e.at("date").get<std::string>(), e.at("time").get<std::string>(),
                              e.at("size").get<uint64_t>()});
        return out;
    }
};

TEST_F(EventsTest, ListsExactlyTheFilesOfThePeriodForBothProtocols) {
    for (int protocol : {34, 35}) {
        SCOPED_TRACE(protocol);
        SimRecorder sim(dir, protocol);
        ASSERT_GT(sim.port(), 0);
        const std::string target = "127.0.0.1:" + std::to_string(sim.port());
        const fs::path err = dir.string() + ".err";

        struct Case {
            std::string channels, from, to;
            std::set<std::pair<std::string, int>> which;
        };
        const Case cases[] = {
            {"--camera 1", "2026-11-30 23:59:59", "2026-12-02 08:00:00", {{"camera", 1}}},
            {"--camera all --audio 1",
             "2026-12-01 00:00:00",
             "2026-12-03 00:00:00",
             {{"camera", 1}, {"camera", 2}, {"audio", 1}}},
            {"--camera 2,1",
             "2026-12-01 12:00:00",
             "2026-12-01 12:00:00",
             {{"camera", 1}, {"camera", 2}}},
        };
        for (auto& c : cases) {
            SCOPED_TRACE(c.channels + " " + c.from + " .. " + c.to);
            auto run = runFsv("events " + target + " " + c.channels + " --from '" + c.from +
                                  "' --to '" + c.to + "' --json",
                              err);
            ASSERT_EQ(run.status, 0) << run.err;
            auto digits = [](std::string s) {
                std::string d;
                for (char ch : s)
                    if (ch >= '0' && ch <= '9') d += ch;
                return d;
            };
            auto want = expected(digits(c.from), digits(c.to), c.which);
            EXPECT_FALSE(want.empty());
            EXPECT_EQ(parse(run.out), want);
        }

        // Nothing in the period: "No Match!", an empty list, and success.
        auto none = runFsv("events " + target +
                               " --camera 1 --from '2026-12-02 08:00:02' --to '2026-12-31 "
                               "23:59:59' --json",
                           err);
        EXPECT_EQ(none.status, 0);
        EXPECT_EQ(parse(none.out), std::set<Listed>{});
        EXPECT_NE(none.err.find("No Match!"), std::string::npos);
        auto text =
            runFsv("events " + target + " --camera 2 --from 2027-01-01 --to 2027-01-02", err);
        EXPECT_EQ(text.status, 0);
        EXPECT_NE(text.out.find("No Match!"), std::string::npos);

        // A camera the recorder does not have is an error.
        auto bad =
            runFsv("events " + target + " --camera 9 --from 2026-12-01 --to 2026-12-02", err);
        EXPECT_EQ(bad.status, 1);
        EXPECT_NE(bad.err.find("no camera 9"), std::string::npos);
        fs::remove(err);
    }
}

}  // namespace
