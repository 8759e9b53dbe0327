#include "merge/Moment.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "merge/ClipWriter.h"
#include "platform/Shared.h"
#include "recordings/playback/SyncClock.h"

namespace fsv::merge {

std::string momentTimeText(int64_t ms) {
    const SystemTime t = playback::stampTime(ms);
    return format("%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.milliseconds);
}

std::string sha256File(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return {};
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0 &&
            EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<size_t>(in.gcount())) != 1)
            return {};
    }
    if (in.bad()) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return {};
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += format("%02x", digest[i]);
    return hex;
}

MomentResult saveMomentClips(const std::vector<MomentCamera>& cameras, int64_t clock, int seconds,
                             const std::filesystem::path& folder, const std::string& stem) {
    MomentResult result;
    std::vector<std::filesystem::path> written;
    auto fail = [&](std::string error) {
        std::error_code ec;
        for (const auto& f : written) std::filesystem::remove(f, ec);
        result.ok = false;
        result.clips.clear();
        result.error = std::move(error);
        return result;
    };
    const int64_t half = static_cast<int64_t>(std::max(seconds, 0)) * 500;
    const int64_t from = clock - half, to = clock + half;
    nlohmann::json manifest = nlohmann::json::array();
    int n = 0;
    for (const auto& cam : cameras) {
        const auto& t = cam.times;
        const auto begin = std::lower_bound(t.begin(), t.end(), from);
        const auto end = std::upper_bound(t.begin(), t.end(), to);
        if (begin >= end) continue;
        const int first = static_cast<int>(begin - t.begin());
        const int last = static_cast<int>(end - t.begin()) - 1;
        const auto file = folder / (stem + "-" + std::to_string(++n) + ".avi");
        const ClipResult clip = writeClip(cam.source, file, first, last);
        if (!clip.ok) return fail(cam.source.string() + ": " + clip.error);
        written.push_back(file);
        MomentClip m;
        m.camera = cam.camera;
        m.file = file;
        // The clip opens on the key frame at or before the first frame asked for.
        m.first = t[static_cast<size_t>(std::clamp(clip.firstFrame, 0, last))];
        m.last = t[static_cast<size_t>(last)];
        m.sha256 = sha256File(file);
        if (m.sha256.empty()) return fail("cannot read " + file.string());
        manifest.push_back({{"camera", m.camera},
                            {"file", file.filename().string()},
                            {"first", momentTimeText(m.first)},
                            {"last", momentTimeText(m.last)},
                            {"sha256", m.sha256}});
        result.clips.push_back(std::move(m));
    }
    result.manifest = folder / (stem + ".json");
    {
        std::ofstream out(result.manifest, std::ios::trunc);
        out << manifest.dump(2) << "\n";
        if (!out) return fail("cannot write " + result.manifest.string());
    }
    result.ok = true;
    return result;
}

}  // namespace fsv::merge
