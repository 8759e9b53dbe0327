#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "TestSupport.h"
#include "ktcrypto/KtCrypto.h"

using namespace kttest;

namespace {

// The library's diagnostics reach standard error only with this set, and it is read once.
const bool kDebugOn = (::setenv("FARSIGHT_DEBUG", "1", 1), true);

// One 1024-bit key pair and its blobs, in an ephemeral context.
class KtCrypto : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDebugOn);
        context = KtCrypInit(1, 0);
        ASSERT_NE(context, 0u);
        key = KtCryptGenKey(context, 0);
        ASSERT_NE(key, 0u);
        publicBlob = exportBlob(key, false);
        privateBlob = exportBlob(key, true);
        ASSERT_EQ(publicBlob.size(), 20u + 128u);
        ASSERT_FALSE(privateBlob.empty());
    }
    void TearDown() override {
        KtCryptDestroyKey(key);
        KtCrypUninit(context);
    }

    Result encryptByKey(const std::vector<uint8_t>& blob, const std::vector<uint8_t>& data) {
        return take(KtEncryptByKey(context, blob.data(), static_cast<uint32_t>(blob.size()),
                                   data.data(), static_cast<uint32_t>(data.size())));
    }
    Result decryptByKey(const std::vector<uint8_t>& blob, const std::vector<uint8_t>& data) {
        return take(KtDecryptByKey(context, blob.data(), static_cast<uint32_t>(blob.size()),
                                   data.data(), static_cast<uint32_t>(data.size())));
    }

    uint32_t context = 0;
    uint32_t key = 0;
    std::vector<uint8_t> publicBlob, privateBlob;
};

TEST_F(KtCrypto, GeneratedBlobsHaveThePublishedHeader) {
    // BLOBHEADER: type, version 2, reserved word, CALG_RSA_KEYX; then magic and bit length.
    const uint8_t pubHeader[] = {6, 2, 0, 0, 0x00, 0xA4, 0, 0, 'R', 'S', 'A', '1', 0, 4, 0, 0};
    const uint8_t privHeader[] = {7, 2, 0, 0, 0x00, 0xA4, 0, 0, 'R', 'S', 'A', '2', 0, 4, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(pubHeader), std::end(pubHeader), publicBlob.begin()));
    EXPECT_TRUE(std::equal(std::begin(privHeader), std::end(privHeader), privateBlob.begin()));
    EXPECT_EQ(privateBlob.size(), 20u + 2 * 128 + 5 * 64);
}

TEST_F(KtCrypto, ChunkSizesAndRoundTripsThroughEveryExport) {
    // k = 128 bytes, 117 bytes of data per block.
    const std::pair<size_t, size_t> table[] = {{0, 128},   {1, 128},   {117, 128},
                                               {118, 256}, {234, 256}, {235, 384}};
    for (auto [length, expected] : table) {
        SCOPED_TRACE(length);
        const auto data = pattern(length, static_cast<uint8_t>(length));
        const auto n = static_cast<uint32_t>(length);
        Result byHandle = take(KtEncrypt(key, data.data(), n));
        Result byBlob = encryptByKey(publicBlob, data);
        Result ez = take(KtEncryptByKeyEz(
            publicBlob.data(), static_cast<uint32_t>(publicBlob.size()), data.data(), n));
        for (const Result* r : {&byHandle, &byBlob, &ez}) {
            ASSERT_TRUE(r->ok);
            EXPECT_EQ(r->bytes.size(), expected);
            Result plain =
                take(KtDecrypt(key, r->bytes.data(), static_cast<uint32_t>(r->bytes.size())));
            ASSERT_TRUE(plain.ok);
            EXPECT_EQ(plain.bytes, data);
            Result plain2 = decryptByKey(privateBlob, r->bytes);
            ASSERT_TRUE(plain2.ok);
            EXPECT_EQ(plain2.bytes, data);
        }
        // Padding is random: the same data never encrypts to the same bytes twice.
        EXPECT_NE(byHandle.bytes, byBlob.bytes);
    }
}

