#include <gtest/gtest.h>

#include <thread>

#include "FakeRecorder.h"
#include "platform/ScriptedUserPort.h"
#include "recordings/PeriodQuery.h"

using namespace fsv;
using fsv::test::FakeRecorder;

namespace {

struct Seen : EventListListener {
    std::vector<std::pair<EventListMessage, intptr_t>> posts;
    std::vector<std::string> statuses;
    void post(EventListMessage m, intptr_t w, intptr_t) override { posts.emplace_back(m, w); }
    void status(const std::string& s) override { statuses.push_back(s); }
};

// A channel of the server information; days given as numbers, with their date ids.
net::ServerInfoChannel channel(uint16_t code, std::string name,
                               std::vector<std::pair<uint32_t, uint32_t>> days) {
    net::ServerInfoChannel c{code, std::move(name), {}};
    for (auto [day, id] : days) c.days.push_back({net::dayText(day), id, 0});
    return c;
}

struct Fixture {
    Seen seen;
    EventList list{&seen};
    FakeRecorder recorder;
    ScriptedUserPort port;
    DateQueryWaiter waiter;
    RecorderCatalog catalog{list, recorder, &waiter};
    Fixture() { recorder.catalog = &catalog; }

    // Camera 1 with three days, camera 2 with none, audio channel 1 with one day.
    void serverInfo(bool refresh = false) {
        net::ServerInfo info;
        info.cameras = {channel(1, "Gate", {{20261201, 0}, {20261202, 0}, {20261203, 0}}),
                        channel(2, "Yard", {})};
        info.audio = {channel(1, "Mic", {{20261202, 0}})};
        catalog.handleServerInfo(info, refresh);
    }
    std::vector<std::string> times(int ch, int day) {
        std::vector<std::string> out;
        for (auto& e : list.events(catalog.connectionNumber(), ch, day))
            out.push_back(e.time + "/" + std::to_string(e.size) + "/" + std::to_string(e.mark));
        return out;
    }
};

}  // namespace

TEST(ServerInformation, FillsRecorderChannelsAndDays) {
    Fixture f;
    std::vector<std::pair<int, int>> numbers;
    f.catalog.onConnectionNumber = [&](int o, int n) { numbers.emplace_back(o, n); };
    net::ServerInfo info;
    // Days of the second group of a recorded-days message carry date id 1.
    info.cameras = {channel(1, "Gate", {{20261201, 0}, {990101, 0}, {20261203, 1}}),
                    channel(2, "Yard", {})};
    info.audio = {channel(4, "Mic", {{20261205, 0}, {20261205, 0}})};
    f.catalog.handleServerInfo(info, false);

    const int r = f.catalog.connectionNumber();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(numbers, (std::vector<std::pair<int, int>>{{-1, 0}}));
    auto chans = f.list.channels(r);
    ASSERT_EQ(chans.size(), 3u);
    EXPECT_EQ(chans[1].name, "Yard");
    EXPECT_TRUE(chans[2].audio);
    EXPECT_EQ(f.catalog.channelOfCode(net::kAudio, 4), 2);
    EXPECT_EQ(f.catalog.codeOfChannel(net::kCamera, 1), 2);
    std::vector<std::string> dates;
    for (auto& d : f.list.days(r, 0)) dates.push_back(d.date + "/" + std::to_string(d.dateId));
    EXPECT_EQ(dates, (std::vector<std::string>{"20261201/0", "00990101/0", "20261203/1"}));
    EXPECT_TRUE(f.list.days(r, 1).empty());
    EXPECT_EQ(f.list.days(r, 2).size(), 1u);  // named twice, kept once
    EXPECT_EQ(f.list.recorders()[0].text, "DVR (127.0.0.1)");

    // The same information again (no refresh) adds nothing.
    f.catalog.handleServerInfo(info, false);
    EXPECT_EQ(f.list.channels(r).size(), 3u);
    EXPECT_EQ(f.list.days(r, 0).size(), 3u);
    EXPECT_EQ(numbers.size(), 1u);
}

