// The data and config folders: made for the owner only, an existing folder left as it is.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/System.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

}  // namespace

TEST(Folders, MadeForTheOwnerOnly) {
    const fs::path root = fsv::test::makeTempDir("fsv-folders");
    ASSERT_FALSE(root.empty());
    fs::create_directories(root / "kept");
    fs::permissions(root / "kept", fs::perms(0755));

    struct Case {
        const char* variable;
        fs::path (*folder)();
        fs::path value;
        unsigned mode;
    } cases[] = {
        {"FARSIGHT_HOME", fsv::platform::dataFolder, root / "new" / "data", 0700},
        {"FARSIGHT_CONFIG", fsv::platform::configFolder, root / "new" / "config/", 0700},
        {"FARSIGHT_HOME", fsv::platform::dataFolder, root / "kept", 0755},
    };
    for (auto& c : cases) {
        ::setenv(c.variable, c.value.c_str(), 1);
        const fs::path made = c.folder();
        EXPECT_TRUE(fs::is_directory(made)) << made;
        EXPECT_EQ(modeOf(made), c.mode) << made;
    }
    // Without the program's own variables: the XDG folder gets a "FarsightViewer" folder.
    ::unsetenv("FARSIGHT_HOME");
    ::setenv("XDG_DATA_HOME", (root / "xdg").c_str(), 1);
    EXPECT_EQ(fsv::platform::dataFolder(), root / "xdg" / "FarsightViewer");
    EXPECT_EQ(modeOf(root / "xdg" / "FarsightViewer"), 0700u);
    ::unsetenv("FARSIGHT_CONFIG");
    ::unsetenv("XDG_DATA_HOME");
    fs::remove_all(root);
}
