// bench_framestamp [SECONDS]: makes a 704 x 480 MS-MPEG-4 v2 recording of SECONDS (default
// 160, about 1,600 frames at 10 frames per second), then in the same run:
//   1. exports it with StampExport (date and time drawn on every frame, re-encoded as MS-MPEG-4
//      v2 at 30 frames per second with the gaps as empty positions) and splits the time into
//      decoding, drawing, encoding and writing;
//   2. runs `ffmpeg -threads 1` on the same file with the drawtext filter (a date and the
//      frame's time, bottom-left) and the same encoder and quality, writing an AVI file too;
// and prints both with the ratio ffmpeg time / our time (above 1: we are faster).
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "framestamp/StampExport.h"
#include "media/AviReader.h"
#include "media/VideoEncoder.h"
#include "sim/Generate.h"

using namespace fsv;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double threadSeconds(clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Times {
    double real = -1, user = -1;
};

// ffmpeg's own "rtime" (real) and "utime" (processor time) from its -benchmark line.
Times ffmpegSeconds(const std::string& args) {
    std::string cmd = "ffmpeg -nostdin -hide_banner -benchmark " + args + " 2>&1";
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return {};
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int rc = ::pclose(p);
    const size_t r = out.find("rtime="), u = out.find("utime="), s = out.find("stime=");
    if (rc != 0 || r == std::string::npos || u == std::string::npos || s == std::string::npos) {
        std::fprintf(stderr, "ffmpeg failed:\n%s\n", out.c_str());
        return {};
    }
    return {std::stod(out.substr(r + 6)),
            std::stod(out.substr(u + 6)) + std::stod(out.substr(s + 6))};
}

}  // namespace

int main(int argc, char** argv) {
    const double length = argc > 1 ? std::stod(argv[1]) : 160;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const auto dir = std::filesystem::temp_directory_path() / "fsv-bench-framestamp";
    std::filesystem::remove_all(dir);
    sim::GenerateOptions o;
    o.cameras = 2;  // Cam02 is the 704 x 480 camera
    o.days = 1;
    o.eventsPerDay = 1;
    o.secondsPerEvent = length;
    o.audioChannels = 0;
    std::string error;
    if (!sim::generateRecordings(dir, o, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto file = dir / "Cam02" / o.lastDay / "080300.avi";
    media::AviReader reader;
    const int frames = reader.open(file, true);
    if (frames == 0) return 1;
    std::printf("input: %s, %d frames of %dx%d, %.1f MB\n", file.c_str(), frames,
                reader.videoFormat()->width, reader.videoFormat()->height,
                std::filesystem::file_size(file) / 1e6);

    // 1. Our export; the better of three runs, as for ffmpeg below (the machine may be busy
    // with other work).
    framestamp::StampExport job;
    const auto ours = dir / "ours.avi";
    double oursTime = -1, oursCpu = -1;
    framestamp::ExportTimes t;
    for (int k = 0; k < 3; ++k) {
        auto start = Clock::now();
        // Both threads of the export (reading and drawing; compressing and writing).
        const double cpuStart = threadSeconds(CLOCK_PROCESS_CPUTIME_ID);
        if (job.run(file, ours, {}) != framestamp::ExportResult::Finished) {
            std::fprintf(stderr, "export failed: %s\n", job.error().c_str());
            return 1;
        }
        const double real = seconds(start);
        const double cpu = threadSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
        if (oursCpu < 0 || cpu < oursCpu) oursCpu = cpu, oursTime = real, t = job.times();
    }

    // Encoding alone, on the same pictures, to tell it from writing.
    media::VideoEncoder enc;
    const int w = reader.videoFormat()->width, h = reader.videoFormat()->height;
    enc.open(media::VideoCodec::MsMpeg4v2, w, h, framestamp::kFramesPerSecond, 12, 3);
    reader.setPlanarFrames(true);
    std::vector<uint8_t> packet;
    double encodeOnly = 0;
    for (int i = 0; i < frames; ++i) {
        auto pic = reader.getPlanarFrame(i);
        auto dst = enc.picture();
        if (!pic || !dst.data[0]) return 1;
        for (int k = 0; k < 3; ++k)
            for (int y = 0; y < (k ? h / 2 : h); ++y)
                std::memcpy(dst.data[k] + y * dst.stride[k], pic->data[k] + y * pic->stride[k],
                            k ? w / 2 : w);
        bool key = false;
        const double s = threadSeconds();
        enc.encode(packet, key);
        encodeOnly += threadSeconds() - s;
    }
    const double write = std::max(0.0, t.encode - encodeOnly);

    // 2. ffmpeg: decode, drawtext, encode with the same encoder and quality, one thread.
    const auto theirs = dir / "ffmpeg.avi";
    const std::string args =
        "-threads 1 -i '" + file.string() +
        "' -filter_threads 1 -vf \"drawtext=text='01/12/26 %{pts\\:hms}':x=1:y=h-th:"
        "fontcolor=black\" -threads 1 -c:v msmpeg4v2 -q:v 3 -g 12 -bf 0 -fps_mode passthrough "
        "-an -y '" +
        theirs.string() + "'";
    // The better of three runs each: the machine may be busy with other work.
    Times theirsTime;
    for (int k = 0; k < 3; ++k) {
        const Times t3 = ffmpegSeconds(args);
        if (t3.user <= 0) return 1;
        if (theirsTime.user < 0 || t3.user < theirsTime.user) theirsTime = t3;
    }

    const double cpu = oursCpu;
    std::printf(
        "ours    StampExport:         %6.2f s processor, %6.2f s real  %7.1f frames/s  "
        "(%lld positions)\n",
        cpu, oursTime, frames / cpu, static_cast<long long>(job.positions()));
    std::printf("          decode + time stamps %6.2f s  %4.1f%%\n", t.read, 100 * t.read / cpu);
    std::printf("          draw (copy + text)   %6.2f s  %4.1f%%\n", t.draw, 100 * t.draw / cpu);
    std::printf("          encode               %6.2f s  %4.1f%%\n", encodeOnly,
                100 * encodeOnly / cpu);
    std::printf("          write                %6.2f s  %4.1f%%\n", write, 100 * write / cpu);
    std::printf("ffmpeg  -threads 1 drawtext: %6.2f s processor, %6.2f s real  %7.1f frames/s\n",
                theirsTime.user, theirsTime.real, frames / theirsTime.user);
    std::printf("ratio   ffmpeg / ours:       %6.2f processor, %6.2f real\n", theirsTime.user / cpu,
                theirsTime.real / oursTime);
    std::printf("sizes   ours %.1f MB, ffmpeg %.1f MB\n", std::filesystem::file_size(ours) / 1e6,
                std::filesystem::file_size(theirs) / 1e6);
    std::filesystem::remove_all(dir);
    return 0;
}
