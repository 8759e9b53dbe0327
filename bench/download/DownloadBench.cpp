// How much the session's one-block hand-off costs a file download: the whole path (recorder
// thread -> routing by cookie -> one buffered block -> the stream thread's write) against the
// stream thread's own part alone (writing the same blocks to a file). Compare the bytes per
// second of the two; the ratio is what the hand-off and the thread switches cost per block.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "FakeRecorderLink.h"
#include "platform/ScriptedUserPort.h"

namespace fs = std::filesystem;
using namespace fsv;
using namespace fsv::download;

namespace {

constexpr size_t kRecording = 8 << 20;

fs::path scratch() {
    auto dir = fs::temp_directory_path() / ("fsv_bench_download_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

// The recording: a RIFF AVI head and varied bytes.
std::vector<uint8_t> recording() {
    std::vector<uint8_t> v(kRecording);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 31 + i / 4099);
    return v;
}

void BM_PlainWrite(benchmark::State& state) {
    const size_t block = static_cast<size_t>(state.range(0));
    const auto data = recording();
    const fs::path file = scratch() / "plain.avi";
    for (auto _ : state) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        for (size_t at = 0; at < data.size(); at += block) {
            out.write(reinterpret_cast<const char*>(data.data() + at),
                      static_cast<std::streamsize>(std::min(block, data.size() - at)));
            out.flush();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_FileDownload(benchmark::State& state) {
    const size_t block = static_cast<size_t>(state.range(0));
    const fs::path dir = scratch();
    ScriptedUserPort port;
    port.existingFileAnswer = ExistingFileAnswer::Overwrite;
    WorkList work;
    DownloadContext ctx(port, work);
    ctx.settings.alwaysOverwrite = true;
    ctx.freeSpace = [](const fs::path&) { return std::optional<uint64_t>(1ull << 40); };
    const auto data = recording();
    for (auto _ : state) {
        test::FakeRecorderLink link;
        link.blockSize = block;
        link.recordings["20070101080509001"].bytes = data;
        DownloadSession session(ctx, link);
        link.attach(&session);
        WorkItem item;
        item.queue = QueueKind::File;
        item.action = Action::JustDownload;
        item.channelCode = 1;
        item.eventKey = "20070101080509";
        item.size = data.size();
        item.outputPath = (dir / "download.avi").string();
        session.enqueue(item);
        while (!session.idle()) std::this_thread::sleep_for(std::chrono::microseconds(200));
        session.shutDown();
        link.detach();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

BENCHMARK(BM_PlainWrite)
    ->Arg(4 << 10)
    ->Arg(16 << 10)
    ->Arg(64 << 10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FileDownload)
    ->Arg(4 << 10)
    ->Arg(16 << 10)
    ->Arg(64 << 10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
