#ifndef KTCRYPTO_H
#define KTCRYPTO_H
/* KtCrypto: RSA key pairs and block encryption. Fifteen exports under plain C names.
 * Handles are 32-bit values; 0 means none or failed. BOOL results are nonzero for true.
 * Every CryptBuffer returned is released only with KtFreeCryptBuffer. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KT_EXPORT __attribute__((visibility("default")))

typedef int32_t KtBool;

typedef struct CryptBuffer {
    uint32_t length; /* valid bytes in data */
    uint8_t* data;   /* owned by the record */
} CryptBuffer;

KT_EXPORT uint32_t KtCrypInit(uint32_t ephemeral, uint32_t reserved);
KT_EXPORT KtBool KtCrypUninit(uint32_t context);
KT_EXPORT uint32_t KtCryptGenKey(uint32_t context, uint32_t flags);
KT_EXPORT KtBool KtCryptDestroyKey(uint32_t key);
KT_EXPORT KtBool KtExportPublicKey(uint32_t key, uint32_t* length, uint8_t* buffer);
KT_EXPORT KtBool KtExportPrivateKey(uint32_t key, uint32_t* length, uint8_t* buffer);
KT_EXPORT uint32_t KtImportPublicKey(uint32_t context, uint32_t blobLength, const uint8_t* blob);
KT_EXPORT void KtFreeCryptBuffer(CryptBuffer* buffer);
KT_EXPORT CryptBuffer* KtEncrypt(uint32_t key, const uint8_t* data, uint32_t length);
KT_EXPORT CryptBuffer* KtDecrypt(uint32_t key, const uint8_t* data, uint32_t length);
KT_EXPORT CryptBuffer* KtEncryptByKey(uint32_t context, const uint8_t* blob, uint32_t blobLength,
                                      const uint8_t* data, uint32_t length);
KT_EXPORT CryptBuffer* KtDecryptByKey(uint32_t context, const uint8_t* blob, uint32_t blobLength,
                                      const uint8_t* data, uint32_t length);
KT_EXPORT CryptBuffer* KtEncryptByKeyEz(const uint8_t* blob, uint32_t blobLength,
                                        const uint8_t* data, uint32_t length);
KT_EXPORT uint8_t KtInstallCryptEnpack(void);
KT_EXPORT KtBool IsSupportKtCryp(uint32_t reserved);

#ifdef __cplusplus
}
#endif

#endif /* KTCRYPTO_H */
