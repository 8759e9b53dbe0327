#pragma once
// Sample recordings for recorder-sim, the tests and the demo: real encoded AVI files (with their
// time-stamp text stream) and WAV files laid out as a recorder's recordings folder:
//
//   DIR/Cam<code>/<YYYYMMDD>/<HHMMSS>.avi   (code as two digits: Cam01, Cam02, ...)
//   DIR/Cam<code>/name                      (one line: the camera's name; some cameras only)
//   DIR/Aud<code>/<YYYYMMDD>/<HHMMSS>.wav
//
// Cameras take turns among three kinds: 352 x 240 Motion JPEG tagged "dmb1"; 704 x 480
// MS-MPEG-4 v2 ("MP42"); and a 704 x 240 field-only MS-MPEG-4 v2 stream whose stream name ends
// in "_FSV". Each frame shows a moving bar and its frame number as a row of blocks. Frames come
// about every 100 ms with a little jitter and one longer gap per recording; the text stream
// holds "Event#1-H:M:S(Y/M/D)" for the first frame and "#1-H:M:S.ms" for the others.

#include <filesystem>
#include <string>

namespace fsv::sim {

struct GenerateOptions {
    int cameras = 3;                   // Cam01, Cam02, ...
    int days = 2;                      // consecutive days, ending at `lastDay`
    std::string lastDay = "20261201";  // YYYYMMDD
    int eventsPerDay = 2;
    double secondsPerEvent = 3.0;  // small by default; larger on request
    int audioChannels = 1;
    int framesPerSecond = 10;       // nominal rate of the recordings
    unsigned seed = 1;              // the jitter of frame times follows from it
    int cameraOffsetSeconds = 180;  // how much later each camera's recording of an event starts
};

// Writes the recordings below `dir`; returns false and fills `error` when it cannot.
bool generateRecordings(const std::filesystem::path& dir, const GenerateOptions& options,
                        std::string* error);

}  // namespace fsv::sim
