#include "state/StateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fsv::state {

std::optional<std::vector<uint8_t>> readWholeFile(const std::filesystem::path& file, bool* missing,
                                                  std::string* error) {
    if (missing) *missing = false;
    auto fail = [&](const std::string& what) -> std::optional<std::vector<uint8_t>> {
        if (error) *error = file.string() + ": " + what;
        return std::nullopt;
    };
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            if (missing) *missing = true;
            if (error) *error = file.string() + ": no such file";
            return std::nullopt;
        }
        return fail(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("not a regular file");
    }
    if (static_cast<uintmax_t>(st.st_size) > kMaxStateFileSize) {
        ::close(fd);
        return fail("file too large");
    }
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int saved = errno;
            ::close(fd);
            return fail(std::strerror(saved));
        }
        if (n == 0) break;
        data.insert(data.end(), buf, buf + n);
        if (data.size() > kMaxStateFileSize) {
            ::close(fd);
            return fail("file too large");
        }
    }
    ::close(fd);
    return data;
}

std::optional<uint16_t> parsePortField(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v < 1024 || v > 65535) return std::nullopt;
    return static_cast<uint16_t>(v);
}

}  // namespace fsv::state
