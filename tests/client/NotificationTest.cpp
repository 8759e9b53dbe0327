// The notification queue and the queued UserPort: delivery on the draining thread, order per
// source, one wake per empty→non-empty, latest-value updates, and questions released by the
// exit event.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/Notifications.h"
#include "client/QueuedUserPort.h"

using namespace fsv;
using namespace fsv::client;
using namespace std::chrono_literals;

namespace {

// A front end's loop in miniature: woken by the queue, drains on its own thread.
struct Drainer {
    std::mutex m;
    std::condition_variable cv;
    int wakes = 0;
    int handled = 0;  // wakes acted on
    NotificationQueue queue{[this] {
        std::lock_guard lock(m);
        ++wakes;
        cv.notify_all();
    }};

    // Waits for a wake not yet acted on; false after `limit` without one.
    bool waitWake(std::chrono::milliseconds limit) {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, limit, [&] { return wakes > handled; })) return false;
        ++handled;
        return true;
    }
    int wakeCount() {
        std::lock_guard lock(m);
        return wakes;
    }
};

}  // namespace

TEST(NotificationQueue, ManyThreadsArriveOnTheDrainingThreadInOrderWithOneWakePerBatch) {
    constexpr int kThreads = 8, kEach = 2000;
    Drainer d;
    std::atomic<bool> go{false};
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t)
        producers.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < kEach; ++i)
                d.queue.push(MessageBoxNote{std::to_string(t) + ":" + std::to_string(i), {}});
        });

    const auto self = std::this_thread::get_id();
    std::vector<int> next(kThreads, 0);
    int received = 0, nonEmptyDrains = 0;
    bool wrongThread = false, outOfOrder = false;
    go = true;
    while (received < kThreads * kEach) {
        ASSERT_TRUE(d.waitWake(20s)) << "woken too seldom: " << received << " arrived";
        const size_t n = d.queue.drain([&](Notification& note) {
            if (std::this_thread::get_id() != self) wrongThread = true;
            auto& box = std::get<MessageBoxNote>(note);
            const auto colon = box.text.find(':');
            const int t = std::stoi(box.text.substr(0, colon));
            const int i = std::stoi(box.text.substr(colon + 1));
            if (i != next[t]) outOfOrder = true;
            next[t] = i + 1;
            ++received;
        });
        if (n > 0) ++nonEmptyDrains;
    }
    for (auto& p : producers) p.join();
    EXPECT_FALSE(wrongThread);
    EXPECT_FALSE(outOfOrder);
    EXPECT_EQ(next, std::vector<int>(kThreads, kEach));
    // Every wake announced exactly one batch: a wake per push, or a missed one, breaks this.
    EXPECT_EQ(d.wakeCount(), nonEmptyDrains);
    EXPECT_TRUE(d.queue.empty());
}

TEST(NotificationQueue, FrequentUpdatesKeepTheirLatestValueAndTheirPlace) {
    int wakes = 0;
    NotificationQueue q([&] { ++wakes; });
    auto row = [](int id, uint64_t received) {
        WorkRowChanged r;
        r.row.id = id;
        r.row.received = received;
        return r;
    };
    q.push(row(1, 10));
    q.push(SessionAdded{3, "DVR", "127.0.0.1"});
    q.push(row(2, 5));
    for (uint64_t v = 11; v <= 50; ++v) q.push(row(1, v));
    q.push(PlaybackPosition{0, 1, 100, 1});
    q.push(PlaybackPosition{0, 7, 100, 2});
    q.push(PlaybackPosition{1, 3, 100, 1});
    q.push(FrameReady{4});
    q.push(FrameReady{4});
    q.push(PanelsChanged{2});
    q.push(PanelsChanged{2});  // not an update: both stay
    EXPECT_EQ(wakes, 1);

    std::vector<std::string> seen;
    q.drain([&](Notification& n) {
        if (auto* r = std::get_if<WorkRowChanged>(&n))
            seen.push_back("row" + std::to_string(r->row.id) + "=" +
                           std::to_string(r->row.received));
        else if (auto* s = std::get_if<SessionAdded>(&n))
            seen.push_back("session" + std::to_string(s->session));
        else if (auto* p = std::get_if<PlaybackPosition>(&n))
            seen.push_back("pos" + std::to_string(p->panel) + "=" + std::to_string(p->position) +
                           "x" + std::to_string(p->speed));
        else if (auto* f = std::get_if<FrameReady>(&n))
            seen.push_back("frame" + std::to_string(f->panel));
        else if (auto* m = std::get_if<PanelsChanged>(&n))
            seen.push_back("panels" + std::to_string(m->panel));
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"row1=50", "session3", "row2=5", "pos0=7x2",
                                              "pos1=3x1", "frame4", "panels2", "panels2"}));
    // After a drain the same row is news again, and wakes the front end again.
    q.push(row(1, 60));
    EXPECT_EQ(wakes, 2);
    int count = 0;
    q.drain([&](Notification&) { ++count; });
    EXPECT_EQ(count, 1);
}