TEST(DateReply, LayoutsOfBothVersionsAreStored) {
    for (uint16_t version : {34, 35}) {
        Fixture f;
        f.recorder.protocol = version;
        if (version > 34) {
            // Version 35 days carry their group as date id; the reply must name it.
            net::ServerInfo info;
            info.cameras = {channel(1, "Gate", {{20261130, 0}, {20261201, 1}})};
            f.catalog.handleServerInfo(info, false);
        } else {
            f.serverInfo();
        }
        const int day = f.list.findDay(0, 0, "20261201", version > 34 ? 1 : 0);
        ASSERT_GE(day, 0) << version;

        net::DateReply reply;
        reply.kind = net::kCamera;
        reply.code = 1;
        reply.date = "20261201";
        reply.dateId = version > 34 ? 1 : 0;
        reply.items = {{93000, 1000}, {235959, 0xFFFFFFFF}, {93000, 5}, {1000000, 7}};
        EXPECT_TRUE(f.catalog.handleDateReply(net::encodeDateReply(reply, version)));
        // The repeated time adds nothing; a time that is not six digits is not a recording.
        EXPECT_EQ(f.times(0, day),
                  (std::vector<std::string>{"093000/1000/0", "235959/4294967295/0"}))
            << version;
        EXPECT_TRUE(f.catalog.handleDateReply(net::encodeDateReply(reply, version)));
        EXPECT_EQ(f.times(0, day).size(), 2u);
        // Outside the dialog the window leaves its waiting state.
        EXPECT_EQ(f.seen.posts.back(), std::make_pair(EventListMessage::Waiting, intptr_t{1}));
    }
}

TEST(DateReply, UnknownOrBrokenRepliesAreDropped) {
    Fixture f;
    f.serverInfo();
    f.waiter.busy = true;
    net::DateReply reply;
    reply.code = 9;  // no such camera
    reply.date = "20261201";
    reply.items = {{10000, 1}};
    EXPECT_FALSE(f.catalog.handleDateReply(net::encodeDateReply(reply, 35)));
    reply.code = 1;
    reply.kind = 7;
    EXPECT_FALSE(f.catalog.handleDateReply(net::encodeDateReply(reply, 35)));
    reply.kind = net::kCamera;
    auto bytes = net::encodeDateReply(reply, 35);
    bytes.pop_back();
    EXPECT_FALSE(f.catalog.handleDateReply(bytes));
    EXPECT_FALSE(f.waiter.reply.isSet());  // nobody woken
    EXPECT_EQ(f.list.eventCount(), 0u);
    // A day the list does not know stores nothing but still answers the waiter, and the
    // session's reply-OK is set before the waiter wakes.
    f.recorder.watchedReply = &f.waiter.reply;
    const int okBefore = f.recorder.replyOkSets;
    reply.date = "20270101";
    EXPECT_TRUE(f.catalog.handleDateReply(net::encodeDateReply(reply, 35)));
    EXPECT_TRUE(f.waiter.reply.isSet());
    EXPECT_EQ(f.recorder.replyOkSets, okBefore + 1);
    EXPECT_FALSE(f.recorder.replyOkAfterWake);
    EXPECT_EQ(f.list.eventCount(), 0u);
}

TEST(DateReply, MarksSurviveARefresh) {
    Fixture f;
    f.recorder.protocol = 34;
    f.serverInfo();
    using Key = FakeRecorder::DayKey;
    f.recorder.recordings[Key{0, 1, "20261201", 0}] = {{10000, 1}, {20000, 2}, {30000, 3}};
    f.recorder.recordings[Key{1, 1, "20261202", 0}] = {{40000, 4}};
    const int r = f.catalog.connectionNumber();
    f.catalog.sendDateQuery(0, net::kCamera, "20261201", 0);
    f.catalog.sendDateQuery(2, net::kAudio, "20261202", 0);
    f.list.setMark(kMarkQueued, r, 0, 0, 0);
    f.list.setMark(kMarkDownloaded, r, 0, 0, 1);
    f.list.setMark(kMarkSelected, r, 0, 0, 2);  // a plain selection is not carried
    f.list.setMark(kMarkQueued, r, 2, 0, 0);

    auto days = f.catalog.rememberMarks();
    ASSERT_EQ(days.size(), 2u);
    f.serverInfo(/*refresh=*/true);
    EXPECT_EQ(f.catalog.connectionNumber(), r);  // its own slot, freed and taken again
    EXPECT_EQ(f.list.eventCount(), 0u);
    EXPECT_TRUE(f.list.marked().empty());
    // A download that finishes while the recorder is being read again keeps its result.
    f.list.reportFinished(r, 0, "20261201", "010000", &f.catalog.pending());

    for (auto& d : days)
        ASSERT_NE(f.catalog.sendDateQuery(d.channel, d.audio ? net::kAudio : net::kCamera, d.date,
                                          d.dateId),
                  nullptr);
    EXPECT_EQ(f.times(0, 0), (std::vector<std::string>{"010000/1/3", "020000/2/3", "030000/3/0"}));
    EXPECT_EQ(f.times(2, 0), (std::vector<std::string>{"040000/4/2"}));
    EXPECT_TRUE(f.catalog.pending().empty());
}

