#pragma once
// Finding the recordings a test generated.

#include <filesystem>

namespace fsv::test {

// An AVI file below `folder` (the first the folder walk meets); empty when there is none.
inline std::filesystem::path firstAvi(const std::filesystem::path& folder) {
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec))
        if (it->path().extension() == ".avi" || it->path().extension() == ".AVI")
            return it->path();
    return {};
}

}  // namespace fsv::test
