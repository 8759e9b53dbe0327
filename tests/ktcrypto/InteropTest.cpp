// Our blobs and blocks against an independent RSA implementation: the openssl command line.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "TestSupport.h"
#include "ktcrypto/KtCrypto.h"

using namespace kttest;
namespace fs = std::filesystem;

namespace {

class KtInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("openssl version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no openssl command";
        context = KtCrypInit(1, 0);
        ASSERT_NE(context, 0u);
    }
    void TearDown() override { KtCrypUninit(context); }

    // Runs a command in the temporary folder; true when it succeeds.
    bool run(const std::string& command) {
        std::string full = "cd '" + dir.path().string() + "' && " + command + " 2>/dev/null";
        return std::system(full.c_str()) == 0;
    }
    std::string output(const std::string& command) {
        std::string full = "cd '" + dir.path().string() + "' && " + command + " 2>/dev/null";
        std::string text;
        if (FILE* p = ::popen(full.c_str(), "r")) {
            char buf[512];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
            ::pclose(p);
        }
        return text;
    }
    fs::path at(const std::string& name) const { return dir.path() / name; }

    // Decrypts our ciphertext block by block with the openssl command (each block reversed).
    std::vector<uint8_t> opensslDecrypt(const std::vector<uint8_t>& cipher, size_t k) {
        std::vector<uint8_t> plain;
        for (size_t i = 0; i * k < cipher.size(); ++i) {
            std::vector<uint8_t> block(cipher.begin() + static_cast<long>(i * k),
                                       cipher.begin() + static_cast<long>((i + 1) * k));
            std::reverse(block.begin(), block.end());
            writeFile(at("block.bin"), block);
            if (!run("openssl pkeyutl -decrypt -inkey key.pem -pkeyopt rsa_padding_mode:pkcs1 "
                     "-in block.bin -out plain.bin"))
                return {};
            auto part = readFile(at("plain.bin"));
            plain.insert(plain.end(), part.begin(), part.end());
        }
        return plain;
    }

    TempDir dir;
    uint32_t context = 0;
};

TEST_F(KtInterop, ForeignKeyImportsAndItsOwnerDecryptsOurBlocks) {
    ASSERT_TRUE(run("openssl genrsa -out key.pem 1024"));
    ASSERT_TRUE(run("openssl rsa -in key.pem -outform MSBLOB -pubout -out pub.blob"));
    ASSERT_TRUE(run("openssl rsa -in key.pem -outform MSBLOB -out priv.blob"));
    const auto pub = readFile(at("pub.blob"));
    const auto priv = readFile(at("priv.blob"));
    const auto data = pattern(300, 7);

    uint32_t key = KtImportPublicKey(context, static_cast<uint32_t>(pub.size()), pub.data());
    ASSERT_NE(key, 0u);
    Result byHandle = take(KtEncrypt(key, data.data(), 300));
    Result ez =
        take(KtEncryptByKeyEz(pub.data(), static_cast<uint32_t>(pub.size()), data.data(), 300));
    for (const Result* r : {&byHandle, &ez}) {
        ASSERT_TRUE(r->ok);
        ASSERT_EQ(r->bytes.size(), 3u * 128);
        EXPECT_EQ(opensslDecrypt(r->bytes, 128), data);
        // The foreign private blob decrypts it here as well.
        Result back = take(KtDecryptByKey(context, priv.data(), static_cast<uint32_t>(priv.size()),
                                          r->bytes.data(), static_cast<uint32_t>(r->bytes.size())));
        ASSERT_TRUE(back.ok);
        EXPECT_EQ(back.bytes, data);
    }
    KtCryptDestroyKey(key);
}

TEST_F(KtInterop, OurBlobsReadBackAndOurKeyDecryptsForeignBlocks) {
    uint32_t key = KtCryptGenKey(context, 0);
    ASSERT_NE(key, 0u);
    writeFile(at("pub.blob"), exportBlob(key, false));
    writeFile(at("priv.blob"), exportBlob(key, true));
    ASSERT_TRUE(run("openssl rsa -inform MSBLOB -in priv.blob -check -noout"));
    const std::string modulus = output("openssl rsa -inform MSBLOB -in priv.blob -noout -modulus");
    EXPECT_EQ(modulus.rfind("Modulus=", 0), 0u);
    EXPECT_EQ(output("openssl rsa -pubin -inform MSBLOB -in pub.blob -noout -modulus"), modulus);

    ASSERT_TRUE(run("openssl rsa -pubin -inform MSBLOB -in pub.blob -pubout -out pub.pem"));
    const auto data = pattern(100, 3);
    writeFile(at("data.bin"), data);
    ASSERT_TRUE(
        run("openssl pkeyutl -encrypt -pubin -inkey pub.pem -pkeyopt rsa_padding_mode:pkcs1 "
            "-in data.bin -out cipher.bin"));
    auto cipher = readFile(at("cipher.bin"));
    ASSERT_EQ(cipher.size(), 128u);
    std::reverse(cipher.begin(), cipher.end());
    Result plain = take(KtDecrypt(key, cipher.data(), 128));
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.bytes, data);
    KtCryptDestroyKey(key);
}

}  // namespace
