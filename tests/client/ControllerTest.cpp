// The controller over real recorder-sim processes: several recorders at once, the close
// queues, a recorder that closes the link, the unfinished work found at start-up, and a
// shut-down that ends every thread even with a question nobody answers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "client/Controller.h"
#include "client/QueuedUserPort.h"
#include "platform/ScriptedUserPort.h"
#include "recordings/PeriodQuery.h"
#include "state/ResumeFile.h"
#include "tests/support/Eventually.h"
#include "tests/support/SimProcess.h"

using namespace fsv;
using namespace fsv::client;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using fsv::test::SimProcess;

using fsv::test::eventually;

namespace {

int threadCount() {
    int n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// A folder of its own per test process (ctest runs tests in parallel).
fs::path scratch(const std::string& name) {
    fs::path dir =
        fs::path(FSV_BINARY_DIR) / "test-controller" / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

fs::path recordings() {
    fs::path dir = scratch("recordings");
    for (auto* f : {"Cam01/20261201/100000.avi", "Cam02/20261201/120000.avi"}) {
        fs::create_directories((dir / f).parent_path());
        std::ofstream(dir / f);
    }
    return dir;
}

struct Recorder {
    explicit Recorder(const fs::path& dir, const std::string& name,
                      std::vector<std::string> more = {})
        : sim(args(dir, name, std::move(more))) {}
    static std::vector<std::string> args(const fs::path& dir, const std::string& name,
                                         std::vector<std::string> more) {
        std::vector<std::string> a{"--recordings", dir.string(), "--user", "admin",
                                   "--password",   "pw",         "--name", name};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }
    ConnectRequest request() const {
        ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = sim.port();
        r.id = "admin";
        r.password = "pw";
        return r;
    }
    SimProcess sim;
};

Controller::Options options(const fs::path& data) {
    Controller::Options o;
    o.dataFolder = data;
    return o;
}

std::vector<Notification> drained(NotificationQueue& q) {
    std::vector<Notification> out;
    q.drain([&](Notification& n) { out.push_back(n); });
    return out;
}

}  // namespace

TEST(Controller, CloseQueuesKeepDescendingOrderWithoutDuplicates) {
    struct Case {
        std::vector<int> queued;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{0, 1, 2}, {2, 1, 0}},
        {{2, 0, 1}, {2, 1, 0}},
        {{1, 1, 0, 1}, {1, 0}},
        {{5, 7, 6, 5, 0}, {7, 6, 5, 0}},
    };
    for (auto& c : cases) {
        std::vector<int> q;
        for (int v : c.queued) insertDescending(q, v);
        EXPECT_EQ(q, c.expected);
    }
}

TEST(Controller, TwoRecordersAtOnceAndEveryWayOfClosingThem) {
    const fs::path dir = recordings();
    Recorder yard(dir, "Yard DVR"), gate(dir, "Gate DVR"), hall(dir, "Hall DVR");
    ASSERT_TRUE(yard.sim.started()) << yard.sim.error();
    ASSERT_TRUE(gate.sim.started()) << gate.sim.error();
    ASSERT_TRUE(hall.sim.started()) << hall.sim.error();
    ScriptedUserPort port;
    NotificationQueue notes;
    Controller c(options(scratch("two")), port, notes);
    EXPECT_EQ(c.lastRequest().kind, 0xFFFF);
    EXPECT_EQ(c.lastRequest().port, 5066);
    std::mutex closedLock;
    std::vector<int> closedChannels;
    c.onCloseChannel = [&](int n) {
        std::lock_guard lock(closedLock);
        closedChannels.push_back(n);
    };
    c.queueChannelClose(3);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(closedLock);
        return closedChannels == std::vector<int>{3};
    }));

    // Interactive connects: the connect thread takes the request and logs in.
    ASSERT_TRUE(c.connect(yard.request()));
    c.waitConnect();
    ASSERT_TRUE(c.connect(gate.request()));
    c.waitConnect();
    EXPECT_EQ(c.lastRequest().port, gate.sim.port());
    // The programmatic connect comes back once the recorder's information is in.
    auto hallId = c.connectAndWait(hall.request());
    ASSERT_TRUE(hallId.has_value()) << (port.boxes().empty() ? "" : port.boxes()[0].text);
    ASSERT_EQ(c.sessionCount(), 3);
    auto list = c.sessions();
    EXPECT_EQ(list[0].recorderName, "Yard DVR");
    EXPECT_EQ(list[1].recorderName, "Gate DVR");
    EXPECT_EQ(list[2].recorderName, "Hall DVR");
    EXPECT_EQ(list[2].id, *hallId);
    ASSERT_TRUE(eventually([&] {
        for (auto& s : c.sessions())
            if (s.connectionNumber < 0) return false;
        return true;
    }));
    EXPECT_TRUE(c.withDownloads(*hallId, [](download::DownloadSession& d) {
        EXPECT_NE(d.videoQueue(1), nullptr);
        EXPECT_NE(d.videoQueue(2), nullptr);
    }));
    int added = 0, recordersChanged = 0;
    for (auto& n : drained(notes)) {
        added += std::holds_alternative<SessionAdded>(n);
        if (auto* e = std::get_if<EventListChanged>(&n))
            recordersChanged += e->what == EventListChanged::What::Recorders;
    }
    EXPECT_EQ(added, 3);
    EXPECT_GE(recordersChanged, 1);  // the event list's recorders came in

    // One position: that session closes, the others keep their order.
    c.queueConnectionClose(1);
    ASSERT_TRUE(eventually([&] { return c.sessionCount() == 2; }));
    list = c.sessions();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].recorderName, "Yard DVR");
    EXPECT_EQ(list[1].recorderName, "Hall DVR");

    // Close all: asked once; Yes queues every position and all close.
    port.boxAnswers = {mb::kIdYes};
    c.closeAllConnections();
    EXPECT_TRUE(port.saw(kCloseAllQuestion));
    // Each session is out of the list first and ended after; its note comes when it ended.
    int removed = 0;
    EXPECT_TRUE(eventually([&] {
        for (auto& n : drained(notes)) removed += std::holds_alternative<SessionRemoved>(n);
        return removed == 3;
    })) << removed;
    EXPECT_EQ(c.sessionCount(), 0);
    for (auto& r : c.eventList().recorders())
        EXPECT_EQ(r.text.find("DVR"), std::string::npos) << r.text;
    // Nothing left: nothing is asked.
    const auto asked = port.boxes().size();
    c.closeAllConnections();
    EXPECT_EQ(port.boxes().size(), asked);
}