TEST(QueuedUserPort, QuestionsAreAnsweredByTheFrontEndOrReleasedByTheExitEvent) {
    NotificationQueue q;
    fsv::platform::Event exitEvent(fsv::platform::Event::Reset::Manual);
    QueuedUserPort port(q, exitEvent);

    // Deferred boxes and the panels' redraw are queued as typed notes; a panel message the
    // windows do not act on is not.
    EXPECT_EQ(port.messageBox("Disk full", mb::kIconStop), 1);
    port.post(PanelMessage::RedrawChannel, 2, 1);
    port.post(PanelMessage::RecorderClosed, 0, 0);

    // A question: the front end drains it and answers on its own thread.
    std::atomic<int> boxAnswer{0};
    std::thread worker([&] {
        boxAnswer = port.messageBox("Close this channel!\nAre you sure?",
                                    mb::kYesNo | mb::kIconQuestion, true);
    });
    std::vector<Notification> got;
    auto drainUntilQuestion = [&]() -> Question {
        for (auto until = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(1ms)) {
            std::optional<Question> found;
            q.drain([&](Notification& n) {
                if (auto* question = std::get_if<Question>(&n)) found = *question;
                got.push_back(n);
            });
            if (found) return *found;
        }
        ADD_FAILURE() << "no question arrived";
        return {};
    };
    Question asked = drainUntilQuestion();
    EXPECT_EQ(asked.kind, Question::Kind::Box);
    EXPECT_EQ(asked.style, (BoxStyle{BoxButtons::YesNo, BoxIcon::Question}));
    EXPECT_TRUE(port.waiting(asked.id));
    port.answer(asked.id, Answer{BoxAnswer::Yes, {}, {}});
    worker.join();
    EXPECT_EQ(boxAnswer, mb::kIdYes);
    EXPECT_FALSE(port.waiting(asked.id));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(std::get<MessageBoxNote>(got[0]).text, "Disk full");
    EXPECT_EQ(std::get<MessageBoxNote>(got[0]).style, (BoxStyle{BoxButtons::Ok, BoxIcon::Stop}));
    EXPECT_EQ(std::get<PanelsChanged>(got[1]).panel, 2);

    // The open dialog of several files.
    std::vector<std::filesystem::path> files;
    std::thread opener([&] {
        files =
            port.openFilesDialog("/videos", "FSV Save AVI File(*.AVI)|*.avi|All Files(*.*)|*.*||");
    });
    asked = drainUntilQuestion();
    EXPECT_EQ(asked.kind, Question::Kind::OpenFiles);
    port.answer(asked.id, Answer{BoxAnswer::Ok, {}, {"/videos/a.avi", "/videos/b.avi"}});
    opener.join();
    EXPECT_EQ(files, (std::vector<std::filesystem::path>{"/videos/a.avi", "/videos/b.avi"}));

    // Nobody answers: the exit event releases every waiting worker with the "no" answers.
    std::atomic<int> released{0};
    int box = 0;
    ExistingFileAnswer existing = ExistingFileAnswer::Overwrite;
    std::filesystem::path folder = "unset";
    std::thread a([&] {
        box = port.messageBox("Still have some connections.\nAre you sure want to exit?",
                              mb::kYesNo, true);
        ++released;
    });
    std::thread b([&] {
        existing = port.askExistingFile("/tmp/x.avi", true);
        ++released;
    });
    std::thread c([&] {
        folder = port.chooseFolder("/tmp", "Choose a folder");
        ++released;
    });
    // Wait until all three are queued, then exit without answering.
    int questions = 0;
    std::vector<uint64_t> ids;
    for (auto until = std::chrono::steady_clock::now() + 20s;
         questions < 3 && std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(1ms))
        q.drain([&](Notification& n) {
            if (auto* question = std::get_if<Question>(&n)) {
                ++questions;
                ids.push_back(question->id);
            }
        });
    ASSERT_EQ(questions, 3);
    EXPECT_EQ(released, 0);
    exitEvent.set();
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(released, 3);
    EXPECT_EQ(box, mb::kIdNo);
    EXPECT_EQ(existing, ExistingFileAnswer::Abort);
    EXPECT_TRUE(folder.empty());
    for (auto id : ids) EXPECT_FALSE(port.waiting(id));
    port.answer(ids[0], Answer{BoxAnswer::Yes, {}, {}});  // too late: ignored

    // While exiting nothing is asked or shown.
    EXPECT_EQ(port.messageBox("late", mb::kOk), mb::kIdNo);
    EXPECT_EQ(port.messageBox("late question", mb::kYesNo, true), mb::kIdNo);
    EXPECT_TRUE(q.empty());
}

// A box leaves the core as buttons and an icon, and its answer comes back as the system's id.
TEST(BoxStyle, SystemTypesBecomeButtonsAndIconsAndAnswersComeBackAsIds) {
    struct Case {
        unsigned type;
        BoxStyle style;
    };
    for (const Case& c :
         {Case{mb::kOk | mb::kIconStop, {BoxButtons::Ok, BoxIcon::Stop}},
          Case{mb::kOkCancel | mb::kIconWarning, {BoxButtons::OkCancel, BoxIcon::Warning}},
          Case{mb::kYesNoCancel | mb::kIconQuestion, {BoxButtons::YesNoCancel, BoxIcon::Question}},
          Case{mb::kYesNo, {BoxButtons::YesNo, BoxIcon::None}},
          Case{mb::kRetryCancel | mb::kIconInformation,
               {BoxButtons::RetryCancel, BoxIcon::Information}},
          Case{0x2 | 0x50, {BoxButtons::Ok, BoxIcon::None}}})  // unknown bits
        EXPECT_EQ(boxStyle(c.type), c.style) << c.type;
    EXPECT_EQ(answerId(BoxAnswer::Ok), mb::kIdOk);
    EXPECT_EQ(answerId(BoxAnswer::Cancel), mb::kIdCancel);
    EXPECT_EQ(answerId(BoxAnswer::Retry), mb::kIdRetry);
    EXPECT_EQ(answerId(BoxAnswer::Yes), mb::kIdYes);
    EXPECT_EQ(answerId(BoxAnswer::No), mb::kIdNo);
}
