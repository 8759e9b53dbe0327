#include "platform/System.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace fsv::platform {
namespace fs = std::filesystem;

void startWriteback(int fd, uint64_t offset, uint64_t length) {
#ifdef __linux__
    if (fd >= 0 && length > 0)
        ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE);
#else
    (void)fd, (void)offset, (void)length;
#endif
}

uint32_t tickCount() {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms);
}

bool debugEnabled() {
    static const bool enabled = std::getenv("FARSIGHT_DEBUG") != nullptr;
    return enabled;
}

void debugOutput(std::string_view text) {
    if (!debugEnabled()) return;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

namespace {

fs::path folderFrom(const char* ownVar, const char* xdgVar, const char* xdgDefault) {
    fs::path p;
    if (const char* v = std::getenv(ownVar); v && *v) {
        p = v;
    } else {
        if (const char* x = std::getenv(xdgVar); x && *x) {
            p = x;
        } else {
            const char* home = std::getenv("HOME");
            p = fs::path(home && *home ? home : "/tmp") / xdgDefault;
        }
        p /= "FarsightViewer";
    }
    // A folder made here is the owner's only (0700): it holds passwords and keys. A folder
    // that exists already keeps its mode.
    std::error_code ec;
    const fs::path dir = p.has_filename() ? p : p.parent_path();  // "a/home/" names "a/home"
    if (!fs::exists(dir, ec)) {
        if (dir.has_parent_path()) fs::create_directories(dir.parent_path(), ec);
        ::mkdir(dir.c_str(), 0700);
    }
    return p;
}

}  // namespace

fs::path dataFolder() { return folderFrom("FARSIGHT_HOME", "XDG_DATA_HOME", ".local/share"); }
fs::path configFolder() { return folderFrom("FARSIGHT_CONFIG", "XDG_CONFIG_HOME", ".config"); }

std::optional<uint64_t> freeDiskSpace(const fs::path& path) {
    std::error_code ec;
    fs::path p = path.empty() ? fs::current_path(ec) : fs::absolute(path, ec);
    while (!p.empty()) {
        if (fs::exists(p, ec)) {
            auto info = fs::space(p, ec);
            if (ec) return std::nullopt;
            return info.available;
        }
        if (p == p.parent_path()) break;
        p = p.parent_path();
    }
    return std::nullopt;
}

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
    const char* rt = std::getenv("XDG_RUNTIME_DIR");
    fs::path dir = rt && *rt ? fs::path(rt) : fs::temp_directory_path();
    fs::path file = dir / (name + ".lock");
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace fsv::platform
