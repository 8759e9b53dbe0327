// The shared library as the program loads it: the exports resolve by their plain names and
// work together.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

template <typename F>
F resolve(void* lib, const char* name) {
    return reinterpret_cast<F>(::dlsym(lib, name));
}

TEST(KtSharedLibrary, ExportsResolveAndWorkTogether) {
    void* lib = ::dlopen(KTCRYPTO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    for (const char* name :
         {"KtCrypInit", "KtCrypUninit", "KtCryptGenKey", "KtCryptDestroyKey", "KtExportPublicKey",
          "KtExportPrivateKey", "KtImportPublicKey", "KtFreeCryptBuffer", "KtEncrypt", "KtDecrypt",
          "KtEncryptByKey", "KtDecryptByKey", "KtEncryptByKeyEz", "KtInstallCryptEnpack",
          "IsSupportKtCryp"})
        EXPECT_NE(::dlsym(lib, name), nullptr) << name;

    auto init = resolve<decltype(&KtCrypInit)>(lib, "KtCrypInit");
    auto gen = resolve<decltype(&KtCryptGenKey)>(lib, "KtCryptGenKey");
    auto exportPublic = resolve<decltype(&KtExportPublicKey)>(lib, "KtExportPublicKey");
    auto ez = resolve<decltype(&KtEncryptByKeyEz)>(lib, "KtEncryptByKeyEz");
    auto decrypt = resolve<decltype(&KtDecrypt)>(lib, "KtDecrypt");
    auto freeBuffer = resolve<decltype(&KtFreeCryptBuffer)>(lib, "KtFreeCryptBuffer");
    auto support = resolve<decltype(&IsSupportKtCryp)>(lib, "IsSupportKtCryp");
    ASSERT_TRUE(init && gen && exportPublic && ez && decrypt && freeBuffer && support);

    EXPECT_TRUE(support(0));
    uint32_t ctx = init(1, 0);
    uint32_t key = gen(ctx, 0);
    ASSERT_NE(key, 0u);
    uint8_t blob[512];
    uint32_t length = sizeof blob;
    ASSERT_TRUE(exportPublic(key, &length, blob));
    const auto data = kttest::pattern(150);
    CryptBuffer* cipher = ez(blob, length, data.data(), 150);
    ASSERT_NE(cipher, nullptr);
    EXPECT_EQ(cipher->length, 256u);
    CryptBuffer* plain = decrypt(key, cipher->data, cipher->length);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(plain->data, plain->data + plain->length), data);
    freeBuffer(cipher);
    freeBuffer(plain);
    resolve<decltype(&KtCryptDestroyKey)>(lib, "KtCryptDestroyKey")(key);
    resolve<decltype(&KtCrypUninit)>(lib, "KtCrypUninit")(ctx);
    // Left loaded, as the program leaves it: its handle table lives until the process ends.
}

}  // namespace
