#pragma once
// Sample recordings for recorder-sim, the tests and the demo: real encoded AVI files (with their
// time-stamp text stream) and WAV files laid out as a recorder's recordings folder.

#include <filesystem>
#include <string>

namespace fsv::sim {

struct GenerateOptions {
    int cameras = 3;          // Cam01, Cam02, ...
    int days = 2;             // consecutive days, ending at `lastDay`
    std::string lastDay = "20261201";  // YYYYMMDD
    int eventsPerDay = 2;
    double secondsPerEvent = 3.0;  // small by default; larger on request
    int audioChannels = 1;
};

// Writes the recordings below `dir`; returns false and fills `error` when it cannot.
bool generateRecordings(const std::filesystem::path& dir, const GenerateOptions& options,
                        std::string* error);

}  // namespace fsv::sim