TEST_F(KtCrypto, DecryptionTakesWholeBlocksOnly) {
    const auto data = pattern(200);
    Result cipher = take(KtEncrypt(key, data.data(), 200));
    ASSERT_EQ(cipher.bytes.size(), 256u);

    auto padded = cipher.bytes;
    padded.insert(padded.end(), {1, 2, 3, 4, 5});
    std::string text = captureDebug([&] {
        Result plain = take(KtDecrypt(key, padded.data(), static_cast<uint32_t>(padded.size())));
        ASSERT_TRUE(plain.ok);
        EXPECT_EQ(plain.bytes, data) << "the trailing 5 bytes are ignored";
        Result plain2 = decryptByKey(privateBlob, padded);
        ASSERT_TRUE(plain2.ok);
        EXPECT_EQ(plain2.bytes, data);

        std::vector<uint8_t> shortCipher(cipher.bytes.begin(), cipher.bytes.begin() + 127);
        EXPECT_FALSE(take(KtDecrypt(key, shortCipher.data(), 127)).ok);
        EXPECT_FALSE(decryptByKey(privateBlob, shortCipher).ok);

        // A damaged block fails the whole operation; nothing partial comes back.
        auto damaged = cipher.bytes;
        damaged[200] ^= 0x55;
        EXPECT_FALSE(take(KtDecrypt(key, damaged.data(), 256)).ok);
        EXPECT_FALSE(decryptByKey(privateBlob, damaged).ok);
    });
    EXPECT_EQ(text, "") << "decryption failures are silent";
}

TEST_F(KtCrypto, WrongBlobKinds) {
    const auto data = pattern(10);
    std::string text = captureDebug([&] {
        EXPECT_FALSE(encryptByKey(privateBlob, data).ok);
        EXPECT_FALSE(
            take(KtEncryptByKeyEz(privateBlob.data(), static_cast<uint32_t>(privateBlob.size()),
                                  data.data(), 10))
                .ok);
        EXPECT_EQ(KtImportPublicKey(context, static_cast<uint32_t>(privateBlob.size()),
                                    privateBlob.data()),
                  0u);
    });
    EXPECT_EQ(text,
              "Input key is not a public key.\nInput key is not a public key.\n"
              "Input key is not a public key.\n");

    Result cipher = take(KtEncrypt(key, data.data(), 10));
    text = captureDebug([&] { EXPECT_FALSE(decryptByKey(publicBlob, cipher.bytes).ok); });
    EXPECT_EQ(text, "");

    // An imported public key encrypts for the key pair but cannot decrypt or give a private blob.
    uint32_t imported =
        KtImportPublicKey(context, static_cast<uint32_t>(publicBlob.size()), publicBlob.data());
    ASSERT_NE(imported, 0u);
    Result c2 = take(KtEncrypt(imported, data.data(), 10));
    ASSERT_TRUE(c2.ok);
    EXPECT_EQ(take(KtDecrypt(key, c2.bytes.data(), 128)).bytes, data);
    EXPECT_FALSE(take(KtDecrypt(imported, c2.bytes.data(), 128)).ok);
    uint32_t length = 0;
    EXPECT_FALSE(KtExportPrivateKey(imported, &length, nullptr));
    EXPECT_EQ(exportBlob(imported, false), publicBlob);
    EXPECT_TRUE(KtCryptDestroyKey(imported));
}

