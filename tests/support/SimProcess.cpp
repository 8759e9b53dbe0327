#include "tests/support/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace fsv::test {

std::string recorderSimPath() { return std::string(FSV_BINARY_DIR) + "/sim/recorder-sim"; }
std::string fsvPath() { return std::string(FSV_BINARY_DIR) + "/cli/fsv"; }

namespace detail {

SpawnArgs::SpawnArgs(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env) {
    strings.push_back(program);
    strings.insert(strings.end(), args.begin(), args.end());
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        std::string key = kv.substr(0, kv.find('='));
        if (!env.count(key)) envStrings.push_back(kv);
    }
    for (auto& [k, v] : env)
        if (!v.empty()) envStrings.push_back(k + "=" + v);
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
}

}  // namespace detail

SimProcess::SimProcess(std::vector<std::string> args, std::chrono::milliseconds startTimeout) {
    bool hasListen = false;
    for (auto& a : args) hasListen |= a == "--listen";
    if (!hasListen) {
        args.push_back("--listen");
        args.push_back("127.0.0.1:0");
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    detail::SpawnArgs sa(recorderSimPath(), args, {});
    int rc = ::posix_spawn(&pid_, recorderSimPath().c_str(), &fa, nullptr, sa.argv.data(),
                           sa.envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    out_ = out[0];
    if (rc != 0) {
        pid_ = -1;
        error_ = "cannot start " + recorderSimPath();
        return;
    }
    // The first line: "listening on 127.0.0.1:PORT".
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + startTimeout;
    while (line.find('\n') == std::string::npos) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        pollfd p{out_, POLLIN, 0};
        char buf[256];
        ssize_t n;
        if (left <= 0 || ::poll(&p, 1, left) != 1 || (n = ::read(out_, buf, sizeof buf)) <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
    }
    firstLine_ = line.substr(0, line.find('\n'));
    const std::string prefix = "listening on ";
    auto colon = firstLine_.rfind(':');
    if (firstLine_.rfind(prefix, 0) != 0 || colon == std::string::npos) {
        error_ = "recorder-sim did not say where it listens: \"" + firstLine_ + "\"";
        return;
    }
    host_ = firstLine_.substr(prefix.size(), colon - prefix.size());
    port_ = static_cast<uint16_t>(std::atoi(firstLine_.c_str() + colon + 1));
}

int SimProcess::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            status = -1;
            break;
        }
        ::usleep(10000);
    }
    pid_ = -1;
    if (out_ >= 0) ::close(out_);
    out_ = -1;
    return status == -1 ? -1 : (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env) {
    namespace fs = std::filesystem;
    ProgramResult r;
    static std::atomic<int> counter{0};  // runs may start from several threads
    const fs::path base = fs::temp_directory_path() / ("fsv-run-" + std::to_string(::getpid()) +
                                                       "-" + std::to_string(counter++));
    const std::string outPath = base.string() + ".out", errPath = base.string() + ".err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    detail::SpawnArgs sa(program, args, env);
    pid_t pid;
    int rc = ::posix_spawn(&pid, program.c_str(), &fa, nullptr, sa.argv.data(), sa.envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        r.err = "cannot start " + program;
        return r;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto slurp = [](const std::string& p) {
        std::ifstream in(p);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return r;
}

}  // namespace fsv::test
