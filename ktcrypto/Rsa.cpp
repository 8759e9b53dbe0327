#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <atomic>

#include "ktcrypto/Internal.h"
#include "platform/Bytes.h"

namespace fsv::kt {
namespace {

std::atomic<bool> gProviderOverride{true};

bool rsaFetchable() {
    static const bool available = [] {
        EVP_KEYMGMT* m = EVP_KEYMGMT_fetch(nullptr, "RSA", nullptr);
        EVP_KEYMGMT_free(m);
        ERR_clear_error();
        return m != nullptr;
    }();
    return available;
}

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};

}  // namespace

void setProviderAvailableForTesting(bool available) { gProviderOverride = available; }

bool providerAvailable() { return gProviderOverride && rsaFetchable(); }

PkeyPtr generateRsa(uint32_t bits) {
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
    if (!key) ERR_clear_error();
    return key;
}

ImportedBlob importBlob(std::span<const uint8_t> blob) {
    ImportedBlob out;
    platform::ByteReader r(blob);
    const uint8_t type = r.u8();
    r.skip(7);  // version, reserved word, algorithm id
    const uint32_t magic = r.u32();
    const uint32_t bits = r.u32();
    if (!r.ok()) return out;
    if (type != kPublicKeyBlob && type != kPrivateKeyBlob) return out;
    if (bits < kMinKeyBits || bits > kMaxKeyBits || bits % 8 != 0) return out;

    // Header and public exponent (20 bytes), then the modulus; a private blob adds the two
    // primes, their exponents and the coefficient (half length each) and the private exponent.
    const size_t k = bits / 8;
    const size_t half = (bits + 15) / 16;
    const size_t need = 20 + (type == kPublicKeyBlob ? k : 2 * k + 5 * half);
    if (blob.size() < need) return out;

    const unsigned char* p = blob.data();
    const long len = static_cast<long>(need);
    PkeyPtr key(type == kPublicKeyBlob ? b2i_PublicKey(&p, len) : b2i_PrivateKey(&p, len));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA ||
        EVP_PKEY_get_size(key.get()) != static_cast<int>(k)) {
        ERR_clear_error();
        return out;
    }
    out.key = std::make_shared<Key>();
    out.key->pkey = std::move(key);
    out.key->hasPrivate = type == kPrivateKeyBlob;
    out.key->blockBytes = static_cast<uint32_t>(k);
    out.magic = magic;
    out.bits = bits;
    return out;
}

bool exportBlob(const EVP_PKEY* key, bool privateBlob, std::vector<uint8_t>& out) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(privateBlob ? BIO_s_secmem() : BIO_s_mem()));
    if (!bio) return false;
    int written =
        privateBlob ? i2b_PrivateKey_bio(bio.get(), key) : i2b_PublicKey_bio(bio.get(), key);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    if (written <= 0 || size <= 0 || !data) {
        ERR_clear_error();
        return false;
    }
    out.assign(data, data + size);
    OPENSSL_cleanse(data, static_cast<size_t>(size));
    return true;
}

RsaCipher::RsaCipher(EVP_PKEY* key, Mode mode) {
    ctx_ = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    if (!ctx_) return;
    int init = mode == Mode::Encrypt ? EVP_PKEY_encrypt_init(ctx_) : EVP_PKEY_decrypt_init(ctx_);
    ok_ = init > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx_, RSA_PKCS1_PADDING) > 0;
    if (ok_ && mode == Mode::Decrypt) {
        // A bad block must fail, not decrypt to random bytes; libraries that know implicit
        // rejection are told to report it. Older ones ignore the parameter.
        unsigned int off = 0;
        OSSL_PARAM params[] = {OSSL_PARAM_construct_uint("rsa_pkcs1_implicit_rejection", &off),
                               OSSL_PARAM_construct_end()};
        EVP_PKEY_CTX_set_params(ctx_, params);
    }
    ERR_clear_error();
}

RsaCipher::~RsaCipher() {
    if (!scratch_.empty()) OPENSSL_cleanse(scratch_.data(), scratch_.size());
    EVP_PKEY_CTX_free(ctx_);
}

bool RsaCipher::encryptBlock(const uint8_t* in, size_t len, uint8_t* out, size_t k) {
    size_t outLen = k;
    if (!ok_ || EVP_PKEY_encrypt(ctx_, out, &outLen, in, len) <= 0 || outLen != k) {
        ERR_clear_error();
        return false;
    }
    std::reverse(out, out + k);
    return true;
}

bool RsaCipher::decryptBlock(const uint8_t* in, size_t k, uint8_t* out, size_t* outLen) {
    if (!ok_) return false;
    scratch_.resize(2 * k);
    uint8_t* block = scratch_.data();
    uint8_t* plain = block + k;
    std::reverse_copy(in, in + k, block);
    size_t plainLen = k;
    if (EVP_PKEY_decrypt(ctx_, plain, &plainLen, block, k) <= 0 || plainLen + 11 > k) {
        ERR_clear_error();
        return false;
    }
    std::copy(plain, plain + plainLen, out);
    *outLen = plainLen;
    return true;
}

}  // namespace fsv::kt
