// File downloads through the whole stack: recorder-sim in-process -> loopback TCP -> the
// recorder session -> one download stream per camera -> the file on disk. Measured in the same
// run against a plain loopback socket pair carrying the same bytes in the same blocks (with the
// receiver writing to a file, and without), so the ratios show where the time goes.
//
//   bench_download_stack            one 200 MB recording, then 16 cameras x 12 MB at once
//   FSV_BENCH_MB=20                 shrinks the single recording (MB)
//   FSV_BENCH_CAMERA_MB=4           shrinks each of the 16 cameras' recordings (MB)
//   FSV_BENCH_ROUNDS=5              rounds of each comparison (median shown)
//
// Sixteen cameras of one recorder session go through its one file queue, one after another;
// sixteen sessions (one connection per camera) download side by side.
//
// Prints a small table; exits non-zero when a downloaded file differs from its recording.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "recordings/download/SessionBinding.h"
#include "sim/Server.h"

namespace fs = std::filesystem;
using namespace fsv;
using namespace fsv::download;
using Steady = std::chrono::steady_clock;

namespace {

// The block recorder-sim sends a file in.
constexpr size_t kBlock = 16 * 1024;
constexpr int kCameras = 16;
constexpr const char* kDate = "20260101";
constexpr const char* kTime = "120000";

// Processor time of the whole process (every thread, user and system), seconds.
double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double elapsed(Steady::time_point since) {
    return std::chrono::duration<double>(Steady::now() - since).count();
}

size_t envMegabytes(const char* name, size_t fallback) {
    const char* v = std::getenv(name);
    const long n = v ? std::strtol(v, nullptr, 10) : 0;
    return n > 0 ? static_cast<size_t>(n) : fallback;
}

// A recording of varied bytes (every camera's differs), written block by block.
void writeRecording(const fs::path& path, size_t size, unsigned seed) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> block(kBlock);
    uint32_t x = 2463534242u ^ (seed * 2654435761u);
    for (size_t at = 0; at < size; at += block.size()) {
        const size_t n = std::min(block.size(), size - at);
        for (size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            block[i] = static_cast<uint8_t>(x);
        }
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    }
}

bool sameBytes(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount()) return false;
        if (std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0) return false;
    }
    return fa.eof() && fb.eof();
}

// Resident memory now (kB), from /proc/self/status.
long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

// Samples resident memory while a run lasts; keeps the highest.
class RssSampler {
  public:
    RssSampler() : base_(residentKb()), peak_(base_) {
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                peak_.store(std::max(peak_.load(), residentKb()));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~RssSampler() { finish(); }
    void finish() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    long growthKb() const { return peak_.load() - base_; }

  private:
    long base_;
    std::atomic<long> peak_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// ---- the baseline: a plain socket pair on 127.0.0.1 -------------------------------------------

// Sends the recording's bytes in kBlock pieces (read from the file, as the recorder does) to a
// receiver that writes them to `out` (or drops them when `out` is empty). Seconds taken.
double rawLoopback(const fs::path& source, const fs::path& out, double* cpu = nullptr) {
    const double cpuStart = cpuSeconds();
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("loopback listener");
        std::exit(2);
    }
    const auto start = Steady::now();
    std::thread sender([&] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            std::perror("loopback connect");
            std::exit(2);
        }
        std::FILE* f = std::fopen(source.c_str(), "rb");
        std::vector<uint8_t> block(kBlock);
        for (;;) {
            const size_t n = std::fread(block.data(), 1, block.size(), f);
            if (n == 0) break;
            for (size_t sent = 0; sent < n;) {
                const ssize_t k = ::send(fd, block.data() + sent, n - sent, MSG_NOSIGNAL);
                if (k <= 0) break;
                sent += static_cast<size_t>(k);
            }
        }
        std::fclose(f);
        ::close(fd);
    });
    const int fd = ::accept(listener, nullptr, nullptr);
    const int file = out.empty() ? -1 : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<uint8_t> block(kBlock);
    for (;;) {
        // One block at a time, as the stream takes them.
        size_t got = 0;
        while (got < block.size()) {
            const ssize_t k = ::recv(fd, block.data() + got, block.size() - got, 0);
            if (k <= 0) break;
            got += static_cast<size_t>(k);
        }
        if (got == 0) break;
        if (file >= 0 && ::write(file, block.data(), got) != static_cast<ssize_t>(got)) {
            std::perror("loopback write");
            std::exit(2);
        }
        if (got < block.size()) break;
    }
    if (file >= 0) ::close(file);
    const double taken = elapsed(start);
    sender.join();
    ::close(fd);
    ::close(listener);
    if (cpu) *cpu = cpuSeconds() - cpuStart;
    return taken;
}

