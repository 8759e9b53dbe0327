// The event list window over a large recorder: 1,000,000 events over 16 cameras and 365 days.
// Measures the time from an empty window to the tree shown with its channels, and to one day
// expanded (its events laid out), and the heap the window adds over the event list's own.
// Run offscreen: QT_QPA_PLATFORM=offscreen bench_event_tree

#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeView>
#include <cstdio>

#include "platform/Shared.h"
#include "recordings/EventList.h"
#include "ui/lists/EventListWindow.h"

namespace {

constexpr int kCameras = 16, kDays = 365, kEvents = 1'000'000;

size_t heapInUse() {
    auto m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void build(fsv::EventList& list) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    fsv::RecorderInfo info;
    info.name = "Big";
    info.address = "127.0.0.1";
    const int r = list.rebuildRecorder(-1, info);
    const int perDay = kEvents / (kCameras * kDays);
    int extra = kEvents - perDay * kCameras * kDays;  // the first days get one more
    for (int c = 0; c < kCameras; ++c) {
        list.addChannel(r, fsv::format("Camera %d", c + 1), c, false);
        int d = 0;
        for (int m = 0; m < 12; ++m)
            for (int day = 1; day <= lengths[m]; ++day, ++d) {
                list.addDay(r, c, fsv::format("2026%.2d%.2d", m + 1, day), 0, false);
                const int n = perDay + (extra > 0 ? 1 : 0);
                if (extra > 0) --extra;
                list.reserveEvents(r, c, d, static_cast<size_t>(n));
                for (int e = 0; e < n; ++e) {
                    const int s = e * (86400 / n);
                    list.addEvent(r, c, d,
                                  fsv::format("%.2d%.2d%.2d", s / 3600, s / 60 % 60, s % 60), 1000,
                                  false);
                }
            }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    fsv::EventList list;
    const size_t before = heapInUse();
    build(list);
    const size_t core = heapInUse() - before;

    const size_t beforeWindow = heapInUse();
    QElapsedTimer t;
    t.start();
    fsv::ui::EventListWindow window(list, nullptr);
    window.show();
    app.processEvents();
    auto& tree = window.tree();
    auto& model = window.model();
    const QModelIndex cam = model.index(7, 0, tree.rootIndex());
    tree.expand(cam);
    app.processEvents();
    const qint64 shown = t.nsecsElapsed();
    const QModelIndex day = model.index(200, 0, cam);
    tree.expand(day);
    tree.scrollTo(model.index(model.rowCount(day) - 1, 0, day));
    tree.repaint();
    app.processEvents();
    const qint64 expanded = t.nsecsElapsed();
    const size_t view = heapInUse() - beforeWindow;

    std::printf("events                      %zu\n", list.eventCount());
    std::printf("rows of the expanded day    %d\n", model.rowCount(day));
    std::printf("tree shown (camera opened)  %.1f ms\n", static_cast<double>(shown) / 1e6);
    std::printf("a day expanded, drawn       %.1f ms (total)\n",
                static_cast<double>(expanded) / 1e6);
    std::printf("core index heap             %.1f MB\n", static_cast<double>(core) / 1e6);
    std::printf("window heap (model + view)  %.1f MB (%.3f x core)\n",
                static_cast<double>(view) / 1e6,
                static_cast<double>(view) / static_cast<double>(core));
    std::printf("model's opened nodes        %.1f kB\n",
                static_cast<double>(model.memoryUsed()) / 1e3);
    return 0;
}