TEST_F(KtCrypto, ZeroStaleAndMismatchedHandles) {
    const auto data = pattern(4);
    EXPECT_TRUE(KtCrypUninit(0));
    EXPECT_EQ(KtCryptGenKey(0, 0), 0u);
    EXPECT_FALSE(KtCryptDestroyKey(0));
    EXPECT_FALSE(take(KtEncrypt(0, data.data(), 4)).ok);
    EXPECT_FALSE(take(KtDecrypt(0, data.data(), 4)).ok);
    uint32_t length = 0;
    EXPECT_FALSE(KtExportPublicKey(0, &length, nullptr));
    EXPECT_FALSE(KtExportPublicKey(key, nullptr, nullptr));
    KtFreeCryptBuffer(nullptr);

    // A handle of one kind is not taken for the other.
    EXPECT_FALSE(KtCrypUninit(key));
    EXPECT_FALSE(KtCryptDestroyKey(context));
    EXPECT_EQ(KtCryptGenKey(key, 0), 0u);
    std::string text = captureDebug([&] {
        EXPECT_EQ(
            KtImportPublicKey(key, static_cast<uint32_t>(publicBlob.size()), publicBlob.data()),
            0u);
        EXPECT_FALSE(take(KtEncryptByKey(key, publicBlob.data(),
                                         static_cast<uint32_t>(publicBlob.size()), data.data(), 4))
                         .ok);
    });
    EXPECT_EQ(text, "Public key import failed.\nPublic key import failed.\n");

    // Released handles are gone.
    uint32_t other = KtCryptGenKey(context, 512u << 16);
    ASSERT_NE(other, 0u);
    EXPECT_TRUE(KtCryptDestroyKey(other));
    EXPECT_FALSE(KtCryptDestroyKey(other));
    EXPECT_FALSE(take(KtEncrypt(other, data.data(), 4)).ok);
    uint32_t ctx2 = KtCrypInit(1, 0);
    ASSERT_NE(ctx2, 0u);
    EXPECT_TRUE(KtCrypUninit(ctx2));
    EXPECT_FALSE(KtCrypUninit(ctx2));
    EXPECT_EQ(KtCryptGenKey(ctx2, 0), 0u);
}

TEST_F(KtCrypto, ExportAsksForTheLengthAndRefusesSmallBuffers) {
    for (bool priv : {false, true}) {
        SCOPED_TRACE(priv);
        auto fn = priv ? KtExportPrivateKey : KtExportPublicKey;
        const auto& expected = priv ? privateBlob : publicBlob;
        const auto size = static_cast<uint32_t>(expected.size());

        uint32_t length = 0;
        EXPECT_TRUE(fn(key, &length, nullptr));
        EXPECT_EQ(length, size);

        std::vector<uint8_t> buffer(size + 8, 0xEE);
        length = size - 1;
        EXPECT_FALSE(fn(key, &length, buffer.data()));
        EXPECT_EQ(length, size) << "the caller learns the length it needs";
        EXPECT_EQ(buffer[0], 0xEE) << "nothing written into a small buffer";

        length = size + 8;
        EXPECT_TRUE(fn(key, &length, buffer.data()));
        EXPECT_EQ(length, size);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
        EXPECT_EQ(buffer[size], 0xEE);
    }
}

