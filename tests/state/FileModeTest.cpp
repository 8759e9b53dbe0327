// Files that hold passwords (address book and its backup, resume files, connection sets) and
// the login log are the owner's only, whether they are new or replace a readable older file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "StateTestSupport.h"
#include "state/AddressBook.h"
#include "state/ConnectionSet.h"
#include "state/LoginLog.h"
#include "state/ResumeFile.h"

namespace fs = std::filesystem;
using namespace fsv::state;
using fsv::state::test::TempFolder;

namespace {

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

}  // namespace

TEST(FileModes, FilesWithCredentialsAreTheOwnersOnly) {
    TempFolder dir;
    AddressBook book;
    ResumeData resume;
    resume.header = {5066, "10.0.0.1", "admin", "secret"};
    resume.records.push_back({0, 11, 1, "20261201080000", "/tmp/x.avi", 0, 0xFFFFFFFE, 0});
    ResumeLock lock;
    fsv::ConnectRequest request;
    request.address = "10.0.0.1";
    request.password = "secret";

    struct Case {
        const char* what;
        fs::path file;
        std::function<bool()> write;
    } cases[] = {
        {"AddressBook.dat", dir / "AddressBook.dat",
         [&] { return saveAddressBook(dir / "AddressBook.dat", book); }},
        // Written from the old book by the second save.
        {"AddressBook.bak", dir / "AddressBook.bak",
         [&] { return saveAddressBook(dir / "AddressBook.dat", book); }},
        {"login.log", dir / "login.log",
         [&] { return saveLoginLog(dir / "login.log", {"10.0.0.1"}); }},
        {"saved resume file", dir / "work.rsm",
         [&] { return saveResumeFile(dir / "work.rsm", resume); }},
        {"Auto1.rsm", autoResumePath(dir.path(), 0),
         [&] { return writeAutoResumeFile(lock, dir.path(), 0, resume) == ResumeWrite::Written; }},
        {"Temp0.rsm", tempResumePath(dir.path(), 0),
         [&] { return keepAutoResumeFileAsTemp(lock, dir.path(), 0).has_value(); }},
        {"connection set", dir / "site.sav",
         [&] { return saveConnectionSet(dir / "site.sav", {request}) == SaveSet::Written; }},
    };
    for (auto& c : cases) {
        // An older copy that others could read is replaced by one they cannot.
        if (c.file.filename() != "AddressBook.bak") {
            std::ofstream(c.file) << "old";
            ::chmod(c.file.c_str(), 0644);
        }
        ASSERT_TRUE(c.write()) << c.what;
        EXPECT_EQ(modeOf(c.file), 0600u) << c.what;
    }
}
