#pragma once
// fsv archive run: the recorders of the address book copied into an archive folder, several
// at a time, each through a controller of its own (see ArchiveRun.cpp).

#include <cstdint>
#include <string>
#include <vector>

namespace fsv::cli {

struct ArchiveRunArgs {
    std::string archive;
    std::string group;
    bool all = false;
    std::vector<std::string> names;
    std::string since;     // "2d", "12h"
    std::string from, to;  // "YYYY-MM-DD[ HH:MM:SS]"
    int jobs = 4;
    int64_t limitRate = 0;  // KB/s (1 KB = 1024 bytes) per recorder; 0: none
    bool audio = false;
    bool json = false;
    int waitSeconds = 30;
    bool noPlainLogin = false;
};

// The exit code: 0 when every recording of the window is in the archive, 1 when a recorder
// or a recording failed, 2 for a usage error.
int runArchive(const ArchiveRunArgs& args);

// "2d" / "36h" / "90m" as seconds; -1 when it is not such a span.
long long parseSpan(const std::string& text);

}  // namespace fsv::cli