TEST(DateQuery, RequestNamesTheChannelCodeOrIsNotSent) {
    Fixture f;
    f.serverInfo();
    f.recorder.answer = false;
    EXPECT_EQ(f.catalog.sendDateQuery(0, net::kCamera, "20261201", 3), &f.recorder.stop);
    EXPECT_TRUE(f.recorder.gettingInformation);
    EXPECT_EQ(f.seen.statuses.back(), kGettingInformationText);
    ASSERT_EQ(f.recorder.queries.size(), 1u);
    EXPECT_EQ(f.recorder.queries[0].code, 1);
    EXPECT_EQ(f.recorder.queries[0].dateId, 3u);
    EXPECT_EQ(f.catalog.sendDateQuery(2, net::kAudio, "20261202", 0), &f.recorder.stop);
    EXPECT_EQ(f.recorder.queries[1].kind, net::kAudio);
    EXPECT_EQ(f.recorder.queries[1].code, 1);

    // No such channel, or a failed send: nothing to wait for, and the window stops waiting.
    f.seen.posts.clear();
    EXPECT_EQ(f.catalog.sendDateQuery(5, net::kCamera, "20261201", 0), nullptr);
    f.recorder.sendFails = true;
    EXPECT_EQ(f.catalog.sendDateQuery(0, net::kCamera, "20261201", 0), nullptr);
    EXPECT_EQ(f.seen.posts.size(), 2u);
    EXPECT_FALSE(f.recorder.gettingInformation);
    EXPECT_EQ(f.recorder.queries.size(), 2u);
}

TEST(DateQuery, OpeningADayAsksOnlyWhenItIsNotLoaded) {
    Fixture f;
    f.serverInfo();
    f.recorder.recordings[{1, 1, "20261202", 0}] = {{50000, 9}};
    EXPECT_TRUE(f.catalog.openDay(2, 0));  // the audio channel's day
    EXPECT_EQ(f.recorder.queries.back().kind, net::kAudio);
    EXPECT_EQ(f.list.shown(), (EventRef{0, 2, 0, -1}));
    EXPECT_EQ(f.times(2, 0), (std::vector<std::string>{"050000/9/0"}));
    // Waiting entered, then left by the reply.
    ASSERT_GE(f.seen.posts.size(), 2u);
    EXPECT_EQ(f.seen.posts[f.seen.posts.size() - 2],
              std::make_pair(EventListMessage::Waiting, intptr_t{0}));
    EXPECT_EQ(f.seen.posts.back(), std::make_pair(EventListMessage::Waiting, intptr_t{1}));

    EXPECT_FALSE(f.catalog.openDay(2, 0));  // loaded now: nothing is asked
    EXPECT_FALSE(f.catalog.openDay(2, 5));
    EXPECT_EQ(f.recorder.queries.size(), 1u);
}