TEST(Controller, ConnectionSetConnectsTheSavedRecordersAgain) {
    const fs::path dir = recordings();
    Recorder yard(dir, "Yard DVR"), gate(dir, "Gate DVR");
    ASSERT_TRUE(yard.sim.started() && gate.sim.started());
    const fs::path folder = scratch("sets");
    ScriptedUserPort port;
    NotificationQueue notes;
    {
        Controller c(options(folder), port, notes);
        // Nothing connected: no file and not a word.
        EXPECT_FALSE(c.saveConnectionSet(folder / "none.sav"));
        EXPECT_FALSE(fs::exists(folder / "none.sav"));
        ASSERT_TRUE(c.connectAndWait(yard.request()).has_value());
        ASSERT_TRUE(c.connectAndWait(gate.request()).has_value());
        EXPECT_TRUE(c.saveConnectionSet(folder / "two.sav"));
    }
    EXPECT_TRUE(port.boxes().empty());

    Controller c(options(folder), port, notes);
    EXPECT_TRUE(c.loadConnectionSet(folder / "two.sav"));
    c.waitConnect();
    ASSERT_TRUE(eventually([&] { return c.sessionCount() == 2; }));
    EXPECT_EQ(c.sessions()[0].recorderName, "Yard DVR");
    EXPECT_EQ(c.sessions()[1].recorderName, "Gate DVR");
    EXPECT_EQ(c.connectionRequests()[1].password, "pw");

    struct Case {
        std::string bytes;  // none: no file at all
        const char* message;
    };
    const Case cases[] = {
        {std::string("KOR_FSV_Link\0\0\0\0\0", 17), "Don't have any connection in record!"},
        {std::string("KOR_FSV_LinkX\1\0\0\0", 17), "Unexpected file format!"},
        {"", "Read file fail!"},
    };
    for (auto& k : cases) {
        const fs::path file = folder / "case.sav";
        fs::remove(file);
        if (!k.bytes.empty()) std::ofstream(file, std::ios::binary) << k.bytes;
        EXPECT_FALSE(c.loadConnectionSet(file)) << k.message;
        ASSERT_FALSE(port.boxes().empty());
        EXPECT_EQ(port.boxes().back().text, k.message);
        EXPECT_EQ(port.boxes().back().type, mb::kIconStop);
    }
    EXPECT_EQ(c.sessionCount(), 2);
}

