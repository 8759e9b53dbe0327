#include <gtest/gtest.h>

#include <thread>

#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "recordings/EventList.h"

using namespace fsv;

namespace {

struct Recording : EventListListener {
    std::vector<std::pair<std::string, int>> rows;
    std::vector<SelectionChange> selections;
    std::vector<std::tuple<EventListMessage, intptr_t, intptr_t>> posts;
    std::vector<std::string> titles;
    void rowChanged(const std::string& key, int mark, const std::string&) override {
        rows.emplace_back(key, mark);
    }
    void selectionChanged(const SelectionChange& c) override { selections.push_back(c); }
    void post(EventListMessage m, intptr_t w, intptr_t l) override { posts.emplace_back(m, w, l); }
    void title(const std::string& t) override { titles.push_back(t); }
};

RecorderInfo info(const std::string& name) {
    RecorderInfo i;
    i.name = name;
    i.address = "10.0.0." + std::to_string(name.size());
    return i;
}

// One recorder with one camera and the given days, each with events at the given times.
int addRecorder(EventList& list, const std::string& name,
                const std::vector<std::pair<std::string, std::vector<std::string>>>& days,
                bool audio = false) {
    int r = list.rebuildRecorder(-1, info(name));
    int c = list.addChannel(r, "Cam", audio ? audioNumber(1) : cameraNumber(1), audio);
    for (auto& [date, times] : days) {
        int d = list.addDay(r, c, date, 0);
        for (auto& t : times) list.addEvent(r, c, d, t, 100);
    }
    return r;
}

}  // namespace

TEST(EventKeys, FormatAndParseByFixedPositions) {
    EXPECT_EQ(channelKey(channelId(1, 2)), "1001002");
    EXPECT_EQ(eventKey(7, 0), "0000000000700000");
    EXPECT_EQ(daySerial(1, 2, 3), 10020003);
    EXPECT_EQ(eventKey(daySerial(1, 2, 3), 4), "0001002000300004");
    // Serials of high recorder positions do not fit 32 bits; the key still reads back.
    EXPECT_EQ(eventKey(daySerial(999, 999, 9999), 99999), "0999999999999999");

    struct Case {
        const char* key;
        std::optional<ParsedKey> parsed;
    };
    const Case cases[] = {
        {"1001002", ParsedKey{true, 1, 2, 0, 0}},
        {"0001002000300004", ParsedKey{false, 1, 2, 3, 4}},
        {"0999999999999999", ParsedKey{false, 999, 999, 9999, 99999}},
        {"100100", std::nullopt},            // short
        {"2001002", std::nullopt},           // neither kind
        {"000100200030000x", std::nullopt},  // not a digit
        {"00010020003000040", std::nullopt},
        {"", std::nullopt},
    };
    for (auto& c : cases) EXPECT_EQ(parseKey(c.key), c.parsed) << c.key;
}

TEST(EventList, PositionsAndKeysOfTheTree) {
    EventList list;
    list.rebuildRecorder(-1, info("first"));
    int r = list.rebuildRecorder(-1, info("second"));
    ASSERT_EQ(r, 1);
    for (int i = 0; i < 3; ++i) list.addChannel(r, "Cam", cameraNumber(i + 1), false);
    EXPECT_EQ(list.channels(r)[2].key, "1001002");
    for (int i = 0; i < 4; ++i) list.addDay(r, 2, "2026120" + std::to_string(i + 1), 0);
    for (int i = 0; i < 5; ++i) list.addEvent(r, 2, 3, "12000" + std::to_string(i), 10);
    auto rows = list.events(r, 2, 3);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[4].key, "0001002000300004");
    EXPECT_EQ(rows[4].shownTime, "12:00:04");
    // A channel number that is already there is reused.
    EXPECT_EQ(list.addChannel(r, "Again", cameraNumber(2), false), 1);
    EXPECT_EQ(list.channels(r).size(), 3u);
    // Only six-digit times are taken.
    EXPECT_EQ(list.addEvent(r, 2, 3, "1200", 1), -1);
    EXPECT_EQ(list.addEvent(r, 2, 3, "12:000", 1), -1);
    EXPECT_EQ(list.addEvent(r, 2, 9, "120000", 1), -1);
}

