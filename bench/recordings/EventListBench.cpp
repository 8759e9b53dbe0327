// The event list at the size of a large installation: 16 recorders × 16 cameras × 365 days ×
// 100 events (9,344,000 events). Measures the heap bytes per event and the time to select one
// period of one camera, against a plain vector of records holding the same data.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Shared.h"
#include "recordings/EventList.h"

namespace {

constexpr int kRecorders = 16, kCameras = 16, kDays = 365, kEventsPerDay = 100;
constexpr size_t kTotal = size_t{kRecorders} * kCameras * kDays * kEventsPerDay;

// The period selected: one camera, seven days, from noon of the first to noon of the last.
constexpr int kRecorder = 7, kCamera = 3;

// Heap bytes in use, large blocks (mapped on their own) included.
size_t heapInUse() {
    auto m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

std::vector<std::string> dates() {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::vector<std::string> out;
    for (int m = 0; m < 12; ++m)
        for (int d = 1; d <= lengths[m]; ++d) out.push_back(fsv::format("2026%.2d%.2d", m + 1, d));
    return out;
}

std::string timeOf(int e) {
    int s = e * (86400 / kEventsPerDay);
    return fsv::format("%.2d%.2d%.2d", s / 3600, s / 60 % 60, s % 60);
}

const std::vector<std::string>& allDates() {
    static const auto d = dates();
    return d;
}
const std::string& d1() { return allDates()[100]; }
const std::string& d2() { return allDates()[106]; }

struct Built {
    std::unique_ptr<fsv::EventList> list;
    double bytesPerEvent = 0;
};

const Built& eventList() {
    static const Built built = [] {
        Built b;
        const size_t before = heapInUse();
        b.list = std::make_unique<fsv::EventList>();
        auto& list = *b.list;
        std::vector<std::string> times;
        for (int e = 0; e < kEventsPerDay; ++e) times.push_back(timeOf(e));
        std::lock_guard lock(list.lock());
        for (int r = 0; r < kRecorders; ++r) {
            fsv::RecorderInfo info;
            info.name = fsv::format("DVR%d", r);
            info.address = fsv::format("10.0.0.%d", r + 1);
            list.rebuildRecorder(-1, info);
            for (int c = 0; c < kCameras; ++c) {
                list.addChannel(r, fsv::format("Cam%d", c + 1), fsv::cameraNumber(c + 1), false);
                for (int d = 0; d < kDays; ++d) {
                    int dp = list.addDay(r, c, allDates()[d], 0, false);
                    list.reserveEvents(r, c, dp, kEventsPerDay);
                    for (int e = 0; e < kEventsPerDay; ++e)
                        list.addEvent(r, c, dp, times[e], 1000000u + e, false);
                }
            }
        }
        b.bytesPerEvent = static_cast<double>(heapInUse() - before) / kTotal;
        return b;
    }();
    return built;
}

// The same data as plain records in one vector.
struct PlainEvent {
    int16_t recorder, channel;
    char date[9];
    char time[7];
    uint32_t size;
    int32_t mark;
};

struct BuiltPlain {
    std::vector<PlainEvent> events;
    double bytesPerEvent = 0;
};

const BuiltPlain& plain() {
    static const BuiltPlain built = [] {
        BuiltPlain b;
        const size_t before = heapInUse();
        b.events.reserve(kTotal);
        for (int r = 0; r < kRecorders; ++r)
            for (int c = 0; c < kCameras; ++c)
                for (int d = 0; d < kDays; ++d)
                    for (int e = 0; e < kEventsPerDay; ++e) {
                        PlainEvent p{};
                        p.recorder = static_cast<int16_t>(r);
                        p.channel = static_cast<int16_t>(c);
                        std::memcpy(p.date, allDates()[d].c_str(), 9);
                        std::memcpy(p.time, timeOf(e).c_str(), 7);
                        p.size = 1000000u + e;
                        b.events.push_back(p);
                    }
        b.bytesPerEvent = static_cast<double>(heapInUse() - before) / kTotal;
        return b;
    }();
    return built;
}

void SelectPeriod_EventList(benchmark::State& state) {
    auto& built = eventList();
    auto& list = *built.list;
    int selected = 0;
    for (auto _ : state) {
        auto res = list.selectInPeriod(kRecorder, kCamera, d1(), "120000", d2(), "120000");
        selected = res.selected;
        state.PauseTiming();
        list.clearMarks(fsv::kMarkSelected);
        state.ResumeTiming();
    }
    state.counters["selected"] = selected;
    state.counters["events"] = static_cast<double>(list.eventCount());
    state.counters["bytes_per_event"] = built.bytesPerEvent;
}

void SelectPeriod_PlainVector(benchmark::State& state) {
    auto& built = const_cast<BuiltPlain&>(plain());
    int selected = 0;
    std::vector<PlainEvent*> marked;
    for (auto _ : state) {
        selected = 0;
        marked.clear();
        for (auto& p : built.events) {
            if (p.recorder != kRecorder || p.channel != kCamera) continue;
            if (std::strcmp(p.date, d1().c_str()) < 0 || std::strcmp(p.date, d2().c_str()) > 0)
                continue;
            if (p.date == d1() && std::strcmp(p.time, "120000") < 0) continue;
            if (p.date == d2() && std::strcmp(p.time, "120000") > 0) continue;
            if (p.mark == 0) {
                p.mark = 1;
                marked.push_back(&p);
                ++selected;
            }
        }
        benchmark::DoNotOptimize(selected);
        state.PauseTiming();
        for (auto* p : marked) p->mark = 0;
        state.ResumeTiming();
    }
    state.counters["selected"] = selected;
    state.counters["events"] = static_cast<double>(built.events.size());
    state.counters["bytes_per_event"] = built.bytesPerEvent;
}

}  // namespace

BENCHMARK(SelectPeriod_EventList)->Unit(benchmark::kMicrosecond);
BENCHMARK(SelectPeriod_PlainVector)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
