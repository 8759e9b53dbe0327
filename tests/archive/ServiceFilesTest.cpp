// The scheduled archive's unit files, as systemd reads them: an instance for a group, with the
// service's command pointed at the fsv just built (installed, it is found in /usr/bin).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(ServiceFiles, PassSystemdAnalyzeVerify) {
    if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "systemd-analyze is not installed";
    const fs::path source = fs::path(FSV_SOURCE_DIR) / "packaging" / "systemd";
    const fsv::test::TempDir scratch("fsv-units");
    const fs::path& dir = scratch.path();
    std::string service = slurp(source / "fsv-archive@.service");
    const std::string timer = slurp(source / "fsv-archive@.timer");
    ASSERT_NE(service.find("ExecStart=fsv archive run "), std::string::npos);
    // Installed by default as a timer that nothing enables; the service runs from it only.
    EXPECT_EQ(service.find("[Install]"), std::string::npos);
    EXPECT_NE(timer.find("WantedBy=timers.target"), std::string::npos);
    service = std::regex_replace(service, std::regex("ExecStart=fsv "),
                                 "ExecStart=" + std::string(FSV_BINARY_DIR) + "/cli/fsv ");
    std::ofstream(dir / "fsv-archive@site.service") << service;
    std::ofstream(dir / "fsv-archive@site.timer") << timer;
    const std::string log = (dir / "verify.log").string();
    const std::string command = "systemd-analyze verify '" +
                                (dir / "fsv-archive@site.service").string() + "' '" +
                                (dir / "fsv-archive@site.timer").string() + "' >'" + log + "' 2>&1";
    const int status = std::system(command.c_str());
    const std::string output = slurp(log);
    fs::remove_all(dir);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
}

}  // namespace
