#pragma once
// Process helpers for the end-to-end tests: a recorder-sim started as a process (it picks a
// free port and says which on its first line), and a run of a program with its output and exit
// status captured.
//
//   fsv::test::SimProcess sim({"--recordings", dir, "--password", "pw"});
//   ASSERT_TRUE(sim.started()) << sim.error();
//   auto r = fsv::test::runProgram(fsv::test::fsvPath(), {"info", sim.address(), "-p", "pw"});
//   EXPECT_EQ(r.status, 0) << r.err;

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace fsv::test {

// The programs of this build.
std::string recorderSimPath();
std::string fsvPath();

namespace detail {

// argv and envp for posix_spawn; `env` entries replace or add variables (an empty value
// removes one).
struct SpawnArgs {
    std::vector<std::string> strings, envStrings;
    std::vector<char*> argv, envp;
    SpawnArgs(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env);
};

}  // namespace detail

class SimProcess {
  public:
    // Starts recorder-sim with `args` (listening on 127.0.0.1, port 0, unless they say where)
    // and reads where it listens.
    explicit SimProcess(std::vector<std::string> args,
                        std::chrono::milliseconds startTimeout = std::chrono::seconds(20));
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return port_ != 0; }
    pid_t pid() const { return pid_; }
    const std::string& error() const { return error_; }
    uint16_t port() const { return port_; }
    std::string address() const { return host_ + ":" + std::to_string(port_); }

    // SIGTERM and wait; the exit status (or -1 when it had to be killed or never ran).
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    uint16_t port_ = 0;
    std::string host_, firstLine_, error_;
};

struct ProgramResult {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out, err;
};

// Runs `program` with `args` to its end; `env` adds or replaces variables (empty removes).
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {});

}  // namespace fsv::test
