#pragma once
// Test helpers of local playback: a frame decoded on its own through VideoDecoder, and the
// generated recordings the tests play.

#include <filesystem>

#include "client/FrameSlot.h"
#include "media/AviReader.h"
#include "media/VideoDecoder.h"
#include "tests/support/Recordings.h"

namespace fsv::playback::test {

// Frame n decoded on its own (from its key frame on) through VideoDecoder, as a BGRX picture
// the way a slot makes it for a panel of viewWidth × viewHeight (0 × 0: at the picture's own
// size); an empty picture when anything fails.
inline client::Picture referenceFrame(const std::filesystem::path& file, int n, int viewWidth = 0,
                                      int viewHeight = 0) {
    media::AviReader r;
    if (r.open(file) <= n) return {};
    auto format = r.videoFormat();
    const auto& info = r.streamInfo(r.videoIndex());
    media::VideoDecoder d;
    if (!format || !d.open(info.fccHandler ? info.fccHandler : format->compression)) return {};
    auto raw = r.streamFormat(r.videoIndex());
    if (!d.begin(*format, media::BitmapInfoHeader{}, {}, {},
                 raw.size() > 40 ? raw.subspan(40) : std::span<const uint8_t>{}) ||
        !d.setPictureOutput(true))
        return {};
    for (int k = std::max(r.keyFrameAtOrBefore(n), 0); k <= n; ++k) {
        auto sample = r.videoSample(k);
        if (!sample || !d.decompress(*sample, nullptr, 0)) return {};
    }
    client::FrameSlot slot;
    slot.setViewSize(viewWidth, viewHeight);
    if (!slot.put(d.latestPicture())) return {};
    client::Picture out;
    slot.takeNewest([&](const client::Picture& p) { out = p; });
    return out;
}

using fsv::test::firstAvi;

}  // namespace fsv::playback::test
