#include "tests/support/TempDir.h"

#include <stdlib.h>

namespace fsv::test {

std::filesystem::path makeTempDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX"));
    const char* made = ::mkdtemp(pattern.data());
    return made ? std::filesystem::path(made) : std::filesystem::path();
}

TempDir::TempDir(const std::string& prefix) : path_(makeTempDir(prefix)) {}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace fsv::test
