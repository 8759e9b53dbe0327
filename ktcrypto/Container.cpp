// The persistent key container: a file named after the container in the config folder. It
// begins with "KTKEYSET", then the 32-bit length of the key pair kept in it (0 for a new,
// empty container) and that key pair as a PRIVATEKEYBLOB. A file that does not read as this
// is stale: opening it fails, creating over it reports that it exists.

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ktcrypto/Internal.h"
#include "platform/Bytes.h"
#include "platform/System.h"

namespace fsv::kt {
namespace {

constexpr char kFileMagic[8] = {'K', 'T', 'K', 'E', 'Y', 'S', 'E', 'T'};
constexpr size_t kMaxFileSize = 64 * 1024;

int32_t errnoCode() { return errno != 0 ? errno : kErrBadKeyset; }

// 0 when the file reads as a container, else the error code.
int32_t openContainer(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? kErrBadKeyset : errnoCode();
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    int32_t result = 0;
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = errnoCode();
            break;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > kMaxFileSize) {
            result = kErrKeysetEntryBad;
            break;
        }
    }
    ::close(fd);
    if (result != 0) return result;

    platform::ByteReader r(bytes.data(), bytes.size());
    char magic[sizeof kFileMagic] = {};
    r.bytes(magic, sizeof magic);
    uint32_t length = r.u32();
    auto blob = r.view(length);
    bool good = r.ok() && r.remaining() == 0 && std::memcmp(magic, kFileMagic, sizeof magic) == 0;
    if (good && length > 0) {
        ImportedBlob pair = importBlob(blob);
        good = pair.key && pair.magic == kMagicRsa2;
    }
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return good ? 0 : kErrKeysetEntryBad;
}

// Writes a container file holding `blob` to a fresh temporary file beside `file` (owner-only).
// Returns the temporary file's path, or an empty path with errno set.
std::filesystem::path writeTemporary(const std::filesystem::path& file,
                                     const std::vector<uint8_t>& blob) {
    std::string tmpl = file.string() + ".XXXXXX";
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return {};
    platform::ByteWriter w;
    w.bytes(kFileMagic, sizeof kFileMagic)
        .u32(static_cast<uint32_t>(blob.size()))
        .bytes(blob.data(), blob.size());
    const uint8_t* p = w.data().data();
    size_t left = w.size();
    bool ok = true;
    while (ok && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    OPENSSL_cleanse(w.data().data(), w.size());
    ok = ok && ::fsync(fd) == 0;
    int saved = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(tmpl.c_str());
        errno = saved != 0 ? saved : EIO;
        return {};
    }
    return tmpl;
}

// Creates an empty container; fails with kErrExists when a file of that name is there. The
// file appears whole or not at all (link never replaces an existing name).
int32_t createContainer(const std::filesystem::path& file) {
    errno = 0;
    std::filesystem::path tmp = writeTemporary(file, {});
    if (tmp.empty()) return errnoCode();
    int rc = ::link(tmp.c_str(), file.c_str());
    int saved = errno;
    ::unlink(tmp.c_str());
    if (rc == 0) return 0;
    errno = saved;
    return saved == EEXIST ? kErrExists : errnoCode();
}

}  // namespace

std::filesystem::path containerPath(std::string_view container) {
    return platform::configFolder() / (std::string(container) + ".key");
}

std::shared_ptr<Context> acquireContext(std::string_view container, uint32_t flags) {
    if (!providerAvailable()) {
        setLastError(kErrProvTypeNotDef);
        return nullptr;
    }
    auto context = std::make_shared<Context>();
    if ((flags & kVerifyContext) == kVerifyContext || container.empty()) return context;

    context->container = containerPath(container);
    int32_t err = (flags & kNewKeyset) ? createContainer(context->container)
                                       : openContainer(context->container);
    if (err != 0) {
        setLastError(err);
        return nullptr;
    }
    return context;
}

bool deleteKeyset(std::string_view container) {
    if (container.empty()) {
        setLastError(kErrBadKeyset);
        return false;
    }
    if (::unlink(containerPath(container).c_str()) != 0) {
        setLastError(errno == ENOENT ? kErrBadKeyset : errnoCode());
        return false;
    }
    return true;
}

bool storeContainerKey(const Context& context, const EVP_PKEY* key) {
    if (context.container.empty()) return true;
    std::vector<uint8_t> blob;
    if (!exportBlob(key, true, blob)) return false;
    errno = 0;
    std::filesystem::path tmp = writeTemporary(context.container, blob);
    OPENSSL_cleanse(blob.data(), blob.size());
    if (tmp.empty()) {
        setLastError(errnoCode());
        return false;
    }
    if (::rename(tmp.c_str(), context.container.c_str()) != 0) {
        setLastError(errnoCode());
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace fsv::kt