// ---- the whole stack -----------------------------------------------------------------------

struct StackRun {
    double seconds = 0;
    double cpu = 0;                      // processor seconds, recorder-sim's included
    double firstDone = 0, lastDone = 0;  // when the first and the last file finished
    int finished = 0;
    long rssGrowthKb = 0;
};

// Downloads camera 1..`cameras`'s recording of kDate/kTime from an in-process recorder-sim into
// `outDir` in file mode, every camera's item queued at once: all in one session's file queue,
// or with `perCamera` in a session (and connection) of its own each.
StackRun downloadThroughStack(const fs::path& recordings, const fs::path& outDir, int cameras,
                              bool perCamera = false) {
    sim::ServerOptions options;
    options.port = 0;
    options.recordings = recordings;
    sim::Server server(options);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "recorder-sim: %s\n", error.c_str());
        std::exit(2);
    }
    ScriptedUserPort user;
    user.existingFileAnswer = ExistingFileAnswer::Overwrite;
    net::ConnectionManager transport;
    const int sessions = perCamera ? cameras : 1;
    std::vector<std::unique_ptr<net::HeadlessConnection>> connections;
    for (int i = 0; i < sessions; ++i) {
        connections.push_back(std::make_unique<net::HeadlessConnection>(transport, user));
        ConnectRequest request;
        request.address = "127.0.0.1";
        request.port = server.port();
        if (!connections.back()->open(request)) {
            std::fprintf(stderr, "connect: %s\n", connections.back()->error().c_str());
            std::exit(2);
        }
    }

    WorkList work;
    DownloadContext ctx(user, work);
    ctx.settings.alwaysOverwrite = true;
    ctx.settings.pacing = false;
    StackRun run;
    std::mutex lock;
    Steady::time_point start;
    work.setListener([&](const WorkRow& row) {
        if (row.state != RowState::Finished) return;
        std::lock_guard guard(lock);
        const double at = elapsed(start);
        if (run.finished++ == 0) run.firstDone = at;
        run.lastDone = at;
    });
    fs::create_directories(outDir);
    {
        std::vector<std::unique_ptr<SessionDownloads>> downloads;
        for (auto& c : connections)
            downloads.push_back(std::make_unique<SessionDownloads>(ctx, *c->session()));
        RssSampler rss;
        const double cpuStart = cpuSeconds();
        start = Steady::now();
        for (int c = 1; c <= cameras; ++c) {
            WorkItem item;
            item.queue = QueueKind::File;
            item.action = Action::JustDownload;
            item.channelCode = static_cast<uint16_t>(c);
            item.eventKey = std::string(kDate) + kTime;
            item.size = fs::file_size(recordings / fsv::format("Cam%02d", c) / kDate /
                                      (std::string(kTime) + ".avi"));
            item.outputPath = (outDir / fsv::format("cam%02d.avi", c)).string();
            downloads[perCamera ? c - 1 : 0]->downloads().enqueue(item);
        }
        auto idle = [&] {
            for (auto& d : downloads)
                if (!d->downloads().idle()) return false;
            return true;
        };
        while (!idle()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        run.seconds = elapsed(start);
        run.cpu = cpuSeconds() - cpuStart;
        rss.finish();
        run.rssGrowthKb = rss.growthKb();
        work.setListener({});
    }
    for (auto& c : connections) c->close();
    server.stop();
    return run;
}

