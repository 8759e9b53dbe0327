// A writer that dies or runs out of space in the middle of writing never damages the file it
// replaces: each writer below is run in a child process whose file-size limit stops the new
// file part-way, once by killing the child and once by failing the write.

#include <gtest/gtest.h>

#include "StateTestSupport.h"
#include "state/AddressBook.h"
#include "state/ConnectionSet.h"
#include "state/LoginLog.h"
#include "state/ResumeFile.h"

using namespace fsv::state;
using namespace fsv::state::test;
namespace fs = std::filesystem;

namespace {

struct Writer {
    const char* name;
    const char* file;
    // Writes a small (false) or a large (true) version of the file into the folder.
    std::function<bool(const fs::path& folder, bool large)> write;
};

AddressBook bookOf(int entries) {
    AddressBook b;
    for (int i = 0; i < entries; ++i)
        b.addEntry(0, {0, 5066, "Recorder " + std::to_string(i), "10.0.0.1", "Guest", "pw"});
    return b;
}

ResumeData resumeOf(int records) {
    ResumeData d;
    d.header = {5066, "10.0.0.1", "Guest", ""};
    for (int i = 0; i < records; ++i)
        d.records.push_back({0, 11, 1, "20240101000000", "/dl/" + std::to_string(i), 0, 0, 1});
    return d;
}

std::vector<fsv::ConnectRequest> setOf(int n) {
    std::vector<fsv::ConnectRequest> v(n);
    for (int i = 0; i < n; ++i) v[i].address = "10.0.0." + std::to_string(i);
    return v;
}

std::vector<std::string> linesOf(int n) {
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i) v.push_back("192.168.100." + std::to_string(i));
    return v;
}

const Writer kWriters[] = {
    {"address book", "AddressBook.dat",
     [](const fs::path& d, bool large) {
         return saveAddressBook(d / "AddressBook.dat", bookOf(large ? 400 : 2));
     }},
    {"automatic resume file", "Auto1.rsm",
     [](const fs::path& d, bool large) {
         ResumeLock lock;
         return writeAutoResumeFile(lock, d, 0, resumeOf(large ? 40 : 1)) == ResumeWrite::Written;
     }},
    {"connection set", "site.sav",
     [](const fs::path& d, bool large) {
         return saveConnectionSet(d / "site.sav", setOf(large ? 400 : 2)) == SaveSet::Written;
     }},
    {"login log", "login.log",
     [](const fs::path& d, bool large) {
         return saveLoginLog(d / "login.log", linesOf(large ? 400 : 2));
     }},
};

}  // namespace

TEST(CrashSafety, AnInterruptedWriteLeavesTheOldFileIntact) {
    for (const auto& w : kWriters) {
        for (bool kill : {true, false}) {
            TempFolder dir;
            ASSERT_TRUE(w.write(dir.path(), false)) << w.name;
            const auto old = readBytes(dir / w.file);
            ASSERT_FALSE(old.empty());

            auto end =
                runWriterWithFileLimit(old.size(), kill, [&] { return w.write(dir.path(), true); });
            EXPECT_EQ(end, kill ? ChildEnd::Killed : ChildEnd::Failed) << w.name;
            EXPECT_EQ(readBytes(dir / w.file), old) << w.name << (kill ? " (killed)" : "");
            if (!kill) {
                // A failed write cleans up after itself.
                for (const auto& e : fs::directory_iterator(dir.path())) {
                    auto n = e.path().filename().string();
                    EXPECT_TRUE(n == w.file || n == "AddressBook.bak") << w.name << ": " << n;
                }
            }
            // And with room enough the same write goes through.
            EXPECT_EQ(runWriterWithFileLimit(RLIM_INFINITY, false,
                                             [&] { return w.write(dir.path(), true); }),
                      ChildEnd::Succeeded);
            EXPECT_GT(readBytes(dir / w.file).size(), old.size()) << w.name;
        }
    }
}
