// Work started through the controller over recorder-sim processes serving generated
// recordings: the selection downloaded into the storage layout with its automatic resume file,
// the channel limit, a period by frames, and a resume file taken up to the last byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "client/Controller.h"
#include "platform/ScriptedUserPort.h"
#include "recordings/PeriodQuery.h"
#include "recordings/download/DownloadSession.h"
#include "sim/Generate.h"
#include "state/ResumeFile.h"
#include "tests/support/Eventually.h"
#include "tests/support/SimProcess.h"

using namespace fsv;
using namespace fsv::client;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace dl = fsv::download;
using fsv::test::SimProcess;

using fsv::test::eventually;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path scratch(const std::string& name) {
    fs::path dir =
        fs::path(FSV_BINARY_DIR) / "test-startwork" / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Two cameras and one audio channel, one recording each on 2026-12-01.
const fs::path& recordings() {
    static const fs::path dir = [] {
        fs::path d = scratch("recordings");
        sim::GenerateOptions o;
        o.cameras = 2;
        o.days = 1;
        o.eventsPerDay = 1;
        o.audioChannels = 1;
        std::string error;
        EXPECT_TRUE(sim::generateRecordings(d, o, &error)) << error;
        return d;
    }();
    return dir;
}

// The recorder's own file of a work-list row (its caption is the recorder's key).
fs::path sourceOf(const dl::WorkRow& row) {
    const std::string date = row.caption.substr(0, 8), time = row.caption.substr(8, 6);
    const int code = std::stoi(row.caption.substr(14, 3));
    const bool audio = row.path.find("/Aud") != std::string::npos;
    char folder[8];
    std::snprintf(folder, sizeof folder, audio ? "Aud%02d" : "Cam%02d", code);
    return recordings() / folder / date / (time + (audio ? ".wav" : ".avi"));
}

struct Bench {
    explicit Bench(const std::string& name, int maxChannel = 32,
                   const std::vector<std::string>& more = {})
        : sim(simArgs(more)), data(scratch(name)), out(data / "out") {
        fs::create_directories(out);
        port.folderAnswer = out;
        Controller::Options o;
        o.dataFolder = data;
        o.settings = state::Settings{};
        o.settings->maxChannel = maxChannel;
        o.download.pacing = false;
        c = std::make_unique<Controller>(o, port, notes);
    }
    static std::vector<std::string> simArgs(const std::vector<std::string>& more) {
        std::vector<std::string> args{
            "--recordings", recordings().string(), "--user", "admin", "--password", "pw", "--name",
            "Yard DVR",     "--protocol",          "34"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    ConnectRequest request() const {
        ConnectRequest r;
        r.address = "127.0.0.1";
        r.port = sim.port();
        r.id = "admin";
        r.password = "pw";
        return r;
    }
    // Connects and returns the recorder's catalog.
    std::shared_ptr<RecorderCatalog> connect() {
        if (!sim.started() || !c->connectAndWait(request())) return nullptr;
        int number = -1;
        eventually([&] { return (number = c->sessions()[0].connectionNumber) >= 0; });
        return number < 0 ? nullptr : c->catalogs().catalogOf(number);
    }
    // Selects the day's recordings of the given channel positions, as the period dialog does.
    bool select(RecorderCatalog& catalog, const std::vector<int>& channels) {
        PeriodQuery query(c->dateWaiter(), &port, &c->exitEvent());
        query.askOnTimeout = false;
        return query.run(catalog, channels, {"20261201", "000000", "20261201", "235959"}).outcome ==
               PeriodOutcome::Selected;
    }
    bool allRowsEnded(size_t n) {
        auto rows = c->workList().rows();
        if (rows.size() != n) return false;
        for (auto& r : rows)
            if (r.state == dl::RowState::Running) return false;
        return true;
    }

    SimProcess sim;
    fs::path data, out;
    ScriptedUserPort port;
    NotificationQueue notes;
    std::unique_ptr<Controller> c;
};

std::vector<int> positions(const std::vector<RecorderCatalog::Channel>& channels) {
    std::vector<int> out;
    for (auto& ch : channels) out.push_back(ch.position);
    return out;
}

}  // namespace

TEST(StartWork, JustDownloadOfTwoCamerasAndAudioLandsByteForByteWithItsResumeFile) {
    Bench b("download");
    auto catalog = b.connect();
    ASSERT_TRUE(catalog) << b.sim.error();
    EXPECT_EQ(b.c->startWork(), StartResult::NothingSelected);
    auto channels = positions(catalog->cameras());
    for (int p : positions(catalog->audioChannels())) channels.push_back(p);
    ASSERT_EQ(channels.size(), 3u);
    ASSERT_TRUE(b.select(*catalog, channels));

    // Audio in the selection: the whole selection is downloaded as files, without asking.
    ASSERT_EQ(b.c->startWork(), StartResult::Started);
    EXPECT_TRUE(b.port.actionQuestions().empty());
    EXPECT_EQ(b.c->lastDestination(), b.out.string() + "/");
    const fs::path autoFile = state::autoResumePath(b.data, catalog->connectionNumber());
    // Written by the start or by a queue that took its item meanwhile (whichever held it).
    state::ReadResult<state::ResumeData> kept;
    ASSERT_TRUE(eventually([&] {
        kept = state::loadResumeFile(autoFile);
        return kept.status == state::ReadStatus::Ok;
    })) << kept.message;
    EXPECT_EQ(kept.value.header.port, b.sim.port());

    ASSERT_TRUE(eventually([&] { return b.allRowsEnded(3); }));
    int audio = 0;
    for (auto& row : b.c->workList().rows()) {
        EXPECT_EQ(row.state, dl::RowState::Finished) << row.path;
        EXPECT_EQ(row.path.rfind(b.out.string() + "/", 0), 0u) << row.path;
        audio += row.path.find("/Aud01/") != std::string::npos;
        const std::string expected = slurp(sourceOf(row));
        ASSERT_FALSE(expected.empty()) << sourceOf(row);
        EXPECT_TRUE(slurp(row.path) == expected) << row.path;
    }
    EXPECT_EQ(audio, 1);
    // The queues ran empty: the file was rewritten without work; the session's end takes it.
    EXPECT_TRUE(eventually([&] {
        auto now = state::loadResumeFile(autoFile);
        return now.status == state::ReadStatus::Ok && now.value.records.empty();
    }));
    EXPECT_TRUE(b.c->shutDown(false));
    EXPECT_FALSE(fs::exists(autoFile));
}

TEST(StartWork, OverTheChannelLimitNothingStartsButFilesMayStillDownload) {
    Bench b("limit", 1);
    auto catalog = b.connect();
    ASSERT_TRUE(catalog) << b.sim.error();
    ASSERT_TRUE(b.select(*catalog, positions(catalog->cameras())));
    b.port.actionAnswer = 0;  // "Download && Play" of two cameras on one channel
    EXPECT_EQ(b.c->startWork(), StartResult::OverMaximum);
    ASSERT_FALSE(b.port.boxes().empty());
    EXPECT_EQ(b.port.boxes().back().text, "Over the maximum channel number!");
    EXPECT_EQ(b.port.boxes().back().type, mb::kIconStop);
    EXPECT_TRUE(b.c->workList().rows().empty());
    EXPECT_FALSE(fs::exists(state::autoResumePath(b.data, catalog->connectionNumber())));
    // Cancelling the action dialog declines; "Just Download" needs no channel.
    b.port.actionAnswer = -1;
    EXPECT_EQ(b.c->startWork(), StartResult::Declined);
    EXPECT_EQ(b.c->startWork(dl::Action::JustDownload), StartResult::Started);
    ASSERT_TRUE(eventually([&] { return b.allRowsEnded(2); }));
    for (auto& row : b.c->workList().rows()) EXPECT_EQ(row.state, dl::RowState::Finished);
}

TEST(StartWork, PeriodByFramesAsksTheRecordersCountAndSendsTheChosenRange) {
    Bench b("frames");
    auto catalog = b.connect();
    ASSERT_TRUE(catalog) << b.sim.error();
    ASSERT_TRUE(b.select(*catalog, {catalog->channelOfCode(net::kCamera, 2)}));
    b.port.actionAnswer = 3;
    int asked = 0;
    b.port.onFrameRange = [&](uint32_t, uint32_t& start, uint32_t& end) {
        // First an end before the start (refused with a message), then frames 5 to 9.
        start = asked++ == 0 ? 6 : 5;
        end = asked == 1 ? 5 : 9;
        return true;
    };
    ASSERT_TRUE(b.c->startWorkAsync());
    bool started = false;
    ASSERT_TRUE(eventually([&] {
        b.notes.drain([&](Notification& n) {
            if (auto* w = std::get_if<WorkStarted>(&n)) started = w->result == StartResult::Started;
        });
        return started;
    }));
    EXPECT_EQ(b.port.actionQuestions(), std::vector<bool>{true});  // one event: period offered
    const auto counts = b.port.frameCounts();
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_GE(counts[0], 9u);
    EXPECT_NE(counts[0], dl::kDefaultFrameCount);  // the recorder's own count
    EXPECT_TRUE(b.port.saw(dl::kEndBeforeStartText));

    ASSERT_TRUE(eventually([&] { return b.allRowsEnded(1); }));
    const auto row = b.c->workList().rows()[0];
    EXPECT_EQ(row.state, dl::RowState::Finished);
    EXPECT_NE(row.path.find("/Clip"), std::string::npos) << row.path;
    // The recorder serves frames first..last only: 4 to 8, five frames.
    EXPECT_EQ(row.frameCount, 5u);
    EXPECT_EQ(row.frames, 5u);
}

TEST(StartWork, ResumeFileLoadedThroughTheControllerFinishesTheFileAndGoes) {
    Bench b("resume");
    ASSERT_TRUE(b.sim.started()) << b.sim.error();
    // Camera 2's recording, half of it already on disk.
    fs::path source;
    for (auto& e : fs::directory_iterator(recordings() / "Cam02" / "20261201")) source = e.path();
    const std::string time = source.stem().string();
    const std::string whole = slurp(source);
    ASSERT_GT(whole.size(), 1000u);
    const std::string target =
        dl::makeOutputPath({b.out.string(), dl::QueueKind::File, 2, "20261201", time, 0,
                            dl::kWholeRecordingLastFrame});
    fs::create_directories(fs::path(target).parent_path());
    std::ofstream(target, std::ios::binary) << whole.substr(0, whole.size() / 2);

    state::ResumeData data;
    data.header = {b.sim.port(), "127.0.0.1", "admin", "pw"};
    state::ResumeRecord r;
    r.type = 11;
    r.camera = 2;
    r.eventKey = "20261201" + time;
    r.path = target;
    data.records.push_back(r);
    const fs::path file = b.data / "work.rsm";
    ASSERT_TRUE(state::saveResumeFile(file, data));

    ASSERT_TRUE(b.c->loadResumeFile(file));
    EXPECT_FALSE(fs::exists(file));
    ASSERT_TRUE(eventually([&] { return b.allRowsEnded(1); }));
    EXPECT_EQ(b.c->workList().rows()[0].state, dl::RowState::Finished);
    EXPECT_TRUE(slurp(target) == whole);
    // A file that is not a resume file stays where it is, with the message.
    std::ofstream(b.data / "junk.rsm") << "not a resume file";
    EXPECT_FALSE(b.c->loadResumeFile(b.data / "junk.rsm"));
    EXPECT_TRUE(b.port.saw(state::kUnexpectedFileFormat));
    EXPECT_TRUE(fs::exists(b.data / "junk.rsm"));
}

// Unfinished work found at start is the previous run's automatic file, which the new
// connection (the first again) writes too: taken up through the housekeeping thread as the
// viewer does, the file keeps describing the work while it runs.
TEST(StartWork, AutomaticFileTakenUpAtStartKeepsDescribingTheWork) {
    Bench b("autostart", 32, {"--fault", "silent-after-open"});
    ASSERT_TRUE(b.sim.started()) << b.sim.error();
    fs::path source;
    for (auto& e : fs::directory_iterator(recordings() / "Cam02" / "20261201")) source = e.path();
    const std::string key = "20261201" + source.stem().string();
    state::ResumeData data;
    data.header = {b.sim.port(), "127.0.0.1", "admin", "pw"};
    state::ResumeRecord r;
    r.type = 11;
    r.camera = 2;
    r.eventKey = key;
    r.path = dl::makeOutputPath({b.out.string(), dl::QueueKind::File, 2, "20261201",
                                 source.stem().string(), 0, dl::kWholeRecordingLastFrame});
    data.records.push_back(r);
    const fs::path file = state::autoResumePath(b.data, 0);
    ASSERT_TRUE(state::saveResumeFile(file, data));

    std::atomic<int> loads{0};
    std::atomic<bool> describedAfterLoad{false};
    b.c->onResumeFile = [&](const fs::path& f) {
        const bool taken = b.c->loadResumeFile(f);
        // Looked at at once: a later rewrite by the queues must not hide a moment without it.
        if (f == file) describedAfterLoad = state::loadResumeFile(file).value.records.size() == 1;
        ++loads;
        return taken;
    };
    b.c->queueResumeFile(file);
    // A second file behind it: once it is taken, the housekeeping thread is done with the first.
    b.c->queueResumeFile(b.data / "none.rsm");
    ASSERT_TRUE(eventually([&] { return loads == 2; }));
    EXPECT_TRUE(describedAfterLoad);
    ASSERT_EQ(b.c->workList().rows().size(), 1u);
    const auto now = state::loadResumeFile(file);
    ASSERT_EQ(now.status, state::ReadStatus::Ok);
    ASSERT_EQ(now.value.records.size(), 1u);
    EXPECT_EQ(now.value.records[0].eventKey, key);
}

// A recorder that never answers a stream open keeps the first item of each queue running and
// the rest waiting. Each row names its session and channel; a waiting item can be deleted (its
// row stops, its event can be selected again, the automatic file forgets it) while a running
// one cannot; closing the connection stops the rows of what still waits. The event list's
// window messages come through the notifications.
TEST(StartWork, WaitingWorkCanBeDeletedAndEndsStoppedWithItsConnection) {
    Bench b("delete", 32, {"--fault", "silent-after-open"});
    auto catalog = b.connect();
    ASSERT_TRUE(catalog) << b.sim.error();
    const SessionId id = b.c->sessions()[0].id;
    // Opening a day that is not loaded: the window waits, then its events end the wait.
    const int camera = catalog->cameras()[0].position;
    int day = -1;
    for (auto& d : b.c->eventList().days(catalog->connectionNumber(), camera)) day = d.position;
    ASSERT_TRUE(catalog->openDay(camera, day));
    std::vector<bool> waits;
    EXPECT_TRUE(eventually([&] {
        b.notes.drain([&](Notification& n) {
            auto* e = std::get_if<EventListChanged>(&n);
            if (e && e->what == EventListChanged::What::Waiting) waits.push_back(e->waiting);
        });
        return waits.size() >= 2;
    }));
    EXPECT_EQ(waits, (std::vector<bool>{true, false}));

    auto channels = positions(catalog->cameras());
    for (int p : positions(catalog->audioChannels())) channels.push_back(p);
    ASSERT_TRUE(b.select(*catalog, channels));

    // Cameras 1 and 2 share the file queue (2 waits behind 1); the audio has its own.
    ASSERT_EQ(b.c->startWork(), StartResult::Started);
    ASSERT_EQ(b.c->workList().rows().size(), 3u);
    for (auto& row : b.c->workList().rows()) {
        EXPECT_EQ(row.session, id);
        EXPECT_EQ(row.mode, 11);
        const bool audio = row.path.find("/Aud") != std::string::npos;
        const auto& names = audio ? catalog->audioChannels() : catalog->cameras();
        const int code = std::stoi(row.caption.substr(14, 3));
        auto named = std::find_if(names.begin(), names.end(), [&](auto& ch) {
            return ch.code == code && ch.name == row.channelName;
        });
        EXPECT_NE(named, names.end()) << row.caption << " " << row.channelName;
    }
    auto fileOf = [](uint16_t code) {
        return [code](const dl::WorkItem& i) {
            return i.queue == dl::QueueKind::File && i.channelCode == code;
        };
    };
    auto waiting = [&](uint16_t code) {
        bool found = false;
        b.c->withDownloads(id, [&](dl::DownloadSession& d) {
            for (auto& i : d.unfinished()) found |= fileOf(code)(i);
        });
        return found;
    };
    ASSERT_TRUE(eventually([&] {
        bool running = false;
        b.c->withDownloads(id, [&](dl::DownloadSession& d) {
            running = d.fileQueue().hasCurrentStream() && d.fileQueue().itemCount() == 1;
        });
        return running;
    }));
    EXPECT_FALSE(b.c->removeQueuedWork(id, fileOf(1)));  // it runs
    EXPECT_FALSE(b.c->removeQueuedWork(id + 1, fileOf(2)));
    ASSERT_TRUE(b.c->removeQueuedWork(id, fileOf(2)));
    EXPECT_FALSE(b.c->removeQueuedWork(id, fileOf(2)));
    EXPECT_FALSE(waiting(2));
    int stopped = -1;
    for (auto& row : b.c->workList().rows())
        if (std::stoi(row.caption.substr(14, 3)) == 2 && row.path.find("/Aud") == std::string::npos)
            stopped = static_cast<int>(row.state);
    EXPECT_EQ(stopped, static_cast<int>(dl::RowState::Stopped));
    const auto kept =
        state::loadResumeFile(state::autoResumePath(b.data, catalog->connectionNumber()));
    ASSERT_EQ(kept.status, state::ReadStatus::Ok) << kept.message;
    EXPECT_EQ(kept.value.records.size(), 2u);
    for (auto& r : kept.value.records) EXPECT_FALSE(r.listFlag == 0 && r.camera == 2);

    // Its event lost the queued mark: it is selected and queued again, behind camera 1.
    ASSERT_TRUE(b.select(*catalog, {catalog->channelOfCode(net::kCamera, 2)}));
    ASSERT_EQ(b.c->startWork(dl::Action::JustDownload), StartResult::Started);
    ASSERT_EQ(b.c->workList().rows().size(), 4u);
    ASSERT_TRUE(waiting(2));

    b.c->queueConnectionClose(0);
    bool removed = false;
    ASSERT_TRUE(eventually([&] {
        b.notes.drain(
            [&](Notification& n) { removed |= std::holds_alternative<SessionRemoved>(n); });
        return removed;
    }));
    for (auto& row : b.c->workList().rows())
        EXPECT_EQ(row.state, dl::RowState::Stopped) << row.caption;
}

// A resume file none of whose records the recorder can serve is taken up as before, and the user
// is told in one box which records were left out and why.
TEST(StartWork, ResumeRecordsLeftOutAreNamedInOneBox) {
    Bench b("skipped");
    ASSERT_TRUE(b.sim.started()) << b.sim.error();
    fs::path source;
    for (auto& e : fs::directory_iterator(recordings() / "Cam02" / "20261201")) source = e.path();
    const std::string time = source.stem().string();
    state::ResumeData data;
    data.header = {b.sim.port(), "127.0.0.1", "admin", "pw"};
    struct Row {
        uint16_t camera;
        std::string key, why;
    };
    const std::vector<Row> rows = {
        {9, "20261201" + time, "no such channel"},
        {2, "20250101" + time, "no such day"},
        {2, "20261201235959", "no such recording"},
    };
    for (auto& row : rows) {
        state::ResumeRecord r;
        r.type = 11;
        r.camera = row.camera;
        r.eventKey = row.key;
        r.path = dl::makeOutputPath({b.out.string(), dl::QueueKind::File, row.camera,
                                     row.key.substr(0, 8), row.key.substr(8), 0,
                                     dl::kWholeRecordingLastFrame});
        data.records.push_back(r);
    }
    const fs::path file = b.data / "gone.rsm";
    ASSERT_TRUE(state::saveResumeFile(file, data));
    ASSERT_TRUE(b.c->loadResumeFile(file));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(b.c->workList().rows().empty());
    std::vector<std::string> told;
    for (auto& box : b.port.boxes())
        if (box.text.find("gone.rsm") != std::string::npos) told.push_back(box.text);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].rfind("Some work of gone.rsm was left out:", 0), 0u) << told[0];
    for (auto& row : rows) {
        const std::string line =
            row.key + " of channel " + std::to_string(row.camera) + ": the recorder has " + row.why;
        EXPECT_NE(told[0].find(line), std::string::npos) << line << "\n" << told[0];
    }

    // A long list names ten and counts the rest.
    const std::string many = skippedWorkText("x.rsm", std::vector<std::string>(13, "r"));
    EXPECT_EQ(std::count(many.begin(), many.end(), '\n'), 11);
    EXPECT_NE(many.find("... and 3 more"), std::string::npos);
}
