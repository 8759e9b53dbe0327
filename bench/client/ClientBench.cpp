// Frame slots and notifications, run by hand:
//   bench_client [--benchmark_filter=...]
// Draw: a 704 × 480 bottom-up 24-bit picture (a stream's) through the stream threads' display
// into a slot, converted there, and taken out by the front end (copied once more, as a paint
// reads it), against plain memcpy of the 32-bit picture's bytes, once and twice. Notification:
// one push and one drain, alone and in batches of 64.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "client/FrameSlot.h"
#include "client/Notifications.h"

using namespace fsv::client;

namespace {

constexpr int kW = 704, kH = 480;
constexpr size_t kBytes = size_t{kW} * kH * 4;

void PlainMemcpyOnce(benchmark::State& state) {
    std::vector<uint8_t> source(kBytes, 0x5A), target(kBytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), kBytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBytes));
}
BENCHMARK(PlainMemcpyOnce);

void PlainMemcpyTwice(benchmark::State& state) {
    std::vector<uint8_t> source(kBytes, 0x5A), middle(kBytes), target(kBytes);
    for (auto _ : state) {
        std::memcpy(middle.data(), source.data(), kBytes);
        std::memcpy(target.data(), middle.data(), kBytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBytes));
}
BENCHMARK(PlainMemcpyTwice);

void SlotDrawFromBottomUp24(benchmark::State& state) {
    std::vector<uint8_t> decoded(size_t{kW} * 3 * kH, 0x5A), screen(kBytes);
    NotificationQueue queue;
    FrameSlots slots(1);
    SlotDisplay display(slots, queue);
    for (auto _ : state) {
        display.draw(0, kW, kH, decoded);
        slots.slot(0)->takeNewest(
            [&](const Picture& front) { std::memcpy(screen.data(), front.bits.data(), kBytes); });
        queue.drain([](Notification&) {});
        benchmark::DoNotOptimize(screen.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SlotDrawFromBottomUp24);

void NotificationPushDrain(benchmark::State& state) {
    const int batch = static_cast<int>(state.range(0));
    NotificationQueue queue([] {});
    int64_t seen = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) queue.push(PanelsChanged{i});
        queue.drain([&](Notification& n) { seen += std::get<PanelsChanged>(n).panel; });
    }
    benchmark::DoNotOptimize(seen);
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(NotificationPushDrain)->Arg(1)->Arg(64);

}  // namespace