TEST(PeriodQuery, AsksUnloadedDaysLatestFirstThenSelects) {
    Fixture f;
    f.serverInfo();
    using Key = FakeRecorder::DayKey;
    f.recorder.recordings[Key{0, 1, "20261201", 0}] = {{80000, 1}, {120000, 2}};
    f.recorder.recordings[Key{0, 1, "20261202", 0}] = {{100000, 3}};
    f.recorder.recordings[Key{0, 1, "20261203", 0}] = {{60000, 4}, {180000, 5}};
    PeriodQuery q(f.waiter, &f.port, nullptr);
    Period p{"20261201", "120000", "20261203", "060000"};

    auto s = q.run(f.catalog, {0, 1}, p);
    EXPECT_EQ(s.outcome, PeriodOutcome::Selected);
    EXPECT_EQ(s.selected, 3);
    std::vector<std::string> asked;
    for (auto& d : s.asked) asked.push_back(d.date);
    EXPECT_EQ(asked, (std::vector<std::string>{"20261203", "20261202", "20261201"}));
    EXPECT_FALSE(f.waiter.busy);
    EXPECT_EQ(f.list.selection().totalSize, 2u + 3 + 4);

    // All loaded now: nothing is asked, and the same period is already selected.
    auto again = q.run(f.catalog, {0}, p);
    EXPECT_TRUE(again.asked.empty());
    EXPECT_EQ(again.outcome, PeriodOutcome::AlreadySelected);
    EXPECT_EQ(PeriodQuery::message(again), "All files of the select period already selected!");
    auto none = q.run(f.catalog, {0}, {"20261204", "000000", "20261231", "235959"});
    EXPECT_EQ(none.outcome, PeriodOutcome::NoMatch);
    EXPECT_EQ(PeriodQuery::message(none), "No Match!");
}

TEST(PeriodQuery, SilentRecorderTimeOutAndStops) {
    struct Case {
        const char* name;
        std::deque<int> answers;  // to the time-out question
        bool replyLate, stopSession, exitProgram, sendFails;
        PeriodOutcome outcome;
        int questions;
    };
    const Case cases[] = {
        {"cancel at first time-out",
         {mb::kIdCancel},
         false,
         false,
         false,
         false,
         PeriodOutcome::Cancelled,
         1},
        {"wait again, reply comes",
         {mb::kIdRetry},
         true,
         false,
         false,
         false,
         PeriodOutcome::Selected,
         1},
        {"session stops", {}, false, true, false, false, PeriodOutcome::Cancelled, 0},
        {"program exits", {}, false, false, true, false, PeriodOutcome::Exiting, 0},
        {"send fails", {}, false, false, false, true, PeriodOutcome::Cancelled, 0},
    };
    for (auto& c : cases) {
        Fixture f;
        f.serverInfo();
        f.recorder.answer = false;
        f.recorder.sendFails = c.sendFails;
        f.recorder.recordings[{0, 1, "20261202", 0}] = {{100000, 1}};
        fsv::platform::Event exitEvent(fsv::platform::Event::Reset::Manual);
        PeriodQuery q(f.waiter, &f.port, &exitEvent);
        q.replyTimeout = std::chrono::milliseconds(c.stopSession || c.exitProgram ? 5000 : 30);
        f.port.boxAnswers = c.answers;
        // The late reply arrives on another thread after the first time-out question.
        f.port.onMessage = [&](const std::string& text, unsigned) {
            if (c.replyLate && text == kTimeoutQuestion) {
                net::DateReply r;
                r.code = 1;
                r.date = "20261202";
                r.items = {{100000, 1}};
                std::thread([&, r] {
                    f.catalog.handleDateReply(net::encodeDateReply(r, 35));
                }).join();
            }
        };
        std::thread trigger([&] {
            if (c.stopSession) f.recorder.stop.set();
            if (c.exitProgram) exitEvent.set();
        });
        auto s = q.run(f.catalog, {0}, {"20261202", "000000", "20261202", "235959"});
        trigger.join();
        EXPECT_EQ(s.outcome, c.outcome) << c.name;
        EXPECT_EQ(static_cast<int>(f.port.boxes().size()), c.questions) << c.name;
        for (auto& b : f.port.boxes()) {
            EXPECT_EQ(b.text, kTimeoutQuestion) << c.name;
            EXPECT_EQ(b.type, mb::kRetryCancel | mb::kIconInformation) << c.name;
        }
        EXPECT_FALSE(f.waiter.busy) << c.name;
    }
}
