#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fsv::platform {

bool writeFileAtomically(const std::filesystem::path& file, const void* data, size_t size,
                         std::string* error) {
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    std::filesystem::path tmp = file;
    tmp += ".tmp" + std::to_string(::getpid());
    // Owner only: the address book, the resume files and the connection sets hold passwords.
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return fail("cannot create");
    if (::fchmod(fd, 0600) != 0) {  // a leftover temporary file keeps its old mode otherwise
        int saved = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        errno = saved;
        return fail("cannot create");
    }
    const char* p = static_cast<const char*>(data);
    size_t left = size;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int saved = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            errno = saved;
            return fail("cannot write");
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    bool synced = ::fsync(fd) == 0;
    bool closed = ::close(fd) == 0;
    if (!synced || !closed) {
        int saved = errno;
        ::unlink(tmp.c_str());
        errno = saved;
        return fail("cannot write");
    }
    if (::rename(tmp.c_str(), file.c_str()) != 0) {
        int saved = errno;
        ::unlink(tmp.c_str());
        errno = saved;
        return fail("cannot replace");
    }
    return true;
}

}  // namespace fsv::platform