bool verify(const fs::path& recordings, const fs::path& outDir, int cameras) {
    bool ok = true;
    for (int c = 1; c <= cameras; ++c) {
        const fs::path got = outDir / fsv::format("cam%02d.avi", c);
        if (!sameBytes(
                recordings / fsv::format("Cam%02d", c) / kDate / (std::string(kTime) + ".avi"),
                got)) {
            std::fprintf(stderr, "MISMATCH: %s differs from camera %d's recording\n", got.c_str(),
                         c);
            ok = false;
        }
    }
    return ok;
}

double mbps(size_t bytes, double secs) { return secs > 0 ? bytes / 1e6 / secs : 0; }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace

int main() {
    const size_t single = envMegabytes("FSV_BENCH_MB", 200) << 20;
    const size_t perCamera = envMegabytes("FSV_BENCH_CAMERA_MB", 12) << 20;
    const fs::path dir =
        fs::temp_directory_path() / ("fsv_bench_stack_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup{dir};

    bool ok = true;
    std::printf(
        "block %zu bytes; single recording %zu MB; %d cameras x %zu MB; load average %s\n\n",
        kBlock, single >> 20, kCameras, perCamera >> 20, loadAverage().c_str());
    std::printf("%-44s %10s %10s %8s\n", "scenario", "seconds", "MB/s", "ratio");

    // One recording: baseline loopback (no write, write) against the whole stack, in rounds
    // that take turns, so that a machine busy with other work weighs on all three alike.
    const fs::path one = dir / "one";
    const fs::path source = one / "Cam01" / kDate / (std::string(kTime) + ".avi");
    writeRecording(source, single, 1);
    const int rounds = static_cast<int>(envMegabytes("FSV_BENCH_ROUNDS", 3));
    std::vector<double> noWriteTimes, writeTimes, stackTimes, ratios, rawCpu, stackCpu;
    StackRun stack;
    for (int round = 0; round < rounds; ++round) {
        noWriteTimes.push_back(rawLoopback(source, {}));
        double cpu = 0;
        writeTimes.push_back(rawLoopback(source, dir / "raw.avi", &cpu));
        rawCpu.push_back(cpu);
        if (!sameBytes(source, dir / "raw.avi")) {
            std::fprintf(stderr, "MISMATCH: the loopback baseline's copy differs\n");
            ok = false;
        }
        fs::remove(dir / "raw.avi");
        stack = downloadThroughStack(one, dir / "out-one", 1);
        ok = verify(one, dir / "out-one", 1) && ok;
        fs::remove_all(dir / "out-one");
        stackTimes.push_back(stack.seconds);
        stackCpu.push_back(stack.cpu);
        ratios.push_back(writeTimes.back() / stack.seconds);
    }
    const double rawNoWrite = median(noWriteTimes), rawWrite = median(writeTimes);
    const double stackRate = mbps(single, median(stackTimes));
    const double rawRate = mbps(single, rawWrite);
    std::printf("%-44s %10.3f %10.1f %8s\n", "loopback TCP, receiver drops the bytes", rawNoWrite,
                mbps(single, rawNoWrite), "");
    std::printf("%-44s %10.3f %10.1f %8s\n", "loopback TCP, receiver writes the file", rawWrite,
                rawRate, "1.00");
    std::printf("%-44s %10.3f %10.1f %8.2f\n", "whole stack, 1 stream (mode 11)",
                median(stackTimes), stackRate, median(ratios));
    std::printf("%-44s %10s %10s %8.2f\n", "  (stack vs loopback without writing)", "", "",
                stackRate / mbps(single, rawNoWrite));
    std::string each;
    for (double r : ratios) each += fsv::format(" %.2f", r);
    std::printf("  ratio per round (median above):%s\n", each.c_str());
    const double blocks = static_cast<double>(single) / kBlock;
    std::printf("  processor time per block: loopback with writing %.1f us, whole stack %.1f us\n",
                median(rawCpu) / blocks * 1e6, median(stackCpu) / blocks * 1e6);

    // Sixteen cameras of one recorder at once, against one camera of the same size alone. The
    // rounds take turns with the loopback baseline (writing the single recording), as above.
    const fs::path many = dir / "many";
    for (int c = 1; c <= kCameras; ++c)
        writeRecording(many / fsv::format("Cam%02d", c) / kDate / (std::string(kTime) + ".avi"),
                       perCamera, static_cast<unsigned>(c));
    const StackRun alone = downloadThroughStack(many, dir / "out-alone", 1);
    ok = verify(many, dir / "out-alone", 1) && ok;
    fs::remove_all(dir / "out-alone");
    const size_t total = perCamera * kCameras;
    StackRun all, apart;
    std::vector<double> allRatios, apartRatios, allSeconds, apartSeconds;
    for (int round = 0; round < rounds; ++round) {
        const double base = rawLoopback(source, dir / "raw.avi");
        fs::remove(dir / "raw.avi");
        all = downloadThroughStack(many, dir / "out-many", kCameras);
        ok = verify(many, dir / "out-many", kCameras) && ok && all.finished == kCameras;
        fs::remove_all(dir / "out-many");
        apart = downloadThroughStack(many, dir / "out-apart", kCameras, true);
        ok = verify(many, dir / "out-apart", kCameras) && ok && apart.finished == kCameras;
        fs::remove_all(dir / "out-apart");
        allSeconds.push_back(all.seconds);
        apartSeconds.push_back(apart.seconds);
        allRatios.push_back(mbps(total, all.seconds) / mbps(single, base));
        apartRatios.push_back(mbps(total, apart.seconds) / mbps(single, base));
    }
    fs::remove_all(one);
    std::printf("%-44s %10.3f %10.1f %8s\n", "whole stack, 1 camera alone", alone.seconds,
                mbps(perCamera, alone.seconds), "");
    for (const auto& [name, r, seconds, ratioList] :
         {std::tuple{"16 cameras, one session's file queue", &all, &allSeconds, &allRatios},
          std::tuple{"16 cameras, a session each, at once", &apart, &apartSeconds, &apartRatios}}) {
        const double secs = median(*seconds);
        std::printf("%-44s %10.3f %10.1f %8.2f\n", name, secs, mbps(total, secs),
                    median(*ratioList));
        std::string list;
        for (double v : *ratioList) list += fsv::format(" %.2f", v);
        std::printf("  ratio per round (median above):%s\n", list.c_str());
        std::printf("%-44s %10.3f %10s %8s\n", "  first file finished after (last round)",
                    r->firstDone, "", "");
        std::printf("%-44s %10.3f %10s %8s\n", "  last file finished after", r->lastDone, "", "");
    }
    std::printf(
        "(ratios of the 16-camera rows: total MB/s against the loopback with writing in the same "
        "round)\n");

    // Memory: resident growth while the streams run (recorder-sim's side included).
    std::printf(
        "\nresident memory growth: 1 stream %ld kB, %d streams %ld kB; per extra stream "
        "%.0f kB\n",
        alone.rssGrowthKb, kCameras, all.rssGrowthKb,
        static_cast<double>(all.rssGrowthKb - alone.rssGrowthKb) / (kCameras - 1));
    std::printf("files finished: %d and %d of %d; downloads %s\n", all.finished, apart.finished,
                kCameras, ok ? "byte-identical" : "DIFFER");
    std::printf("load average at the end: %s\n", loadAverage().c_str());
    return ok && all.finished == kCameras && apart.finished == kCameras && stack.finished == 1 ? 0
                                                                                               : 1;
}
