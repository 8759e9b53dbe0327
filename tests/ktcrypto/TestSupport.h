#pragma once
// Helpers for the KtCrypto tests: debug-output capture, temporary folders, key blobs.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ktcrypto/KtCrypto.h"
#include "tests/support/TempDir.h"

namespace kttest {

// Runs `fn` with standard error sent to a file and returns what was written. The library's
// debug lines go there because every test program sets FARSIGHT_DEBUG before main.
inline std::string captureDebug(const std::function<void()>& fn) {
    std::fflush(stderr);
    char path[] = "/tmp/ktcrypto-stderr-XXXXXX";
    int fd = ::mkstemp(path);
    int saved = ::dup(2);
    ::dup2(fd, 2);
    fn();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(fd);
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ::unlink(path);
    return text;
}

class TempDir : public fsv::test::TempDir {
  public:
    TempDir() : fsv::test::TempDir("ktcrypto-test") {}
};

inline std::vector<uint8_t> readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> exportBlob(uint32_t key, bool privateBlob) {
    auto fn = privateBlob ? KtExportPrivateKey : KtExportPublicKey;
    uint32_t length = 0;
    if (!fn(key, &length, nullptr)) return {};
    std::vector<uint8_t> blob(length);
    if (!fn(key, &length, blob.data())) return {};
    blob.resize(length);
    return blob;
}

// Takes a CryptBuffer's bytes and frees it; an empty optional-like flag via `ok`.
struct Result {
    bool ok = false;
    std::vector<uint8_t> bytes;
};
inline Result take(CryptBuffer* b) {
    Result r;
    if (!b) return r;
    r.ok = true;
    r.bytes.assign(b->data, b->data + b->length);
    KtFreeCryptBuffer(b);
    return r;
}

inline std::vector<uint8_t> pattern(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 31);
    return v;
}

}  // namespace kttest
