#pragma once
// Stamped copies for fsv archive export --stamp, made by the Framestamp program in its batch
// form (it draws with Qt; fsv itself stays without it). Framestamp needs no display for this.

#include <filesystem>
#include <optional>

#include "archive/Store.h"

namespace fsv::cli {

// The Framestamp program: beside fsv (installed), in the build tree's framestamp folder, or
// else by name from PATH.
std::filesystem::path framestampProgram();

// Runs `program INPUT -o OUTPUT` for each copy; its complaint is the error of a failed one.
archive::Stamper framestampStamper(const std::filesystem::path& program);

}  // namespace fsv::cli
