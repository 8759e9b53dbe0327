#pragma once
// A moment of the local files playing in step, kept: a clip of each camera around the clock's
// time, written through the clip writer (frames copied as they are), and a manifest beside
// them (JSON: camera, file, first and last frame time, SHA-256 of the clip) so that whoever
// receives them can check that nothing changed.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fsv::merge {

struct MomentCamera {
    std::string camera;            // the panel's caption
    std::filesystem::path source;  // the recording
    std::vector<int64_t> times;    // its frames' time stamps (stampMs), ascending
};

struct MomentClip {
    std::string camera;
    std::filesystem::path file;
    int64_t first = 0, last = 0;  // the clip's first and last frame times
    std::string sha256;           // lowercase hex
};

struct MomentResult {
    bool ok = false;
    std::vector<MomentClip> clips;
    std::filesystem::path manifest;
    std::string error;
};

// Clips of every camera with frames between `clock` − `seconds`/2 and `clock` + `seconds`/2,
// written as `stem`-1.avi, `stem`-2.avi, … in `folder`, and the manifest `stem`.json. A camera
// with no frame in that span gets no clip. Fails (with the files written so far removed) when a
// clip or the manifest cannot be written.
MomentResult saveMomentClips(const std::vector<MomentCamera>& cameras, int64_t clock, int seconds,
                             const std::filesystem::path& folder, const std::string& stem);

// The SHA-256 of a file in lowercase hex; empty when it cannot be read.
std::string sha256File(const std::filesystem::path& file);

// "YYYY-MM-DD HH:MM:SS.mmm" of a stampMs time.
std::string momentTimeText(int64_t ms);

}  // namespace fsv::merge