TEST(Controller, SettingsFileIsReadAtStartAndItsDefaultsHold) {
    struct Case {
        const char* ini;  // none: no file
        int maxChannel;
        bool tell;
    };
    const Case cases[] = {
        {"[Farsight Viewer Client]\nMaxChannel=1\n[Download]\nTell=0\n", 1, false},
        {"[Download]\nOverwrite=1\n", 32, true},
        {nullptr, 32, true},
    };
    const char* before = std::getenv("FARSIGHT_CONFIG");
    const std::string saved = before ? before : "";
    for (auto& k : cases) {
        const fs::path config = scratch("config");
        if (k.ini) std::ofstream(config / "FarsightViewer.ini") << k.ini;
        ::setenv("FARSIGHT_CONFIG", config.c_str(), 1);
        ScriptedUserPort port;
        NotificationQueue notes;
        Controller c(options(scratch("settings")), port, notes);
        EXPECT_EQ(c.settings().maxChannel, k.maxChannel) << (k.ini ? k.ini : "none");
        EXPECT_EQ(c.settings().tell, k.tell) << (k.ini ? k.ini : "none");
    }
    if (before)
        ::setenv("FARSIGHT_CONFIG", saved.c_str(), 1);
    else
        ::unsetenv("FARSIGHT_CONFIG");
}

TEST(Controller, RecorderClosingTheLinkRemovesItsSessionAndTellsTheUser) {
    const fs::path dir = recordings();
    Recorder yard(dir, "Yard DVR");
    ASSERT_TRUE(yard.sim.started()) << yard.sim.error();
    ScriptedUserPort port;
    NotificationQueue notes;
    Controller c(options(scratch("remote")), port, notes);
    auto id = c.connectAndWait(yard.request());
    ASSERT_TRUE(id.has_value());
    drained(notes);

    yard.sim.stop();
    ASSERT_TRUE(eventually([&] { return c.sessionCount() == 0; }));
    const std::string text = "Yard DVR (127.0.0.1) is closed by remote site!";
    ASSERT_TRUE(eventually([&] { return port.saw(text); }));
    for (auto& b : port.boxes())
        if (b.text == text) {
            EXPECT_EQ(b.type, mb::kIconInformation);
        }
    bool removed = false;
    for (auto& n : drained(notes))
        if (auto* r = std::get_if<SessionRemoved>(&n)) removed |= r->session == *id;
    EXPECT_TRUE(removed);
    // No pointer of the gone session reached the front end.
    for (auto& p : port.posts()) EXPECT_NE(p.message, PanelMessage::RecorderClosed);
}