TEST(EventList, FreeRecorderSlotIsReusedBeforeAppending) {
    Recording seen;
    EventList list(&seen);
    addRecorder(list, "a", {{"20261201", {"010000"}}});
    int b = addRecorder(list, "b", {{"20261201", {"010000"}}});
    addRecorder(list, "c", {});
    list.setMark(kMarkQueued, b, 0, 0, 0);
    list.removeRecorder(b);
    EXPECT_EQ(list.recorderInfo(b).name, "RC_EMPTY");
    EXPECT_TRUE(list.marked().empty());  // its marks went with it
    EXPECT_EQ(list.recorders().size(), 2u);

    EXPECT_EQ(list.rebuildRecorder(-1, info("d")), b);
    EXPECT_EQ(list.recorderCount(), 3);
    EXPECT_TRUE(list.channels(b).empty());
    // Rebuilding a connection's own entry frees it first and takes the first free slot.
    EXPECT_EQ(list.rebuildRecorder(0, info("a2")), 0);
    EXPECT_EQ(list.findRecorder("a2"), 0);
    EXPECT_EQ(list.findRecorder("a"), -1);
    EXPECT_EQ(list.recorders()[0].text, "a2 (10.0.0.2)");

    for (int r = 0; r < 3; ++r) list.removeRecorder(r);
    ASSERT_FALSE(seen.titles.empty());
    EXPECT_EQ(seen.titles.back(), "      ");
}

TEST(EventList, MarksOutsideTheRangeChangeNothing) {
    Recording seen;
    EventList list(&seen);
    int r = addRecorder(list, "a", {{"20261201", {"010000"}}});
    for (int bad : {5, -1}) {
        EXPECT_FALSE(list.setMark(bad, r, 0, 0, 0)) << bad;
        EXPECT_FALSE(list.setMark(bad, r, 0)) << bad;
    }
    EXPECT_FALSE(list.setMark(1, r, 0, 0, 1));  // no such event
    EXPECT_FALSE(list.setMark(1, r, 1));        // no such channel
    EXPECT_EQ(list.eventMark(r, 0, 0, 0), 0);
    EXPECT_TRUE(seen.rows.empty());
    EXPECT_TRUE(list.marked().empty());

    // The marked list follows every change: 0 → n adds, n → m changes, → 0 removes.
    EXPECT_TRUE(list.setMark(4, r, 0, 0, 0));
    EXPECT_TRUE(list.setMark(1, r, 0));
    ASSERT_EQ(list.marked().size(), 2u);
    EXPECT_EQ(list.marked()[0].key, "0000000000000000");
    EXPECT_EQ(list.marked()[1].key, "1000000");
    list.setMark(3, r, 0, 0, 0);
    EXPECT_EQ(list.marked()[0].mark, 3);
    list.setMark(0, r, 0, 0, 0);
    ASSERT_EQ(list.marked().size(), 1u);
    EXPECT_EQ(list.marked()[0].key, "1000000");
}

TEST(EventList, SelectInPeriod) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> days = {
        {"20261130", {"230000"}},           {"20261201", {"080000", "120000", "180000"}},
        {"20261202", {"000000", "235959"}}, {"20261203", {"060000", "120000", "180000"}},
        {"20261204", {"120000"}},
    };
    struct Case {
        const char *d1, *t1, *d2, *t2;
        std::vector<std::string> times;  // date+time selected
    };
    const Case cases[] = {
        // Same day: both ends included.
        {"20261201", "080000", "20261201", "120000", {"20261201080000", "20261201120000"}},
        {"20261201", "080001", "20261201", "175959", {"20261201120000"}},
        // Three days: the first from T1 on, the middle whole, the last up to T2.
        {"20261201",
         "120000",
         "20261203",
         "120000",
         {"20261201120000", "20261201180000", "20261202000000", "20261202235959", "20261203060000",
          "20261203120000"}},
        {"20261205", "000000", "20261231", "235959", {}},
        {"20261201", "190000", "20261201", "235959", {}},
    };
    for (auto& c : cases) {
        EventList list;
        int r = addRecorder(list, "a", days);
        auto res = list.selectInPeriod(r, 0, c.d1, c.t1, c.d2, c.t2);
        std::vector<std::string> got;
        auto dayRows = list.days(r, 0);
        for (auto& d : dayRows)
            for (auto& e : list.events(r, 0, d.position))
                if (e.mark == kMarkSelected) got.push_back(d.date + e.time);
        EXPECT_EQ(got, c.times) << c.d1 << c.t1 << "-" << c.d2 << c.t2;
        EXPECT_EQ(res.selected, static_cast<int>(c.times.size()));
        EXPECT_FALSE(res.alreadySelected);
        EXPECT_EQ(list.selection().count, c.times.size());
        EXPECT_EQ(list.selection().totalSize, 100u * c.times.size());

        // The same period again selects nothing new and says so.
        auto again = list.selectInPeriod(r, 0, c.d1, c.t1, c.d2, c.t2);
        EXPECT_EQ(again.selected, 0);
        EXPECT_EQ(again.alreadySelected, !c.times.empty());
    }
}

