// bench_media [SECONDS]: makes a 704 x 480 MS-MPEG-4 v2 recording of SECONDS (default 60) at
// 10 frames per second, then measures in the same run:
//   1. frames per second decoded through VideoDecoder (to the 24-bit bottom-up picture) against
//      `ffmpeg -threads 1 -benchmark` decoding the same file (to its own pixel format, and to
//      bgr24 like ours);
//   2. the raw sample read rate of AviReader against one sequential read of the same file.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/AviReader.h"
#include "media/VideoDecoder.h"
#include "sim/Generate.h"

using namespace fsv::media;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// ffmpeg's own "rtime" (seconds of real time) from its -benchmark line.
double ffmpegSeconds(const std::filesystem::path& file, const std::string& output) {
    std::string cmd = "ffmpeg -nostdin -threads 1 -benchmark -i '" + file.string() + "' " + output +
                      " -f null - 2>&1";
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    size_t at = out.find("rtime=");
    return at == std::string::npos ? -1 : std::stod(out.substr(at + 6));
}

}  // namespace

int main(int argc, char** argv) {
    const double length = argc > 1 ? std::stod(argv[1]) : 60;
    const auto dir = std::filesystem::temp_directory_path() / "fsv-bench-media";
    std::filesystem::remove_all(dir);
    fsv::sim::GenerateOptions o;
    o.cameras = 2;  // Cam02 is the 704 x 480 camera
    o.days = 1;
    o.eventsPerDay = 1;
    o.secondsPerEvent = length;
    o.audioChannels = 0;
    std::string error;
    if (!fsv::sim::generateRecordings(dir, o, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto file = dir / "Cam02" / o.lastDay / "080300.avi";
    AviReader reader;
    const int frames = reader.open(file, false);
    if (frames == 0) return 1;
    std::printf("file: %s, %d frames, %.1f MB\n", file.c_str(), frames,
                std::filesystem::file_size(file) / 1e6);

    // 1. Decoding.
    std::vector<std::vector<uint8_t>> samples;
    for (int i = 0; i < frames; ++i) samples.push_back(*reader.videoSample(i));
    VideoDecoder d;
    auto format = *reader.videoFormat();
    auto out = BitmapInfoHeader::rgb24(format.width, format.height);
    std::vector<uint8_t> bits(out.sizeImage);
    if (!d.open(reader.streamInfo(reader.videoIndex()).fccHandler) || !d.begin(format, out))
        return 1;
    auto start = Clock::now();
    int failed = 0;
    for (int i = 0; i < frames; ++i)
        failed +=
            !d.decompress(samples[i], bits.data(),
                          kDecompressHurryUp | (reader.isKeyFrame(i) ? 0 : kDecompressNotKeyFrame));
    const double ours = seconds(start);
    const double theirs = ffmpegSeconds(file, "");
    const double theirsBgr = ffmpegSeconds(file, "-pix_fmt bgr24");
    std::printf("decode  VideoDecoder (to bgr24, bottom-up): %8.1f frames/s (%d failed)\n",
                frames / ours, failed);
    std::printf("decode  ffmpeg -threads 1 (own format):     %8.1f frames/s  ratio %.2f\n",
                frames / theirs, theirs / ours);
    std::printf("decode  ffmpeg -threads 1 -pix_fmt bgr24:   %8.1f frames/s  ratio %.2f\n",
                frames / theirsBgr, theirsBgr / ours);

    // 2. Raw sample reads (the file is in the page cache after the first pass).
    const int rounds = 20;
    std::vector<uint8_t> buffer(4 << 20);
    uint64_t bytes = 0;
    start = Clock::now();
    for (int r = 0; r < rounds; ++r)
        for (int i = 0; i < frames; ++i) {
            size_t n = 0;
            reader.readVideoSample(i, buffer.data(), buffer.size(), &n);
            bytes += n;
        }
    const double sampleTime = seconds(start);
    uint64_t fileBytes = 0;
    start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        std::FILE* f = std::fopen(file.c_str(), "rb");
        for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) fileBytes += n;
        std::fclose(f);
    }
    const double fileTime = seconds(start);
    std::printf("read    AviReader samples:     %8.1f MB/s (%.1f MB)\n", bytes / sampleTime / 1e6,
                bytes / 1e6);
    std::printf("read    one sequential read:   %8.1f MB/s (%.1f MB)  ratio %.2f\n",
                fileBytes / fileTime / 1e6, fileBytes / 1e6,
                (bytes / sampleTime) / (fileBytes / fileTime));
    std::filesystem::remove_all(dir);
    return 0;
}