TEST(Controller, RecorderDroppingTheLinkMidDownloadLeavesItsWorkAsTempFile) {
    // One recording of 16 blocks; the recorder drops the link after 2 of them.
    const fs::path dir = scratch("drop-recordings");
    fs::create_directories(dir / "Cam01" / "20261201");
    {
        std::ofstream f(dir / "Cam01" / "20261201" / "100000.avi", std::ios::binary);
        std::vector<char> block(16 * 1024, 'x');
        for (int i = 0; i < 16; ++i)
            f.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    // Yes with a name that takes the file, No, and Yes with a name in a folder that is not
    // there: the temporary file stays and the user is told where it is.
    struct Case {
        int answer;
        const char* chosen;
        bool movable;
    };
    for (const Case& k : {Case{mb::kIdYes, "kept.rsm", true}, Case{mb::kIdNo, "kept.rsm", false},
                          Case{mb::kIdYes, "no-such-folder/kept.rsm", false}}) {
        const int answer = k.answer;
        SimProcess sim({"--recordings", dir.string(), "--user", "admin", "--password", "pw",
                        "--name", "Yard DVR", "--protocol", "34", "--drop-stream-after", "2"});
        ASSERT_TRUE(sim.started()) << sim.error();
        const fs::path data = scratch("drop");
        ScriptedUserPort port;
        port.boxAnswers = {answer};
        port.saveAnswer = data / k.chosen;
        NotificationQueue notes;
        Controller c(options(data), port, notes);
        ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = sim.port();
        r.id = "admin";
        r.password = "pw";
        auto id = c.connectAndWait(r);
        ASSERT_TRUE(id.has_value());
        const int number = c.sessions()[0].connectionNumber;
        ASSERT_GE(number, 0);

        download::WorkItem item;
        item.queue = download::QueueKind::File;
        item.action = download::Action::JustDownload;
        item.channelCode = 1;
        item.eventKey = "20261201100000";
        item.size = 16 * 16 * 1024;
        item.outputPath = (data / "Cam01-100000.avi").string();
        ASSERT_TRUE(c.withDownloads(
            *id, [&](download::DownloadSession& d) { EXPECT_TRUE(d.enqueue(item)); }));

        const std::string question =
            "Yard DVR (127.0.0.1) is closed by remote site!\nSave the unfinished work as a resume "
            "file?";
        ASSERT_TRUE(eventually([&] { return port.saw(question); })) << answer;
        ASSERT_TRUE(eventually([&] { return c.sessionCount() == 0; }));
        const fs::path temp = state::tempResumePath(data, number);
        if (answer == mb::kIdYes && !k.movable) {
            const std::string named =
                "The unfinished work could not be saved as " + (data / k.chosen).string();
            const std::string where = "It is kept in " + temp.string() + ".";
            ASSERT_TRUE(eventually([&] {
                for (auto& b : port.boxes())
                    if (b.text.rfind(named, 0) == 0 && b.text.find(where) != std::string::npos)
                        return true;
                return false;
            })) << where;
            EXPECT_TRUE(fs::exists(temp));
            EXPECT_EQ(state::loadResumeFile(temp).value.records.size(), 1u);
            continue;
        }
        ASSERT_TRUE(eventually([&] { return !fs::exists(temp); })) << "Temp file stays";
        if (answer == mb::kIdYes) {
            auto kept = state::loadResumeFile(data / "kept.rsm");
            ASSERT_EQ(kept.status, state::ReadStatus::Ok) << kept.message;
            EXPECT_EQ(kept.value.header.port, sim.port());
            ASSERT_EQ(kept.value.records.size(), 1u);
            EXPECT_EQ(kept.value.records[0].eventKey, item.eventKey);
            EXPECT_EQ(kept.value.records[0].path, item.outputPath);
            EXPECT_EQ(kept.value.records[0].type, 11);
            // A camera's file download is looked up among the cameras when it is taken up.
            EXPECT_EQ(kept.value.records[0].listFlag, 0);
        } else {
            EXPECT_FALSE(fs::exists(data / "kept.rsm"));
        }
    }
}

TEST(Controller, UnfinishedWorkAtStartUp) {
    state::ResumeData data;
    data.header = {5066, "127.0.0.1", "admin", "pw"};
    auto bytes = state::writeResumeData(data);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 101u);  // a header without records
    auto write = [](const fs::path& p, std::vector<uint8_t> b) {
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    };
    struct Case {
        size_t size;
        int answer;
        bool asked, loaded;
    };
    for (const Case& k : {Case{101, mb::kIdYes, false, false}, Case{102, mb::kIdNo, true, false},
                          Case{102, mb::kIdYes, true, true}}) {
        const fs::path folder = scratch("startup");
        auto b = *bytes;
        b.resize(k.size, 0);
        write(folder / "Auto1.rsm", b);
        ScriptedUserPort port;
        port.boxAnswers = {k.answer};
        NotificationQueue notes;
        Controller c(options(folder), port, notes);
        std::vector<fs::path> loaded;
        std::mutex m;
        c.onResumeFile = [&](const fs::path& p) {
            std::lock_guard lock(m);
            loaded.push_back(p);
            return true;
        };
        c.startUp();
        EXPECT_EQ(port.saw(state::kUnfinishedWorkQuestion), k.asked) << k.size;
        // Whatever happens to the file, it does not stay.
        EXPECT_TRUE(eventually([&] { return !fs::exists(folder / "Auto1.rsm"); })) << k.size;
        std::lock_guard lock(m);
        EXPECT_EQ(loaded.size(), k.loaded ? 1u : 0u) << k.size;
    }
}

