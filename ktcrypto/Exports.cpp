// The fifteen exports. Each one keeps no state past its return beyond the handles it hands
// out; failures are 0 or null plus, where the caller cannot tell otherwise, one fixed line on
// the debug output.

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <type_traits>

#include "ktcrypto/Internal.h"
#include "ktcrypto/KtCrypto.h"
#include "platform/System.h"

using namespace fsv::kt;

namespace {

constexpr uint32_t kPadding = 11;  // PKCS #1 v1.5 overhead per block
constexpr uint32_t kDefaultKeyBits = 1024;

constexpr char kMsgNoHandle[] = "A cryptographic service handle could not be acquired.\n";
constexpr char kMsgPublicImport[] = "Public key import failed.\n";
constexpr char kMsgNotPublic[] = "Input key is not a public key.\n";
constexpr char kMsgPrivateImport[] = "Private key import failed.\n";
constexpr char kMsgEncrypt[] = "CryptEncrypt failed.\n";
constexpr char kMsgMemory[] = "Memory allocates failed.\n";

void say(const char* text) { fsv::platform::debugOutput(text); }

// Leaves no library errors queued on the calling thread when an export returns.
struct ErrorQueueGuard {
    ~ErrorQueueGuard() { ERR_clear_error(); }
};

// Context acquisition in steps: the base flags, then a new key set, then (when a stale one of
// that name is in the way) delete and create once more. `onlyMissingKeyset` stops after the
// first attempt unless it failed for want of a key set.
std::shared_ptr<Context> acquire(std::string_view container, uint32_t baseFlags,
                                 bool onlyMissingKeyset) {
    if (auto c = acquireContext(container, baseFlags)) return c;
    if (onlyMissingKeyset && lastError() != kErrBadKeyset) return nullptr;
    if (auto c = acquireContext(container, baseFlags | kNewKeyset)) return c;
    if (lastError() == kErrExists && deleteKeyset(container))
        return acquireContext(container, baseFlags | kNewKeyset);
    return nullptr;
}

// The result record as allocated here: the caller's record first, then what releasing needs.
struct OwnedBuffer {
    CryptBuffer record;
    size_t capacity;
};
static_assert(std::is_standard_layout_v<OwnedBuffer>);

// A new record with `capacity` bytes of data and length 0.
CryptBuffer* newBuffer(uint64_t capacity) {
    if (capacity > std::numeric_limits<uint32_t>::max()) {
        say(kMsgMemory);  // the length could not describe it
        return nullptr;
    }
    auto* owned = static_cast<OwnedBuffer*>(std::calloc(1, sizeof(OwnedBuffer)));
    if (owned) {
        owned->capacity = capacity ? capacity : 1;
        owned->record.data = static_cast<uint8_t*>(std::malloc(owned->capacity));
    }
    if (!owned || !owned->record.data) {
        std::free(owned);
        say(kMsgMemory);
        return nullptr;
    }
    return &owned->record;
}

// Releases a record made by newBuffer; the data (plaintext, perhaps) is wiped first.
void freeBuffer(CryptBuffer* buffer) {
    if (!buffer) return;
    auto* owned = reinterpret_cast<OwnedBuffer*>(buffer);
    if (owned->record.data) {
        OPENSSL_cleanse(owned->record.data, owned->capacity);
        std::free(owned->record.data);
    }
    std::free(owned);
}

// Encrypts in chunks of k - 11 bytes, one k-byte block each; no data gives one block.
CryptBuffer* encryptChunks(const Key& key, uint32_t k, const uint8_t* data, uint32_t length,
                           bool reportFailure) {
    if (!data && length > 0) return nullptr;
    const uint32_t chunk = k - kPadding;
    const uint64_t blocks = length <= chunk ? 1 : (uint64_t{length} + chunk - 1) / chunk;
    const uint64_t capacity = blocks * k;
    RsaCipher cipher(key.pkey.get(), RsaCipher::Mode::Encrypt);
    CryptBuffer* out = newBuffer(capacity);
    if (!out) return nullptr;
    uint32_t done = 0;
    for (uint64_t i = 0; i < blocks; ++i) {
        const uint32_t take = std::min(chunk, length - done);
        if (!cipher.encryptBlock(data + done, take, out->data + out->length, k)) {
            freeBuffer(out);
            if (reportFailure) say(kMsgEncrypt);
            return nullptr;
        }
        done += take;
        out->length += k;
    }
    return out;
}

// Decrypts whole k-byte blocks; trailing bytes short of a block are ignored.
CryptBuffer* decryptBlocks(const Key& key, uint32_t k, const uint8_t* data, uint32_t length) {
    if (k == 0 || length < k || !data) return nullptr;
    const uint32_t blocks = length / k;
    RsaCipher cipher(key.pkey.get(), RsaCipher::Mode::Decrypt);
    CryptBuffer* out = newBuffer(length);
    if (!out) return nullptr;
    for (uint32_t i = 0; i < blocks; ++i) {
        size_t plain = 0;
        if (!cipher.decryptBlock(data + size_t{i} * k, k, out->data + out->length, &plain)) {
            freeBuffer(out);
            return nullptr;
        }
        out->length += static_cast<uint32_t>(plain);
    }
    return out;
}

std::span<const uint8_t> blobSpan(const uint8_t* blob, uint32_t length) {
    return blob ? std::span<const uint8_t>(blob, length) : std::span<const uint8_t>();
}

// Imports a peer's public key blob into `context`; null after the matching message.
std::shared_ptr<Key> importPublic(const std::shared_ptr<Context>& context, const uint8_t* blob,
                                  uint32_t blobLength) {
    ImportedBlob imported;
    if (context) imported = importBlob(blobSpan(blob, blobLength));
    if (!imported.key) {
        say(kMsgPublicImport);
        return nullptr;
    }
    if (imported.magic != kMagicRsa1) {
        say(kMsgNotPublic);
        return nullptr;
    }
    return imported.key;
}

KtBool exportKey(uint32_t keyHandle, uint32_t* length, uint8_t* buffer, bool privateBlob) {
    ErrorQueueGuard guard;
    auto key = findKey(keyHandle);
    if (!key || !length || (privateBlob && !key->hasPrivate)) return 0;
    std::vector<uint8_t> blob;
    if (!exportBlob(key->pkey.get(), privateBlob, blob)) return 0;
    const auto size = static_cast<uint32_t>(blob.size());
    KtBool result = 1;
    if (buffer && *length < size) {
        result = 0;  // too small: the caller learns the length it needs
    } else if (buffer) {
        std::memcpy(buffer, blob.data(), size);
    }
    *length = size;
    OPENSSL_cleanse(blob.data(), blob.size());
    return result;
}

}  // namespace

