// Arbitrary bytes as a key blob (and as the data) for the exports that take a caller's blob.

#include <cstddef>
#include <cstdint>

#include "ktcrypto/KtCrypto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint32_t context = KtCrypInit(1, 0);
    if (size > 0xFFFF) return 0;
    const auto n = static_cast<uint32_t>(size);
    const uint8_t plain[] = "login block";

    uint32_t key = KtImportPublicKey(context, n, data);
    if (key) {
        KtFreeCryptBuffer(KtEncrypt(key, plain, sizeof plain));
        KtFreeCryptBuffer(KtDecrypt(key, data, n));
        KtCryptDestroyKey(key);
    }
    KtFreeCryptBuffer(KtEncryptByKeyEz(data, n, plain, sizeof plain));
    KtFreeCryptBuffer(KtEncryptByKey(context, data, n, data, n));
    // The input doubles as the ciphertext, long enough for a block of any key it can describe.
    KtFreeCryptBuffer(KtDecryptByKey(context, data, n, data, n));
    return 0;
}