TEST(Controller, ShutDownEndsEveryThreadEvenWithAQuestionNobodyAnswers) {
    const fs::path dir = recordings();
    Recorder yard(dir, "Yard DVR"), gate(dir, "Gate DVR");
    ASSERT_TRUE(yard.sim.started() && gate.sim.started());
    // A sanitizer's runtime starts a thread of its own with the first thread of the program.
    std::thread([] {}).join();
    const int before = threadCount();
    const fs::path folder = scratch("shutdown");
    {
        NotificationQueue notes;
        fsv::platform::Event exitEvent(fsv::platform::Event::Reset::Manual);
        QueuedUserPort port(notes, exitEvent);
        auto o = options(folder);
        o.exitEvent = &exitEvent;
        auto c = std::make_unique<Controller>(o, port, notes);
        EXPECT_EQ(&c->exitEvent(), &exitEvent);
        ASSERT_TRUE(c->connect(yard.request()));
        c->waitConnect();
        ASSERT_TRUE(c->connectAndWait(gate.request()).has_value());
        ASSERT_EQ(c->sessionCount(), 2);
        // Work started on a controller thread waits for its action question, which nobody
        // answers either: the exit ends it too.
        auto catalog = c->catalogs().catalogOf(c->sessions()[1].connectionNumber);
        ASSERT_TRUE(catalog);
        PeriodQuery query(c->dateWaiter(), &port, &exitEvent);
        query.askOnTimeout = false;
        ASSERT_EQ(query
                      .run(*catalog, {catalog->channelOfCode(net::kCamera, 1)},
                           {"20261201", "000000", "20261201", "235959"})
                      .outcome,
                  PeriodOutcome::Selected);
        ASSERT_TRUE(c->startWorkAsync());
        EXPECT_FALSE(c->startWorkAsync());  // one start at a time

        // Nobody drains the queue: the exit question waits until the exit event ends it.
        std::thread closer([&] {
            EXPECT_FALSE(c->shutDown(true));  // no answer counts as No
        });
        ASSERT_TRUE(eventually([&] {
            bool question = false;
            notes.drain([&](Notification& n) { question |= std::holds_alternative<Question>(n); });
            return question;
        }));
        EXPECT_EQ(c->sessionCount(), 2);
        const auto start = std::chrono::steady_clock::now();
        exitEvent.set();
        closer.join();
        EXPECT_TRUE(c->shutDown(false));
        EXPECT_EQ(c->sessionCount(), 0);
        c.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    }
    EXPECT_TRUE(eventually([&] { return threadCount() == before; }, 5s))
        << threadCount() - before << " threads left behind";
}

