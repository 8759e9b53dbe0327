// The hand-written placement file and the settings file on any text: reading never fails
// and a position, when given, comes from the table of placements.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "state/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("fsv-fuzz-pos-" + std::to_string(::getpid()));
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    (void)fsv::state::mainWindowPosition(file, 800, 600, {1920, 1080});
    (void)fsv::state::readSettings(file);
    return 0;
}
