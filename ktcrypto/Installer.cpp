// Installing the crypto pack: when RSA support is missing the installer "ENCPACK.EXE" is
// started with "/Q:a" (found on the search path) and waited for, up to a minute.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "ktcrypto/Internal.h"
#include "ktcrypto/KtCrypto.h"

extern char** environ;

namespace fsv::kt {
namespace {

constexpr uint32_t kInstallerWaitMs = 60000;
std::atomic<uint32_t> gInstallerWait{kInstallerWaitMs};

bool startInstaller(pid_t* pid) {
    char program[] = "ENCPACK.EXE";
    char quiet[] = "/Q:a";
    char* argv[] = {program, quiet, nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // No descriptors of ours reach the installer, and it starts with no signals blocked.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    int rc = posix_spawnp(pid, program, &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}

// True when the process ended (and was reaped) within `ms` milliseconds.
bool waitForExit(pid_t pid, uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            if (pidfd >= 0) ::close(pidfd);
            return false;
        }
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
        }
    }
    if (pidfd >= 0) ::close(pidfd);
    return true;
}

}  // namespace

void setInstallerWaitForTesting(uint32_t milliseconds) { gInstallerWait = milliseconds; }
uint32_t installerWait() { return gInstallerWait; }

}  // namespace fsv::kt

extern "C" uint8_t KtInstallCryptEnpack(void) {
    if (IsSupportKtCryp(0)) return 1;
    pid_t pid = 0;
    if (!fsv::kt::startInstaller(&pid)) return 0;
    // An installer still running at the end of the wait is left to finish on its own.
    return fsv::kt::waitForExit(pid, fsv::kt::installerWait()) ? 1 : 0;
}
