#include "platform/Sha256.h"

#include <openssl/evp.h>

namespace fsv::platform {

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr); }

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

void Sha256::update(const void* data, size_t size) { EVP_DigestUpdate(ctx_, data, size); }

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(ctx_, digest, &size);
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

}  // namespace fsv::platform