TEST_F(KtCrypto, KeyLengthComesFromTheUpperFlagBits) {
    struct Case {
        uint32_t flags;
        uint32_t bits;  // 0: refused
    };
    const Case cases[] = {
        {0x00000001u, 1024},  // lower bits are the provider's own flags
        {512u << 16, 512},   {(1024u << 16) | 5u, 1024}, {100u << 16, 0}, {(512u + 4u) << 16, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        uint32_t k = KtCryptGenKey(context, c.flags);
        if (c.bits == 0) {
            EXPECT_EQ(k, 0u);
            continue;
        }
        ASSERT_NE(k, 0u);
        auto blob = exportBlob(k, false);
        ASSERT_EQ(blob.size(), 20u + c.bits / 8);
        EXPECT_EQ(blob[12] | (blob[13] << 8), static_cast<int>(c.bits));
        KtCryptDestroyKey(k);
    }
}

TEST_F(KtCrypto, DataTooLongForAResultLengthIsRefusedUnread) {
    // 2^32 - 1 bytes would encrypt to more bytes than the 32-bit length can tell. The pointer
    // covers 4 bytes only: the refusal must come before any of it is read.
    const uint8_t few[4] = {};
    std::string text = captureDebug([&] {
        EXPECT_EQ(KtEncrypt(key, few, 0xFFFFFFFFu), nullptr);
        EXPECT_EQ(KtEncryptByKeyEz(publicBlob.data(), static_cast<uint32_t>(publicBlob.size()), few,
                                   0xFFFFFFFFu),
                  nullptr);
    });
    EXPECT_EQ(text, "Memory allocates failed.\nMemory allocates failed.\n");
}

// Blobs that are too short for what their header claims, or whose header is absurd, are
// refused before anything past the data is read (each case is copied into a buffer of exactly
// its own length so that a read past it is caught by the address sanitizer).
TEST_F(KtCrypto, ShortAndAbsurdBlobsAreRefused) {
    auto withBits = [](std::vector<uint8_t> b, uint32_t bits) {
        for (int i = 0; i < 4; ++i) b[12 + i] = static_cast<uint8_t>(bits >> (8 * i));
        return b;
    };
    auto cut = [](const std::vector<uint8_t>& b, size_t n) {
        return std::vector<uint8_t>(b.begin(), b.begin() + static_cast<long>(n));
    };
    auto withType = [](std::vector<uint8_t> b, uint8_t type) {
        b[0] = type;
        return b;
    };
    const std::vector<std::vector<uint8_t>> badPublic = {
        {},
        cut(publicBlob, 8),
        cut(publicBlob, 15),
        cut(publicBlob, 16),
        cut(publicBlob, publicBlob.size() - 1),
        withBits(publicBlob, 0),
        withBits(publicBlob, 1020),  // not whole bytes
        withBits(publicBlob, 1023),
        withBits(publicBlob, 2048),  // claims more than the blob holds
        withBits(publicBlob, 0xFFFFFFF8u),
        withBits(publicBlob, 256),  // too short a key to carry a block
        withType(publicBlob, 1),
    };
    for (size_t i = 0; i < badPublic.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& blob = badPublic[i];
        auto heap = std::make_unique<uint8_t[]>(blob.size() + 1);
        std::copy(blob.begin(), blob.end(), heap.get());
        const auto n = static_cast<uint32_t>(blob.size());
        const auto data = pattern(20);
        std::string text = captureDebug([&] {
            EXPECT_EQ(KtImportPublicKey(context, n, heap.get()), 0u);
            EXPECT_FALSE(take(KtEncryptByKeyEz(heap.get(), n, data.data(), 20)).ok);
            EXPECT_FALSE(take(KtEncryptByKey(context, heap.get(), n, data.data(), 20)).ok);
        });
        EXPECT_EQ(text,
                  "Public key import failed.\nPublic key import failed.\n"
                  "Public key import failed.\n");
    }
    std::string text =
        captureDebug([&] { EXPECT_EQ(KtImportPublicKey(context, 148, nullptr), 0u); });
    EXPECT_EQ(text, "Public key import failed.\n");

    Result cipher = take(KtEncrypt(key, pattern(5).data(), 5));
    const std::vector<std::vector<uint8_t>> badPrivate = {
        {},
        cut(privateBlob, 12),
        cut(privateBlob, 16),
        cut(privateBlob, privateBlob.size() - 1),
        cut(privateBlob, 20 + 128),  // the public part only
        withBits(privateBlob, 0),
        withBits(privateBlob, 4096),
        withBits(privateBlob, 0xFFFFFFFFu),
    };
    for (size_t i = 0; i < badPrivate.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& blob = badPrivate[i];
        auto heap = std::make_unique<uint8_t[]>(blob.size() + 1);
        std::copy(blob.begin(), blob.end(), heap.get());
        std::string t = captureDebug([&] {
            EXPECT_FALSE(
                take(KtDecryptByKey(context, heap.get(), static_cast<uint32_t>(blob.size()),
                                    cipher.bytes.data(), 128))
                    .ok);
        });
        EXPECT_EQ(t, "Private key import failed.\n");
    }
}

// Several threads share one key handle while others create and release their own.
TEST_F(KtCrypto, HandlesAreSharedSafelyBetweenThreads) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const auto data =
                    pattern(static_cast<size_t>(50 + 40 * t + i), static_cast<uint8_t>(t));
                Result c =
                    t % 2 ? take(KtEncrypt(key, data.data(), static_cast<uint32_t>(data.size())))
                          : take(KtEncryptByKeyEz(publicBlob.data(),
                                                  static_cast<uint32_t>(publicBlob.size()),
                                                  data.data(), static_cast<uint32_t>(data.size())));
                Result p =
                    take(KtDecrypt(key, c.bytes.data(), static_cast<uint32_t>(c.bytes.size())));
                if (!c.ok || !p.ok || p.bytes != data) ++failures;
                uint32_t own = KtCrypInit(1, 0);
                uint32_t imported = KtImportPublicKey(own, static_cast<uint32_t>(publicBlob.size()),
                                                      publicBlob.data());
                if (!own || !imported) ++failures;
                if (!KtCryptDestroyKey(imported) || !KtCrypUninit(own)) ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
