#pragma once
// Clips of a recording: frames first … last of an AVI file copied, as they are (no re-encoding),
// into a new AVI file together with their time-stamp texts. The clip starts at the key frame at
// or before `first`, so that it decodes from its first frame on.

#include <filesystem>
#include <functional>
#include <string>

namespace fsv::merge {

struct ClipResult {
    bool ok = false;
    int firstFrame = -1;  // the source frame the clip starts with (a key frame)
    int frames = 0;       // frames written
    std::string error;
};

// `progress` receives 0 … 100 now and then and may return false to cancel (the clip file is
// then removed).
ClipResult writeClip(const std::filesystem::path& source, const std::filesystem::path& clip,
                     int first, int last, const std::function<bool(int percent)>& progress = {});

}  // namespace fsv::merge
