#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>

#include "TestSupport.h"
#include "ktcrypto/Internal.h"
#include "ktcrypto/KtCrypto.h"

using namespace kttest;
namespace fs = std::filesystem;

namespace {

const bool kDebugOn = (::setenv("FARSIGHT_DEBUG", "1", 1), true);

const std::string kFileMagic = "KTKEYSET";

// Each test keeps its key container in a folder of its own.
class KtContainer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDebugOn);
        ::setenv("FARSIGHT_CONFIG", dir.path().c_str(), 1);
        file = dir.path() / "Korvantis RSA Container v7.0.key";
    }
    void TearDown() override {
        ::unsetenv("FARSIGHT_CONFIG");
        fsv::kt::setProviderAvailableForTesting(true);
    }
    static bool isEmptyContainer(const std::vector<uint8_t>& bytes) {
        return bytes.size() == 12 && std::memcmp(bytes.data(), kFileMagic.data(), 8) == 0 &&
               bytes[8] == 0 && bytes[9] == 0 && bytes[10] == 0 && bytes[11] == 0;
    }

    TempDir dir;
    fs::path file;
};

TEST_F(KtContainer, CreatedOnFirstUseAndKeepsItsKeyPair) {
    std::string text = captureDebug([&] {
        uint32_t ctx = KtCrypInit(0, 0);
        ASSERT_NE(ctx, 0u);
        EXPECT_TRUE(isEmptyContainer(readFile(file)));
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::group_all, fs::perms::none);

        uint32_t key = KtCryptGenKey(ctx, 512u << 16);
        ASSERT_NE(key, 0u);
        auto stored = readFile(file);
        auto privateBlob = exportBlob(key, true);
        ASSERT_EQ(stored.size(), 12 + privateBlob.size());
        EXPECT_TRUE(std::equal(privateBlob.begin(), privateBlob.end(), stored.begin() + 12));
        EXPECT_TRUE(KtCryptDestroyKey(key));
        EXPECT_TRUE(KtCrypUninit(ctx));

        // Opened again as it is.
        uint32_t again = KtCrypInit(0, 0);
        EXPECT_NE(again, 0u);
        EXPECT_EQ(readFile(file), stored);
        KtCrypUninit(again);
    });
    EXPECT_EQ(text, "");
}

TEST_F(KtContainer, StaleContainerIsDeletedAndCreatedAgain) {
    const std::string header = kFileMagic;
    auto bytesOf = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    std::vector<uint8_t> overrun = bytesOf(header);
    overrun.insert(overrun.end(), {100, 0, 0, 0, 1, 2, 3});
    std::vector<uint8_t> trailing = bytesOf(header);
    trailing.insert(trailing.end(), {0, 0, 0, 0, 9});
    std::vector<uint8_t> wrongMagic = bytesOf("KTKEYSEX");
    wrongMagic.insert(wrongMagic.end(), {0, 0, 0, 0});
    const std::vector<std::vector<uint8_t>> stale = {
        {}, bytesOf("not a key container"), overrun, trailing, wrongMagic};
    for (size_t i = 0; i < stale.size(); ++i) {
        SCOPED_TRACE(i);
        writeFile(file, stale[i]);
        uint32_t ctx = KtCrypInit(0, 0);
        EXPECT_NE(ctx, 0u);
        EXPECT_TRUE(isEmptyContainer(readFile(file)));
        KtCrypUninit(ctx);
    }
}

TEST_F(KtContainer, AcquisitionFailuresNameTheLastError) {
    // The config folder cannot exist: its parent is a plain file (ENOTDIR, 20).
    writeFile(dir.path() / "plain", {1});
    ::setenv("FARSIGHT_CONFIG", (dir.path() / "plain" / "sub").c_str(), 1);
    std::string text = captureDebug([] { EXPECT_EQ(KtCrypInit(0, 0), 0u); });
    EXPECT_EQ(text, "A cryptographic service handle could not be acquired. (20)\n");

    // Without a usable RSA provider nothing can be acquired, ephemeral or not.
    fsv::kt::setProviderAvailableForTesting(false);
    const auto data = pattern(8);
    const uint8_t blob[148] = {6, 2};
    text = captureDebug([&] {
        EXPECT_EQ(KtCrypInit(1, 0), 0u);
        EXPECT_FALSE(IsSupportKtCryp(0));
        EXPECT_EQ(KtEncryptByKeyEz(blob, sizeof blob, data.data(), 8), nullptr);
    });
    EXPECT_EQ(text,
              "A cryptographic service handle could not be acquired. (-2146893801)\n"
              "A cryptographic service handle could not be acquired.\n");
}

// The installer runs only when support is missing; a fake one on the search path records how
// it was started.
class KtInstaller : public KtContainer {
  protected:
    void SetUp() override {
        KtContainer::SetUp();
        const char* path = std::getenv("PATH");
        oldPath = path ? path : "";
        ::setenv("PATH", (dir.path().string() + ":" + oldPath).c_str(), 1);
        marker = dir.path() / "marker";
    }
    void TearDown() override {
        ::setenv("PATH", oldPath.c_str(), 1);
        fsv::kt::setInstallerWaitForTesting(60000);
        KtContainer::TearDown();
    }
    void installFake(const std::string& body) {
        fs::path exe = dir.path() / "ENCPACK.EXE";
        std::string script = "#!/bin/sh\n" + body + "\n";
        writeFile(exe, std::vector<uint8_t>(script.begin(), script.end()));
        fs::permissions(exe, fs::perms::owner_all);
    }
    std::string markerText() {
        auto bytes = readFile(marker);
        return {bytes.begin(), bytes.end()};
    }

    std::string oldPath;
    fs::path marker;
};

TEST_F(KtInstaller, NeverStartedWhenSupportIsThere) {
    installFake("echo \"$@\" > '" + marker.string() + "'");
    EXPECT_EQ(KtInstallCryptEnpack(), 1);
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(KtInstaller, StartedAndWaitedForWhenSupportIsMissing) {
    fsv::kt::setProviderAvailableForTesting(false);
    fsv::kt::setInstallerWaitForTesting(10000);

    installFake("echo \"$@\" > '" + marker.string() + "'; exit 3");
    EXPECT_EQ(KtInstallCryptEnpack(), 1) << "the installer's own result does not matter";
    EXPECT_EQ(markerText(), "/Q:a\n");

    fs::remove(dir.path() / "ENCPACK.EXE");
    EXPECT_EQ(KtInstallCryptEnpack(), 0) << "not found on the search path";
}

TEST_F(KtInstaller, GivesUpAtTheEndOfTheWaitAndLeavesItRunning) {
    fsv::kt::setProviderAvailableForTesting(false);
    fsv::kt::setInstallerWaitForTesting(300);
    installFake("exec >/dev/null 2>&1; echo $$ > '" + marker.string() + ".tmp'; mv '" +
                marker.string() + ".tmp' '" + marker.string() + "'; exec sleep 30");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KtInstallCryptEnpack(), 0);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(290));
    EXPECT_LT(took, std::chrono::seconds(10));

    ASSERT_TRUE(fs::exists(marker));
    pid_t pid = std::stoi(markerText());
    EXPECT_EQ(::kill(pid, 0), 0) << "still running";
    ::kill(pid, SIGKILL);
}

}  // namespace
