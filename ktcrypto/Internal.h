#pragma once
// Inside KtCrypto: provider contexts and keys handed out as 32-bit handles, the key container
// file, key blobs and the RSA block operations. Nothing declared here is exported from
// libKtCrypto.so; the tests reach it through the static archive of the same objects.

#include <openssl/evp.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace fsv::kt {

// Error codes of the provider, as the acquisition steps test them and the diagnostics show them.
inline constexpr int32_t kErrBadKeyset = static_cast<int32_t>(0x80090016u);
inline constexpr int32_t kErrExists = static_cast<int32_t>(0x8009000Fu);
inline constexpr int32_t kErrKeysetEntryBad = static_cast<int32_t>(0x8009001Au);
inline constexpr int32_t kErrProvTypeNotDef = static_cast<int32_t>(0x80090017u);

// Acquisition flags.
inline constexpr uint32_t kVerifyContext = 0xF0000000u;
inline constexpr uint32_t kNewKeyset = 0x8u;

inline constexpr std::string_view kContainerName = "Korvantis RSA Container v7.0";

// Blob kinds and the magic at offset 8.
inline constexpr uint8_t kPublicKeyBlob = 6;
inline constexpr uint8_t kPrivateKeyBlob = 7;
inline constexpr uint32_t kMagicRsa1 = 0x31415352u;
inline constexpr uint32_t kMagicRsa2 = 0x32415352u;

// Key lengths the provider accepts, in bits (whole bytes only).
inline constexpr uint32_t kMinKeyBits = 384;
inline constexpr uint32_t kMinGenKeyBits = 512;
inline constexpr uint32_t kMaxKeyBits = 16384;

// The error code of the calling thread's last failed provider call.
void setLastError(int32_t code);
int32_t lastError();

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct Context {
    // Empty for an ephemeral context; otherwise the key container file it was opened on.
    std::filesystem::path container;
};

struct Key {
    PkeyPtr pkey;
    bool hasPrivate = false;
    uint32_t blockBytes = 0;  // modulus length in whole bytes
};

// The handle table: thread-safe; 0 is never handed out. A handle of one kind is not found as
// the other kind.
uint32_t addContext(std::shared_ptr<Context> context);
uint32_t addKey(std::shared_ptr<Key> key);
std::shared_ptr<Context> findContext(uint32_t handle);
std::shared_ptr<Key> findKey(uint32_t handle);
bool removeContext(uint32_t handle);
bool removeKey(uint32_t handle);

// One acquisition attempt: an empty container name means none. Null with lastError() set on
// failure. `deleteKeyset` removes the container and gives no context.
std::shared_ptr<Context> acquireContext(std::string_view container, uint32_t flags);
bool deleteKeyset(std::string_view container);
std::filesystem::path containerPath(std::string_view container);
// A persistent context keeps the key pair generated in it in its container file.
bool storeContainerKey(const Context& context, const EVP_PKEY* key);

// Whether the RSA facility is usable at all (false also when a test says so).
bool providerAvailable();

PkeyPtr generateRsa(uint32_t bits);

struct ImportedBlob {
    std::shared_ptr<Key> key;  // null when the blob was refused
    uint32_t magic = 0;
    uint32_t bits = 0;
};
// Reads a PUBLICKEYBLOB or PRIVATEKEYBLOB. The header, the bit length and the blob's length
// are checked before anything past them is read.
ImportedBlob importBlob(std::span<const uint8_t> blob);
bool exportBlob(const EVP_PKEY* key, bool privateBlob, std::vector<uint8_t>& out);

// PKCS #1 v1.5 block cipher over one key; blocks are k bytes, least significant byte first.
class RsaCipher {
  public:
    enum class Mode { Encrypt, Decrypt };
    RsaCipher(EVP_PKEY* key, Mode mode);
    ~RsaCipher();
    RsaCipher(const RsaCipher&) = delete;
    RsaCipher& operator=(const RsaCipher&) = delete;
    bool ok() const { return ok_; }
    // Encrypts `len` bytes (len <= k - 11) into the k bytes at `out`.
    bool encryptBlock(const uint8_t* in, size_t len, uint8_t* out, size_t k);
    // Decrypts the k bytes at `in` into `out` (room for k - 11 bytes); the length in `outLen`.
    bool decryptBlock(const uint8_t* in, size_t k, uint8_t* out, size_t* outLen);

  private:
    EVP_PKEY_CTX* ctx_ = nullptr;
    bool ok_ = false;
    std::vector<uint8_t> scratch_;
};

// Test hooks.
void setProviderAvailableForTesting(bool available);
void setInstallerWaitForTesting(uint32_t milliseconds);
uint32_t installerWait();

}  // namespace fsv::kt
