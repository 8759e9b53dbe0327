#include "Stamping.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace fsv::cli {

namespace fs = std::filesystem;

fs::path framestampProgram() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path bin = self.parent_path();
        for (const fs::path& p :
             {bin / "Framestamp", bin.parent_path() / "framestamp" / "Framestamp"})
            if (::access(p.c_str(), X_OK) == 0) return p;
    }
    return "Framestamp";
}

namespace {

// Runs `args` (the program first, looked up in PATH when it has no slash) and waits for it;
// its standard error into `err`. The exit status, or -1 when it did not run or end normally.
int runAndWait(const std::vector<std::string>& args, std::string& err) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        err = "no pipe";
        return -1;
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, pipe[1], 2);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(pipe[1]);
    if (rc != 0) {
        ::close(pipe[0]);
        err = "cannot start " + args[0];
        return -1;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (err.size() < 65536) err.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

archive::Stamper framestampStamper(const fs::path& program) {
    return [program](const fs::path& input, const fs::path& output, std::string* error) {
        std::string err;
        const int status =
            runAndWait({program.string(), input.string(), "-o", output.string()}, err);
        if (status == 0) return true;
        // Its line for the file says what went wrong ("FAILED IN: why", "CUT    IN: why").
        std::string why;
        for (size_t at = 0; at < err.size();) {
            size_t end = err.find('\n', at);
            if (end == std::string::npos) end = err.size();
            const std::string line = err.substr(at, end - at);
            if (line.rfind("FAILED ", 0) == 0 || line.rfind("CUT ", 0) == 0 || why.empty())
                why = line;
            at = end + 1;
        }
        if (why.empty()) why = program.string() + " failed";
        if (error) *error = why;
        std::error_code ec;
        fs::remove(output, ec);
        return false;
    };
}

}  // namespace fsv::cli
