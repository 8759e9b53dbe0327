#pragma once
// Writing a whole file so that a crash or a full disk never leaves a half-written one: the bytes
// go to a temporary file in the same folder, are flushed, and the temporary file is renamed
// over the old one. Until the rename the old file is untouched. The file is readable and
// writable by its owner only (0600).

#include <cstddef>
#include <filesystem>
#include <string>

namespace fsv::platform {

bool writeFileAtomically(const std::filesystem::path& file, const void* data, size_t size,
                         std::string* error = nullptr);

}  // namespace fsv::platform
