#pragma once
// Shared helpers of the stored-state tests: a scratch folder, whole-file access, and running a
// writer in a child process that is stopped by the file-size limit in the middle of writing.

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace fsv::state::test {

class TempFolder : public fsv::test::TempDir {
  public:
    TempFolder() : TempDir("fsv-state") {}
};

inline std::vector<uint8_t> readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

enum class ChildEnd { Succeeded, Failed, Killed };

// Runs `write` in a child process that may write at most `limit` bytes to any one file. With
// `killAtLimit` the child is killed by the kernel in the middle of the write that crosses the
// limit (a crash); otherwise that write fails as on a full disk and the child reports the
// writer's result.
inline ChildEnd runWriterWithFileLimit(rlim_t limit, bool killAtLimit,
                                       const std::function<bool()>& write) {
    pid_t pid = ::fork();
    if (pid == 0) {
        rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        ::signal(SIGXFSZ, killAtLimit ? SIG_DFL : SIG_IGN);
        rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(write() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return ChildEnd::Killed;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildEnd::Succeeded : ChildEnd::Failed;
}

}  // namespace fsv::state::test
