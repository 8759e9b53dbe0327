// fsv info against a running recorder-sim.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "tests/support/SimProcess.h"


namespace fs = std::filesystem;
using fsv::test::runProgram;
using fsv::test::SimProcess;

namespace {

fs::path tinyRecordings() {
    // One folder per test process: ctest runs these tests in parallel.
    fs::path dir = fs::path(FSV_BINARY_DIR) / "test-recordings" /
                   ("info-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    for (auto* f : {"Cam01/20261130/093000.avi", "Cam01/20261201/100000.avi",
                    "Cam02/20261201/120000.avi", "Aud01/20261201/100000.wav"}) {
        fs::create_directories((dir / f).parent_path());
        std::ofstream(dir / f);
    }
    std::ofstream(dir / "Cam01" / "name") << "Front door\n";
    return dir;
}

}  // namespace

TEST(FsvInfo, ListsCamerasAndDaysForEachRecorderVersion) {
    const fs::path dir = tinyRecordings();
    for (const char* protocol : {"34", "35"}) {
        SimProcess sim({"--recordings", dir.string(), "--user", "admin", "--password", "pw",
                        "--protocol", protocol, "--name", "Yard DVR"});
        ASSERT_TRUE(sim.started()) << sim.error();

        auto text = runProgram(fsv::test::fsvPath(), {"info", sim.address(), "-u", "admin"},
                               {{"FSV_PASSWORD", "pw"}});
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_NE(text.out.find("Yard DVR"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find(std::string("protocol version: ") + protocol), std::string::npos)
            << text.out;
        EXPECT_NE(text.out.find("camera 1: Front door\n  days: 20261130 20261201\n"),
                  std::string::npos)
            << text.out;

        auto json = runProgram(fsv::test::fsvPath(),
                               {"info", sim.address(), "-u", "admin", "-p", "pw", "--json"},
                               {{"FSV_PASSWORD", ""}});
        ASSERT_EQ(json.status, 0) << json.err;
        auto j = nlohmann::json::parse(json.out);
        EXPECT_EQ(j["name"], "Yard DVR");
        EXPECT_EQ(j["version"], std::atoi(protocol));
        ASSERT_EQ(j["cameras"].size(), 2u);
        EXPECT_EQ(j["cameras"][0]["code"], 1);
        EXPECT_EQ(j["cameras"][0]["name"], "Front door");
        EXPECT_EQ(j["cameras"][0]["days"], nlohmann::json::array({"20261130", "20261201"}));
        EXPECT_EQ(j["cameras"][1]["name"], "Camera 2");
        ASSERT_EQ(j["audio"].size(), 1u);
        EXPECT_EQ(j["audio"][0]["days"], nlohmann::json::array({"20261201"}));

        EXPECT_EQ(sim.stop(), 0) << "recorder-sim ends cleanly on SIGTERM";
    }
}

TEST(FsvInfo, FailuresGiveOneLineAndNonZeroStatus) {
    SimProcess sim({"--recordings", tinyRecordings().string(), "--user", "admin", "--password",
                    "pw", "--max-clients", "0"});
    ASSERT_TRUE(sim.started()) << sim.error();
    SimProcess good(
        {"--recordings", tinyRecordings().string(), "--user", "admin", "--password", "pw"});
    ASSERT_TRUE(good.started()) << good.error();

    struct Case {
        std::string target, password, expected;
    };
    const Case cases[] = {
        {good.address(), "wrong", "fsv: Password Error! (127.0.0.1)\n"},
        {sim.address(), "pw", "fsv: Connect fail!\n"},  // refused: beyond the client limit
    };
    for (auto& c : cases) {
        auto r =
            runProgram(fsv::test::fsvPath(), {"info", c.target, "-u", "admin", "-p", c.password});
        EXPECT_NE(r.status, 0) << c.expected;
        EXPECT_EQ(r.err, c.expected);
        EXPECT_EQ(r.out, "");
    }
    // Nobody listening any more.
    const std::string gone = good.address();
    good.stop();
    auto r = runProgram(fsv::test::fsvPath(), {"info", gone, "-u", "admin", "-p", "pw"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err, "fsv: Connect fail!\n");
}

// --book takes address, port, ID and password from the address book; -p still wins.
TEST(FsvInfo, ConnectsToAnAddressBookEntry) {
    SimProcess sim(
        {"--recordings", tinyRecordings().string(), "--user", "admin", "--password", "pw"});
    ASSERT_TRUE(sim.started()) << sim.error();
    const fs::path home = fs::path(FSV_BINARY_DIR) / "test-recordings" /
                          ("info-book-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    const std::map<std::string, std::string> env = {
        {"FARSIGHT_HOME", home.string()}, {"FARSIGHT_CONFIG", home.string()}, {"FSV_PASSWORD", ""}};
    auto added =
        runProgram(fsv::test::fsvPath(),
                   {"book", "add", "Yard", "127.0.0.1", "--port", std::to_string(sim.port()), "-u",
                    "admin", "-p", "pw", "--group", "Site"},
                   env);
    ASSERT_EQ(added.status, 0) << added.err;

    auto r = runProgram(fsv::test::fsvPath(), {"info", "--book", "Yard", "--json"}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Front door"), std::string::npos) << r.out;
    r = runProgram(fsv::test::fsvPath(), {"info", "--book", "Yard", "--group", "Site"}, env);
    EXPECT_EQ(r.status, 0) << r.err;

    r = runProgram(fsv::test::fsvPath(), {"info", "--book", "Yard", "-p", "wrong"}, env);
    EXPECT_EQ(r.err, "fsv: Password Error! (127.0.0.1)\n");
    r = runProgram(fsv::test::fsvPath(), {"info", "--book", "Nobody"}, env);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err, "");
    r = runProgram(fsv::test::fsvPath(), {"info", sim.address(), "--book", "Yard"}, env);
    EXPECT_EQ(r.status, 2);
}