// The period query on the controller's thread, as the viewer runs it: its end comes as a
// PeriodQueried notification; one query at a time; the time-out question is queued like every
// worker's and its answers count (Retry waits again, Cancel ends it); a cancel ends the query
// without a question, and so does the shut-down, without a hang.
TEST(Controller, PeriodQueryOnAControllerThread) {
    const fs::path dir = recordings();
    Recorder yard(dir, "Yard DVR"), silent(dir, "Silent DVR", {"--fault", "silent-dates"});
    ASSERT_TRUE(yard.sim.started() && silent.sim.started());
    NotificationQueue notes;
    fsv::platform::Event exitEvent(fsv::platform::Event::Reset::Manual);
    QueuedUserPort port(notes, exitEvent);
    auto o = options(scratch("period"));
    o.exitEvent = &exitEvent;
    Controller c(o, port, notes);
    const auto yardId = c.connectAndWait(yard.request());
    const auto silentId = c.connectAndWait(silent.request());
    ASSERT_TRUE(yardId && silentId);
    const Period day{"20261201", "000000", "20261201", "235959"};
    const std::vector<int> firstCamera{0};

    // Takes the notifications until the query's end, answering each question in turn.
    auto endOf = [&](std::deque<BoxAnswer> answers, int* asked) {
        std::optional<PeriodSummary> end;
        EXPECT_TRUE(eventually([&] {
            notes.drain([&](Notification& n) {
                if (auto* q = std::get_if<Question>(&n)) {
                    EXPECT_EQ(q->text, kTimeoutQuestion);
                    ++*asked;
                    Answer a;
                    a.box = answers.empty() ? BoxAnswer::Cancel : answers.front();
                    if (!answers.empty()) answers.pop_front();
                    port.answer(q->id, a);
                }
                if (auto* p = std::get_if<PeriodQueried>(&n)) end = p->summary;
            });
            return end.has_value();
        }));
        return end.value_or(PeriodSummary{});
    };

    int asked = 0;
    ASSERT_TRUE(c.queryPeriodAsync(*yardId, firstCamera, day, 5s, true));
    auto end = endOf({}, &asked);
    EXPECT_EQ(end.outcome, PeriodOutcome::Selected);
    EXPECT_EQ(end.selected, 1);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(c.queryPeriodAsync(-1, firstCamera, day, 5s, true));  // no such session

    ASSERT_TRUE(c.queryPeriodAsync(*silentId, firstCamera, day, 200ms, true));
    EXPECT_FALSE(c.queryPeriodAsync(*yardId, firstCamera, day, 5s, true));  // one at a time
    end = endOf({BoxAnswer::Retry, BoxAnswer::Cancel}, &asked);
    EXPECT_EQ(end.outcome, PeriodOutcome::Cancelled);
    EXPECT_EQ(asked, 2);

    asked = 0;
    ASSERT_TRUE(c.queryPeriodAsync(*silentId, firstCamera, day, 60s, true));
    c.cancelPeriodQuery();
    EXPECT_EQ(endOf({}, &asked).outcome, PeriodOutcome::Exiting);
    EXPECT_EQ(asked, 0);

    ASSERT_TRUE(c.queryPeriodAsync(*silentId, firstCamera, day, 60s, true));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(c.shutDown(false));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    // The exit event also stops the session, whose stop may end the wait first.
    const auto last = endOf({}, &asked).outcome;
    EXPECT_TRUE(last == PeriodOutcome::Exiting || last == PeriodOutcome::Cancelled);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(c.queryPeriodAsync(*yardId, firstCamera, day, 5s, true));
}
