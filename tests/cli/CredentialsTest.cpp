// Where fsv's passwords go: the order of -p, the address book and FSV_PASSWORD, checked with a
// recorder that writes down every login it receives; the sources of `fsv book add`; the modes
// of the files that hold passwords; and --no-plain-login.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>

#include "platform/Shared.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using fsv::test::runProgram;
using fsv::test::SimProcess;

namespace {

class Credentials : public testing::Test {
  protected:
    void SetUp() override {
        root_ = fsv::test::makeTempDir("fsv-cred");
        ASSERT_FALSE(root_.empty());
        fs::create_directories(root_ / "rec/Cam01/20261201");
        std::ofstream(root_ / "rec/Cam01/20261201/100000.avi") << "x";
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path home() const { return root_ / "home" / "data"; }  // made by fsv
    fs::path loginLog() const { return root_ / "logins"; }
    std::string lastLogin() const {
        std::ifstream in(loginLog());
        std::string line, last;
        while (std::getline(in, line)) last = line;
        return last;
    }
    // fsv with the scratch data folder; `password` set as FSV_PASSWORD unless empty.
    fsv::test::ProgramResult fsv(const std::vector<std::string>& args,
                                 const std::string& password = "") {
        return runProgram(fsv::test::fsvPath(), args,
                          {{"FARSIGHT_HOME", home().string()},
                           {"FARSIGHT_CONFIG", home().string()},
                           {"FSV_PASSWORD", password}});
    }
    std::string book() const {
        std::ifstream in(home() / "AddressBook.dat", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static unsigned modeOf(const fs::path& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    fs::path root_;
};

}  // namespace

// -p beats the book, the book beats FSV_PASSWORD, and FSV_PASSWORD only fills an empty
// password: a password exported for one recorder never goes to another.
TEST_F(Credentials, PasswordOrder) {
    SimProcess sim({"--recordings", (root_ / "rec").string(), "--user", "admin", "--password",
                    "book-pw", "--login-log", loginLog().string()});
    ASSERT_TRUE(sim.started()) << sim.error();
    const std::string port = std::to_string(sim.port());
    ASSERT_EQ(fsv({"book", "add", "B", "127.0.0.1", "--port", port, "-u", "admin", "-p", "book-pw"})
                  .status,
              0);
    ASSERT_EQ(
        fsv({"book", "add", "Blank", "127.0.0.1", "--port", port, "-u", "admin", "-p", ""}).status,
        0);

    struct Case {
        std::vector<std::string> args;
        std::string environment, received;
    } cases[] = {
        {{"info", "--book", "B"}, "other-recorders-pw", "admin:book-pw"},
        {{"info", "--book", "B", "-p", "typed"}, "other-recorders-pw", "admin:typed"},
        {{"info", "--book", "Blank"}, "env-pw", "admin:env-pw"},
        {{"info", sim.address(), "-u", "admin"}, "env-pw", "admin:env-pw"},
        {{"info", sim.address(), "-u", "admin", "-p", ""}, "env-pw", "admin:"},
        {{"events", "--book", "B", "--camera", "all", "--from", "2026-12-01", "--to", "2026-12-01"},
         "other-recorders-pw",
         "admin:book-pw"},
    };
    for (auto& c : cases) {
        fs::remove(loginLog());
        auto r = fsv(c.args, c.environment);
        EXPECT_EQ(lastLogin(), c.received) << c.args[1] << " " << c.args.back();
        EXPECT_EQ(r.status, c.received == "admin:book-pw" ? 0 : 1) << r.err;
    }
}

// `fsv book add` takes the password from -p, else FSV_PASSWORD, else asks at a terminal
// without showing what is typed. The data folder and the book are the owner's only.
TEST_F(Credentials, BookAddPasswordSourcesAndModes) {
    struct Case {
        std::vector<std::string> args;
        std::string environment, stored;
    } cases[] = {
        {{"book", "add", "A", "10.0.0.1", "-p", "from-p"}, "from-env", "from-p"},
        {{"book", "add", "B", "10.0.0.2"}, "from-env", "from-env"},
    };
    for (auto& c : cases) {
        auto r = fsv(c.args, c.environment);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(book().find(fsv::ScramblePassword(c.stored)), std::string::npos) << c.stored;
    }

    EXPECT_EQ(modeOf(home()), 0700u);
    EXPECT_EQ(modeOf(home() / "AddressBook.dat"), 0600u);
    EXPECT_EQ(modeOf(home() / "AddressBook.bak"), 0600u);

    // At a terminal: a pseudo-terminal as standard input, output and error.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) GTEST_SKIP() << "no pseudo-terminal here";
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&fa, fd, slave.c_str(), O_RDWR, 0);
    fsv::test::detail::SpawnArgs sa(fsv::test::fsvPath(), {"book", "add", "C", "10.0.0.3"},
                                    {{"FARSIGHT_HOME", home().string()},
                                     {"FARSIGHT_CONFIG", home().string()},
                                     {"FSV_PASSWORD", ""}});
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, fsv::test::fsvPath().c_str(), &fa, nullptr, sa.argv.data(),
                            sa.envp.data()),
              0);
    posix_spawn_file_actions_destroy(&fa);
    // Everything the terminal shows, until `until` appears or the program's side closes.
    std::string shown;
    auto readUntil = [&](const std::string& until) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (shown.find(until) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 200) != 1) continue;
            char buf[256];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            shown.append(buf, static_cast<size_t>(n));
        }
    };
    readUntil("Password for C");
    // The echo goes off just after the prompt: wait for it, so the typing is not echoed early.
    for (int i = 0; i < 300; ++i) {
        termios t{};
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        const bool quiet = fd >= 0 && ::tcgetattr(fd, &t) == 0 && !(t.c_lflag & ECHO);
        if (fd >= 0) ::close(fd);
        if (quiet) break;
        ::usleep(10000);
    }
    const std::string typed = "typed-secret\n";
    ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    readUntil("Added C");
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << shown;
    EXPECT_EQ(shown.find("typed-secret"), std::string::npos) << "echoed: " << shown;
    EXPECT_NE(book().find(fsv::ScramblePassword("typed-secret")), std::string::npos);
}

// Without a key reply the old login carries the password only scrambled. --no-plain-login
// refuses it: the recorder receives no login at all, and the run fails.
TEST_F(Credentials, NoPlainLoginRefusesARecorderWithoutKey) {
    SimProcess sim({"--recordings", (root_ / "rec").string(), "--password", "pw", "--no-key-reply",
                    "--login-log", loginLog().string()});
    ASSERT_TRUE(sim.started()) << sim.error();
    // Both wait the key request's ten seconds; side by side.
    auto refused = std::async(std::launch::async, [&] {
        return fsv({"info", sim.address(), "--no-plain-login"}, "pw");
    });
    auto plain = fsv({"info", sim.address()}, "pw");
    auto r = refused.get();
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "fsv: The recorder sent no key: its login would carry the password in a reversible "
              "form. Login refused.\n");
    EXPECT_EQ(r.out, "");
    std::ifstream in(loginLog());
    std::stringstream logins;
    logins << in.rdbuf();
    EXPECT_EQ(logins.str(), "Guest:pw\n") << "one login only: the one that was not refused";
}
