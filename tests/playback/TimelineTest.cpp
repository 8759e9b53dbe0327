// The timeline's rows and spans, and its window onto time.
#include <gtest/gtest.h>

#include "recordings/EventList.h"
#include "recordings/playback/SyncClock.h"
#include "recordings/playback/Timeline.h"

using namespace fsv;
using namespace fsv::playback;

namespace {

int64_t at(int d, int h, int m, int s) {
    SystemTime t;
    t.year = 2026, t.month = 12, t.day = static_cast<uint16_t>(d);
    t.hour = static_cast<uint16_t>(h), t.minute = static_cast<uint16_t>(m);
    t.second = static_cast<uint16_t>(s);
    return stampMs(t);
}

TEST(TimelineModelTest, RowsFromTheEventListAndTheLocalFiles) {
    EventList list;
    const int r = list.rebuildRecorder(-1, RecorderInfo{1, "Yard DVR", "127.0.0.1", "", "", ""});
    const int gate = list.addChannel(r, "Gate", cameraNumber(1), false);
    list.addChannel(r, "Mic", audioNumber(1), true);  // no row: not a camera
    const int yard = list.addChannel(r, "Yard", cameraNumber(2), false);
    const int d1 = list.addDay(r, gate, "20261201", 0);
    list.addEvent(r, gate, d1, "090000", 100);
    list.addEvent(r, gate, d1, "080000", 100);  // listed out of order: drawn in order
    const int d2 = list.addDay(r, yard, "20261202", 0);
    list.addEvent(r, yard, d2, "235959", 100);

    TimelineModel model;
    model.setRecorder(list, r);
    model.setLocal({{2, "3. Local File", at(1, 8, 30, 0), at(1, 8, 31, 0)}});
    const auto rows = model.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].label, "Yard DVR Gate");
    EXPECT_EQ(rows[1].label, "Yard DVR Yard");
    EXPECT_EQ(rows[2].label, "3. Local File");
    ASSERT_EQ(rows[0].spans.size(), 2u);
    EXPECT_EQ(rows[0].spans[0].start, at(1, 8, 0, 0));
    EXPECT_FALSE(rows[0].spans[0].end);  // length unknown: a start mark
    EXPECT_EQ(rows[0].spans[0].event, (EventRef{r, gate, d1, 1}));
    EXPECT_EQ(rows[1].spans[0].start, at(2, 23, 59, 59));
    EXPECT_EQ(rows[2].spans[0].end, at(1, 8, 31, 0));
    EXPECT_EQ(model.extent(), std::make_pair(at(1, 8, 0, 0), at(2, 23, 59, 59)));

    // What a click hits: inside a local file's extent; a start mark within reach, the nearest.
    const struct {
        int row;
        int64_t t;
        std::optional<int64_t> start;
    } clicks[] = {
        {2, at(1, 8, 30, 30), at(1, 8, 30, 0)}, {2, at(1, 8, 32, 0), std::nullopt},
        {0, at(1, 8, 0, 20), at(1, 8, 0, 0)},   {0, at(1, 8, 5, 0), std::nullopt},
        {0, at(1, 8, 59, 50), at(1, 9, 0, 0)},  {7, at(1, 8, 0, 0), std::nullopt},
    };
    for (const auto& c : clicks) {
        const auto s = model.spanAt(c.row, c.t, 30'000);
        EXPECT_EQ(s ? std::optional<int64_t>(s->start) : std::nullopt, c.start) << c.row;
    }
    EXPECT_EQ(model.spanAt(2, at(1, 8, 30, 30), 0)->position, 2);

    model.setRecorder(list, -1);
    EXPECT_EQ(model.rows().size(), 1u);
}

TEST(TimelineWindowTest, ZoomsBetweenADayAndSecondsAndPans) {
    TimelineWindow w;
    w.setWidth(1000);
    w.fit(at(1, 8, 0, 0), at(1, 9, 0, 0));
    EXPECT_LT(w.xOf(at(1, 8, 0, 0)), 100);
    EXPECT_GT(w.xOf(at(1, 9, 0, 0)), 900);
    // The time under the mouse stays under it.
    const int64_t under = w.timeAt(250);
    w.zoom(0.5, 250);
    EXPECT_NEAR(static_cast<double>(w.timeAt(250)), static_cast<double>(under), 2.0);
    for (int i = 0; i < 40; ++i) w.zoom(0.5, 500);
    EXPECT_EQ(w.span(), TimelineWindow::kMinSpan);
    for (int i = 0; i < 40; ++i) w.zoom(2, 500);
    EXPECT_EQ(w.span(), TimelineWindow::kMaxSpan);
    const int64_t start = w.start();
    w.pan(100);  // a tenth of the width later
    EXPECT_EQ(w.start(), start + TimelineWindow::kMaxSpan / 10);
    w.show(at(1, 8, 0, 0), 60'000);
    w.reveal(at(1, 8, 2, 0));
    EXPECT_EQ(w.start() + w.span(), at(1, 8, 2, 0));
    EXPECT_EQ(w.timeAt(static_cast<int>(w.xOf(at(1, 8, 1, 30)))), at(1, 8, 1, 30));
}

}  // namespace
