#include "merge/ClipWriter.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "media/AviReader.h"
#include "media/AviWriter.h"

namespace fsv::merge {

ClipResult writeClip(const std::filesystem::path& source, const std::filesystem::path& clip,
                     int first, int last, const std::function<bool(int)>& progress) {
    ClipResult result;
    media::AviReader reader;
    const int count = reader.open(source);
    if (count <= 0) {
        result.error = "cannot read " + source.string();
        return result;
    }
    last = std::min(last, count - 1);
    if (first < 0 || first > last) {
        result.error = "no frames in the chosen range";
        return result;
    }
    const int start = std::max(reader.keyFrameAtOrBefore(first), 0);
    const int video = reader.videoIndex(), text = reader.textIndex();

    std::vector<media::AviWriter::StreamSetup> streams;
    auto setup = [&](int slot) {
        media::AviWriter::StreamSetup s;
        s.info = reader.streamInfo(slot);
        s.info.start = 0;
        s.info.length = 0;
        auto format = reader.streamFormat(slot);
        s.format.assign(format.begin(), format.end());
        streams.push_back(std::move(s));
    };
    setup(video);
    if (text >= 0) setup(text);

    media::AviWriter writer;
    if (!writer.open(clip, std::move(streams))) {
        result.error = "cannot write " + clip.string();
        return result;
    }
    auto fail = [&](std::string error) {
        writer.abandon();
        std::error_code ec;
        std::filesystem::remove(clip, ec);
        result.error = std::move(error);
        return result;
    };
    const int total = last - start + 1;
    int reported = -1;
    char stamp[257];
    for (int i = start; i <= last; ++i) {
        auto sample = reader.videoSample(i);
        if (!sample) return fail("cannot read frame " + std::to_string(i));
        if (!writer.append(0, *sample, reader.isKeyFrame(i)))
            return fail("cannot write " + clip.string());
        if (text >= 0) {
            if (!reader.readTextSample(i, stamp, sizeof stamp)) stamp[0] = 0;
            const auto* bytes = reinterpret_cast<const uint8_t*>(stamp);
            if (!writer.append(1, {bytes, std::strlen(stamp) + 1}, true))
                return fail("cannot write " + clip.string());
        }
        const int percent = (i - start + 1) * 99 / total;
        if (percent != reported) {
            reported = percent;
            if (progress && !progress(percent)) return fail("cancelled");
        }
    }
    if (!writer.close()) return fail("cannot write " + clip.string());
    result.ok = true;
    result.firstFrame = start;
    result.frames = total;
    if (progress) progress(100);
    return result;
}

}  // namespace fsv::merge