TEST(EventList, SelectionHandOverCountsSizesAndAudio) {
    Recording seen;
    EventList list(&seen);
    int r = list.rebuildRecorder(-1, info("a"));
    int cam = list.addChannel(r, "Cam", cameraNumber(1), false);
    int aud = list.addChannel(r, "Mic", audioNumber(1), true);
    int d0 = list.addDay(r, cam, "20261201", 0);
    int d1 = list.addDay(r, aud, "20261201", 0);
    list.addEvent(r, cam, d0, "010000", 0xF0000000u);
    list.addEvent(r, cam, d0, "020000", 0xF0000000u);
    list.addEvent(r, aud, d1, "010000", 5);
    list.addEvent(r, aud, d1, "020000", 7);
    list.setMark(kMarkDownloaded, r, aud, d1, 1);

    ScriptedUserPort port;
    EXPECT_EQ(list.actOnEvent({r, cam, d0, 0}, 1, &port), 1);
    EXPECT_EQ(list.actOnEvent({r, cam, d0, 1}, 1, &port), 1);
    EXPECT_EQ(list.actOnEvent({r, aud, d1, 0}, 1, &port), 1);
    SelectionTotals want{3, 2ull * 0xF0000000u + 5, 1};
    EXPECT_EQ(list.selection(), want);
    ASSERT_EQ(seen.selections.size(), 3u);
    EXPECT_TRUE(seen.selections[2].audio);
    EXPECT_EQ(seen.selections[2].ref, (EventRef{r, aud, d1, 0}));

    // A downloaded event: No keeps it, Yes selects it again.
    port.boxAnswers = {mb::kIdNo, mb::kIdYes};
    EXPECT_EQ(list.actOnEvent({r, aud, d1, 1}, 3, &port), kMarkDownloaded);
    EXPECT_EQ(list.actOnEvent({r, aud, d1, 1}, 3, &port), kMarkSelected);
    EXPECT_TRUE(port.saw("This event have download before.\nDownload again?"));
    EXPECT_EQ(list.selection().count, 4u);
    EXPECT_EQ(list.selection().audioCount, 2u);

    EXPECT_EQ(list.actOnEvent({r, cam, d0, 1}, 0, &port), 0);
    EXPECT_EQ(list.selection().count, 3u);
    EXPECT_EQ(list.selection().totalSize, 0xF0000000ull + 12);

    list.queueSelection();
    EXPECT_EQ(list.eventMark(r, cam, d0, 0), kMarkQueued);
    EXPECT_EQ(list.eventMark(r, cam, d0, 1), kMarkNone);
    EXPECT_EQ(list.takeSelection().count, 3u);
    EXPECT_EQ(list.selection(), SelectionTotals{});
    list.clearMarks(kMarkQueued);
    EXPECT_TRUE(list.marked().empty());
}

TEST(EventList, EndOfStreamReports) {
    Recording seen;
    EventList list(&seen);
    int r = addRecorder(list, "a", {{"20261201", {"010000", "020000", "030000"}}});
    for (int e = 0; e < 3; ++e) list.setMark(kMarkQueued, r, 0, 0, e);
    list.setShown(r, 0, 0);

    EXPECT_TRUE(list.reportFinished(r, 0, "20261201", "010000", nullptr));
    EXPECT_TRUE(list.reportStopped(r, 0, "20261201", "020000", nullptr));
    EXPECT_TRUE(list.reportCannotOpen(r, 0, "20261201", "030000", nullptr));
    EXPECT_FALSE(list.reportFinished(r, 0, "20261202", "010000", nullptr));
    EXPECT_EQ(list.eventMark(r, 0, 0, 0), kMarkDownloaded);
    EXPECT_EQ(list.eventMark(r, 0, 0, 1), kMarkNone);

    // The recording that could not be opened is gone from every walk.
    auto rows = list.events(r, 0, 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].time, "020000");
    EXPECT_EQ(list.findEvent(r, 0, 0, "030000"), -1);
    EXPECT_EQ(list.marked().size(), 1u);
    EXPECT_EQ(seen.posts.size(), 1u);
    EXPECT_EQ(std::get<0>(seen.posts[0]), EventListMessage::EventRemoved);
    EXPECT_EQ(list.selectInPeriod(r, 0, "20261201", "000000", "20261201", "235959").selected, 1);

    // A recording still waiting for a refreshed recorder takes the report there.
    PendingMarks pending;
    pending.add({0, 1, "20261201", "050000", kMarkQueued});
    pending.add({0, 1, "20261201", "060000", kMarkQueued});
    EXPECT_TRUE(list.reportFinished(r, 0, "20261201", "050000", &pending));
    EXPECT_TRUE(list.reportCannotOpen(r, 0, "20261201", "060000", &pending));
    auto left = pending.entries();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].mark, kMarkDownloaded);
}