extern "C" {

uint32_t KtCrypInit(uint32_t ephemeral, uint32_t /*reserved*/) {
    ErrorQueueGuard guard;
    auto context =
        ephemeral ? acquire({}, kVerifyContext, false) : acquire(kContainerName, 0, false);
    if (!context) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "A cryptographic service handle could not be acquired. (%d)\n",
                      static_cast<int>(lastError()));
        say(text);
        return 0;
    }
    return addContext(std::move(context));
}

KtBool KtCrypUninit(uint32_t context) {
    if (context == 0) return 1;
    return removeContext(context) ? 1 : 0;
}

uint32_t KtCryptGenKey(uint32_t contextHandle, uint32_t flags) {
    if (contextHandle == 0) return 0;
    ErrorQueueGuard guard;
    auto context = findContext(contextHandle);
    if (!context) return 0;
    uint32_t bits = flags >> 16;
    if (bits == 0) bits = kDefaultKeyBits;
    if (bits < kMinGenKeyBits || bits > kMaxKeyBits || bits % 8 != 0) return 0;
    auto key = std::make_shared<Key>();
    key->pkey = generateRsa(bits);
    if (!key->pkey) return 0;
    key->hasPrivate = true;
    key->blockBytes = static_cast<uint32_t>(EVP_PKEY_get_size(key->pkey.get()));
    if (!storeContainerKey(*context, key->pkey.get())) return 0;
    return addKey(std::move(key));
}

KtBool KtCryptDestroyKey(uint32_t key) { return removeKey(key) ? 1 : 0; }

KtBool KtExportPublicKey(uint32_t key, uint32_t* length, uint8_t* buffer) {
    return exportKey(key, length, buffer, false);
}

KtBool KtExportPrivateKey(uint32_t key, uint32_t* length, uint8_t* buffer) {
    return exportKey(key, length, buffer, true);
}

uint32_t KtImportPublicKey(uint32_t context, uint32_t blobLength, const uint8_t* blob) {
    ErrorQueueGuard guard;
    auto key = importPublic(findContext(context), blob, blobLength);
    return key ? addKey(std::move(key)) : 0;
}

void KtFreeCryptBuffer(CryptBuffer* buffer) { freeBuffer(buffer); }

CryptBuffer* KtEncrypt(uint32_t keyHandle, const uint8_t* data, uint32_t length) {
    ErrorQueueGuard guard;
    auto key = findKey(keyHandle);
    if (!key) return nullptr;
    return encryptChunks(*key, key->blockBytes, data, length, false);
}

CryptBuffer* KtDecrypt(uint32_t keyHandle, const uint8_t* data, uint32_t length) {
    ErrorQueueGuard guard;
    auto key = findKey(keyHandle);
    if (!key) return nullptr;
    return decryptBlocks(*key, key->blockBytes, data, length);
}

CryptBuffer* KtEncryptByKey(uint32_t context, const uint8_t* blob, uint32_t blobLength,
                            const uint8_t* data, uint32_t length) {
    ErrorQueueGuard guard;
    auto key = importPublic(findContext(context), blob, blobLength);
    if (!key) return nullptr;
    return encryptChunks(*key, key->blockBytes, data, length, true);
}

CryptBuffer* KtDecryptByKey(uint32_t context, const uint8_t* blob, uint32_t blobLength,
                            const uint8_t* data, uint32_t length) {
    ErrorQueueGuard guard;
    ImportedBlob imported;
    if (findContext(context)) imported = importBlob(blobSpan(blob, blobLength));
    if (!imported.key) {
        say(kMsgPrivateImport);
        return nullptr;
    }
    if (imported.magic != kMagicRsa2) return nullptr;
    return decryptBlocks(*imported.key, imported.key->blockBytes, data, length);
}

CryptBuffer* KtEncryptByKeyEz(const uint8_t* blob, uint32_t blobLength, const uint8_t* data,
                              uint32_t length) {
    ErrorQueueGuard guard;
    auto context = acquire({}, kVerifyContext, true);
    if (!context) return nullptr;
    auto key = importPublic(context, blob, blobLength);
    if (!key) return nullptr;
    return encryptChunks(*key, key->blockBytes, data, length, true);
}

KtBool IsSupportKtCryp(uint32_t /*reserved*/) {
    ErrorQueueGuard guard;
    if (!acquire({}, kVerifyContext, false)) {
        say(kMsgNoHandle);
        return 0;
    }
    return 1;
}

}  // extern "C"