TEST(EventList, FreeDaysAreSkipped) {
    EventList list;
    int r = addRecorder(list, "a", {{"20261201", {}}, {"_EMPTY", {}}, {"20261203", {}}});
    auto days = list.days(r, 0);
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[1].position, 2);
    std::vector<DayToLoad> want = {{0, "20261201", 0}, {2, "20261203", 0}};
    EXPECT_EQ(list.daysToLoad(r, 0, "00000000", "99999999"), want);
    EXPECT_EQ(list.findDay(r, 0, "_EMPTY", 0), -1);
    EXPECT_EQ(list.addEvent(r, 0, 1, "010000", 1), -1);
    // Loaded days are not asked again.
    list.addEvent(r, 0, 0, "010000", 1);
    EXPECT_EQ(list.daysToLoad(r, 0, "20261201", "20261203").size(), 1u);
}

TEST(EventList, RememberMarksForRefresh) {
    EventList list;
    int r = list.rebuildRecorder(-1, info("a"));
    int cam = list.addChannel(r, "Cam", cameraNumber(3), false);
    int aud = list.addChannel(r, "Mic", audioNumber(2), true);
    int d0 = list.addDay(r, cam, "20261201", 0);
    list.addDay(r, cam, "20261202", 0);  // not loaded: not remembered
    int d2 = list.addDay(r, aud, "20261201", 5);
    for (auto t : {"010000", "020000", "030000"}) list.addEvent(r, cam, d0, t, 1);
    list.addEvent(r, aud, d2, "040000", 1);
    list.setMark(kMarkSelected, r, cam, d0, 0);  // 1 is not carried
    list.setMark(kMarkQueued, r, cam, d0, 1);
    list.setMark(kMarkDownloaded, r, cam, d0, 2);
    list.setMark(kMarkHighest, r, aud, d2, 0);

    PendingMarks pending;
    auto days = list.rememberMarks(r, pending);
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days[1].audio, true);
    EXPECT_EQ(days[1].dateId, 5u);
    std::vector<PendingMarks::Entry> want = {{0, 3, "20261201", "020000", 2},
                                             {0, 3, "20261201", "030000", 3},
                                             {1, 2, "20261201", "040000", 4}};
    EXPECT_EQ(pending.entries(), want);
}

TEST(EventList, ConcurrentWritersAndReaders) {
    EventList list;
    int r = list.rebuildRecorder(-1, info("a"));
    constexpr int kThreads = 4, kDays = 50, kEvents = 40;
    for (int c = 0; c < kThreads; ++c) list.addChannel(r, "Cam", cameraNumber(c + 1), false);
    std::vector<std::thread> threads;
    for (int c = 0; c < kThreads; ++c)
        threads.emplace_back([&, c] {
            for (int d = 0; d < kDays; ++d) {
                int dp = list.addDay(r, c, fsv::format("2026%.4d", d + 101), 0);
                for (int e = 0; e < kEvents; ++e) {
                    int ep = list.addEvent(r, c, dp, fsv::format("%.6d", e), 1);
                    list.setMark(e % 2, r, c, dp, ep);
                }
            }
        });
    std::thread reader([&] {
        for (int i = 0; i < 200; ++i) {
            (void)list.marked();
            (void)list.selectInPeriod(r, 1, "20260101", "000000", "20260110", "000000");
        }
    });
    for (auto& t : threads) t.join();
    reader.join();
    EXPECT_EQ(list.eventCount(), size_t{kThreads} * kDays * kEvents);
    for (int c = 0; c < kThreads; ++c) EXPECT_EQ(list.days(r, c).size(), size_t{kDays});
}
