// fsv archive run --archive DIR [--group G | --all | NAME...] [--since 2d | --from ... --to ...]
//                 [--jobs N] [--limit-rate KB/s] [--audio] [--json]
// Copies every recording of the window that the archive's catalog does not hold yet, from each
// chosen recorder of the address book. Recorders are worked off by a pool of --jobs threads;
// each logs in on a controller of its own and fetches its recordings as whole files (mode 11),
// one stream at a time, into DIR/.incoming/<recorder>/, at most --limit-rate KB/s each. The
// streams hash the bytes as they write them (a continued file's kept part is read and hashed
// first). A finished file is checked against the size the recorder listed, noted as pending and
// renamed into DIR/<recorder>/<storage layout>; the sealer commits its row once a flush of the
// archive's file system that began after the rename has ended (the files of every recorder
// that finish meanwhile share one flush). A recorder that fails
// leaves the others running; what it did not finish stays for the next run (a file cut short is
// continued from its end).
//
// Threads: the pool's workers, each owning one controller (and its threads) at a time; the
// catalog writer; the sealer (it waits on the writer, holding none of its own locks); the
// reporter's lock serializes standard output and error. No lock is held while another is
// taken.
#include "ArchiveRun.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>

#include "CommandSupport.h"
#include "Commands.h"
#include "archive/Catalog.h"
#include "archive/Store.h"
#include "platform/Event.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "recordings/PeriodQuery.h"
#include "recordings/download/StorageLayout.h"
#include "recordings/download/Work.h"
#include "state/AddressBook.h"

namespace fsv::cli {

namespace {

namespace fs = std::filesystem;
namespace dl = fsv::download;
namespace ar = fsv::archive;

struct Target {
    std::string name;  // the address book's name: the recorder's name in the archive
    ConnectRequest request;
};

struct Outcome {
    int archived = 0, present = 0, failed = 0;
    uint64_t bytes = 0;
    std::string error;  // the recorder could not be worked at all
    bool ok() const { return failed == 0 && error.empty(); }
};

// Progress and summaries of every recorder: a line per recorder redrawn in place on a
// terminal, JSON lines with --json, plain lines otherwise.
class Reporter {
  public:
    explicit Reporter(bool json) : json_(json), bars_(!json && isatty(2)) {}

    void state(const std::string& recorder, const std::string& what) {
        std::lock_guard lock(lock_);
        if (json_) return line({{"event", "recorder"}, {"recorder", recorder}, {"state", what}});
        rows_[recorder].state = what;
        draw();
    }
    void progress(const std::string& recorder, uint64_t done, uint64_t total) {
        std::lock_guard lock(lock_);
        Row& r = rows_[recorder];
        const int percent = percentOf(done, total, 100);
        if (percent == r.percent && r.total == total) return;
        r.percent = percent;
        r.total = total;
        if (json_)
            return line({{"event", "progress"},
                         {"recorder", recorder},
                         {"bytes", done},
                         {"total", total},
                         {"percent", percent}});
        draw();
    }
    void file(const std::string& recorder, const ar::RecordingRow& row) {
        std::lock_guard lock(lock_);
        if (json_)
            return line({{"event", "archived"},
                         {"recorder", recorder},
                         {"path", row.path},
                         {"bytes", row.bytes},
                         {"sha256", row.sha256}});
    }
    void problem(const std::string& recorder, const std::string& text) {
        std::lock_guard lock(lock_);
        if (json_)
            return line({{"event", "error"},
                         {"recorder", recorder},
                         {"text", fsv::platform::toUtf8(text)}});
        told_[recorder].insert(text);
        bars_.clear();
        std::fprintf(stderr, "%s: %s\n", fsv::platform::terminalText(recorder).c_str(),
                     fsv::platform::terminalText(text, true).c_str());
        draw();
    }
    void summary(const std::string& recorder, const Outcome& o) {
        std::lock_guard lock(lock_);
        rows_.erase(recorder);
        if (json_) {
            nlohmann::json j{
                {"event", "summary"},   {"recorder", recorder}, {"archived", o.archived},
                {"present", o.present}, {"failed", o.failed},   {"bytes", o.bytes},
                {"ok", o.ok()}};
            if (!o.error.empty()) j["error"] = fsv::platform::toUtf8(o.error);
            return line(j);
        }
        // An error told already as it happened is not repeated.
        const std::string error = told_[recorder].count(o.error) ? std::string() : o.error;
        told_.erase(recorder);
        bars_.clear();
        std::printf("%s: %d archived (%s), %d already there, %d failed%s%s\n",
                    fsv::platform::terminalText(recorder).c_str(), o.archived,
                    fsv::SizeText(o.bytes).c_str(), o.present, o.failed, error.empty() ? "" : ": ",
                    fsv::platform::terminalText(error, true).c_str());
        std::fflush(stdout);
        draw();
    }

  private:
    struct Row {
        std::string state;
        int percent = -1;
        uint64_t total = 0;
    };
    void line(const nlohmann::json& j) {
        printJson(j);
        std::fflush(stdout);
    }
    void draw() {
        bars_.clear();
        for (auto& [name, r] : rows_)
            bars_.line(std::max(0, r.percent), fsv::platform::terminalText(name) + " " + r.state);
    }

    std::mutex lock_;
    const bool json_;
    TerminalBars bars_;
    std::map<std::string, Row> rows_;
    std::map<std::string, std::set<std::string>> told_;  // problems shown, by recorder
};

// One recording chosen for fetching: its work item and the row it becomes.
struct Wanted {
    dl::WorkItem item;
    int channel = -1;
    ar::RecordingRow row;
};

// Works off one recorder on a controller of its own.
class RecorderRun {
  public:
    RecorderRun(const Target& target, const ArchiveRunArgs& args, const fsv::Period& period,
                ar::CatalogWriter& writer, ar::Sealer& sealer, Reporter& report)
        : t_(target),
          args_(args),
          period_(period),
          writer_(writer),
          sealer_(sealer),
          report_(report) {}

    Outcome run() {
        const fs::path dir = fs::absolute(args_.archive);
        staging_ = dir / ar::kIncomingFolder / ar::folderName(t_.name);
        dir_ = dir;
        std::error_code ec;
        // The controller's own resume files are of no use here: the catalog knows what is left.
        fs::remove_all(staging_ / ".state", ec);
        fs::create_directories(staging_ / ".state", ec);
        if (ec) return failed("cannot make " + staging_.string() + ": " + ec.message());

        client::Controller::Options o;
        o.dataFolder = staging_ / ".state";
        o.timing = sessionTiming(args_.waitSeconds);
        o.transport = transportTiming(args_.waitSeconds);
        o.refusePlainLogin = args_.noPlainLogin;
        o.replyTimeout = std::chrono::seconds(args_.waitSeconds);
        o.download.pacing = false;
        o.autoResume = false;
        o.download.hashFiles = true;
        // Every file is flushed before its row exists: its bytes go to the disk as they come.
        o.download.writeBehind = 512 * 1024;
        o.download.rateLimit = static_cast<uint64_t>(args_.limitRate) * 1024;
        state::Settings settings;
        settings.tell = false;
        settings.overwrite = false;
        o.settings = settings;
        answer();
        controller_ = std::make_unique<client::Controller>(o, user_, notes_);
        Outcome out = fetchAll();
        controller_->shutDown(false);
        notes_.drain([](client::Notification&) {});
        return out;
    }

  private:
    Outcome failed(const std::string& why) {
        Outcome o;
        o.error = why;
        return o;
    }

    // The command line's answers: a partial file of an earlier run is continued, the rest is
    // only told.
    void answer() {
        user_.onExistingFile = [](const fs::path&, bool offerResume) {
            return offerResume ? ExistingFileAnswer::Resume : ExistingFileAnswer::Overwrite;
        };
        user_.onMessage = [this](const std::string& text, unsigned type) {
            if (type == mb::kIconStop || text.rfind("Failed to open file", 0) == 0)
                report_.problem(t_.name, text);
        };
        user_.folderAnswer = staging_.string();
    }

    Outcome fetchAll() {
        report_.state(t_.name, "connecting");
        std::string error;
        const auto id = controller_->connectAndWait(t_.request, &error);
        if (!id) return failed(error);
        session_ = *id;
        controller_->withSession(session_, [&](net::ServerSession& s) {
            recorderName_ = s.recorderName();
            catalog_ = controller_->catalogs().catalog(s);
        });
        if (!catalog_) return failed("the recorder's channels could not be read");

        std::vector<Chosen> chosen;
        const std::vector<std::string> all{"all"};
        if (!choose(all, net::kCamera, *catalog_, chosen, "fsv archive") ||
            (args_.audio && !choose(all, net::kAudio, *catalog_, chosen, "fsv archive")))
            return failed("the recorder's channels could not be read");
        std::set<std::string> archived;
        if (!noteRecorder(chosen, archived)) return failed("the catalog cannot be written");

        report_.state(t_.name, "querying");
        if (!queryPeriod(*controller_, session_, chosen, period_, args_.waitSeconds))
            return failed("the recorder's days could not be had");

        // The date queries are done: what follows is the catalog's look-up and the fetching.
        report_.state(t_.name, "checking");
        Outcome out;
        std::vector<Wanted> cameras, audio;
        pick(chosen, archived, cameras, audio, out);
        // Cameras first, then the audio channels: one stream at a time at the recorder.
        for (auto* batch : {&cameras, &audio}) {
            if (batch->empty()) continue;
            fetch(*batch, out);
            if (!out.error.empty()) break;
        }
        return out;
    }

    // The recorder and its channels in the catalog, and what it already holds of them.
    bool noteRecorder(const std::vector<Chosen>& chosen, std::set<std::string>& archived) {
        const int r = catalog_->connectionNumber();
        std::map<int, std::string> names;
        for (auto& row : controller_->eventList().channels(r)) names[row.position] = row.name;
        return writer_.call([&](ar::Catalog& c) {
            const auto id = c.recorder(t_.name, t_.request.address, t_.request.port, recorderName_);
            if (!id) return false;
            for (auto& ch : chosen)
                if (!c.channel(*id, kindOf(ch.kind), ch.code, names[ch.position])) return false;
            archived = c.archivedKeys(t_.name);
            return true;
        });
    }

    static ar::ChannelKind kindOf(net::ChannelKind k) {
        return k == net::kAudio ? ar::ChannelKind::Audio : ar::ChannelKind::Camera;
    }

    // The selected events the catalog does not hold, as work items into the staging folder;
    // those it holds lose their mark.
    void pick(const std::vector<Chosen>& chosen, const std::set<std::string>& archived,
              std::vector<Wanted>& cameras, std::vector<Wanted>& audio, Outcome& out) {
        EventList& list = controller_->eventList();
        const int r = catalog_->connectionNumber();
        const std::string folder = ar::folderName(t_.name);
        for (auto& c : chosen) {
            std::string name;
            for (auto& row : list.channels(r))
                if (row.position == c.position) name = row.name;
            const bool isAudio = c.kind == net::kAudio;
            for (auto& day : list.days(r, c.position))
                for (auto& e : list.events(r, c.position, day.position)) {
                    if (e.mark != kMarkSelected) continue;
                    const std::string key = day.date + e.time;
                    if (archived.count(ar::Catalog::channelKey(kindOf(c.kind), c.code, key))) {
                        ++out.present;
                        list.setMark(kMarkNone, r, c.position, day.position, e.position);
                        continue;
                    }
                    Wanted w;
                    dl::WorkItem& item = w.item;
                    item.queue = isAudio ? dl::QueueKind::Audio : dl::QueueKind::File;
                    item.action = dl::Action::JustDownload;
                    item.channelCode = c.code;
                    item.channelName = name;
                    item.dayPosition = day.position;
                    item.eventPosition = e.position;
                    item.eventKey = key;
                    item.dateId = day.dateId;
                    item.size = e.size;
                    dl::PathInputs in{staging_.string(), item.queue,  item.channelCode, item.date(),
                                      item.time(),       item.dateId, item.lastFrame};
                    item.outputPath = dl::makeOutputPath(in);
                    in.root.clear();
                    w.channel = c.position;
                    w.row.recorder = t_.name;
                    w.row.kind = kindOf(c.kind);
                    w.row.code = c.code;
                    w.row.cameraName = name;
                    w.row.eventKey = key;
                    w.row.dateId = day.dateId;
                    w.row.start = ar::startOfKey(key);
                    std::string inFolder = dl::makeOutputPath(in);  // "/Cam01/..."
                    inFolder.erase(0, inFolder.find_first_not_of('/'));
                    w.row.path = folder + "/" + inFolder;
                    // Marked again when its batch starts.
                    list.setMark(kMarkNone, r, c.position, day.position, e.position);
                    (isAudio ? audio : cameras).push_back(std::move(w));
                }
        }
    }

    // Fetches one batch: only its events carry the mark while the work starts.
    void fetch(std::vector<Wanted>& batch, Outcome& out) {
        EventList& list = controller_->eventList();
        const int r = catalog_->connectionNumber();
        std::map<std::string, Wanted*> byPath;
        uint64_t total = 0;
        for (auto& w : batch) {
            byPath[w.item.outputPath] = &w;
            total += w.item.size;
        }
        // Only the batch's events carry the mark when the work starts.
        for (auto& w : batch)
            list.setMark(kMarkSelected, r, w.channel, w.item.dayPosition, w.item.eventPosition);
        report_.state(t_.name, "fetching");
        const auto started = controller_->startWork(dl::Action::JustDownload);
        if (started != client::StartResult::Started) {
            out.failed += static_cast<int>(batch.size());
            out.error = "the work could not be started";
            return;
        }
        std::set<std::string> handled;
        std::map<int, uint64_t> received;
        uint64_t done = 0;
        auto handle = [&](client::Notification& n) {
            auto* changed = std::get_if<client::WorkRowChanged>(&n);
            if (!changed) return;
            const dl::WorkRow& row = changed->row;
            received[row.id] = row.received;
            if (row.state == dl::RowState::Finished && !handled.count(row.path)) {
                handled.insert(row.path);
                auto it = byPath.find(row.path);
                if (it != byPath.end()) keep(*it->second, row.sha256, out);
            }
            uint64_t sum = done;
            for (auto& [rowId, bytes] : received) sum += bytes;
            report_.progress(t_.name, std::min(sum, total), total);
        };
        while (!controller_->idle()) {
            notes_.drain(handle);
            // A finished file is taken as soon as its row says so; whether the work is over
            // is looked at again now and then.
            fsv::platform::waitAny({&notesReady_}, std::chrono::milliseconds(20));
            countSealed(out, false);
        }
        notes_.drain(handle);
        for (auto& row : controller_->workList().rows()) {
            if (row.state == dl::RowState::Finished && !handled.count(row.path)) {
                handled.insert(row.path);
                auto it = byPath.find(row.path);
                if (it != byPath.end()) keep(*it->second, row.sha256, out);
            }
        }
        countSealed(out, true);
        for (auto& [path, w] : byPath)
            if (!handled.count(path)) ++out.failed;
        bool gone = true;
        controller_->withSession(session_, [&](net::ServerSession& s) {
            gone = s.stopEvent().isSet() || s.closedByRecorder() || s.stalled();
        });
        if (gone && out.failed) out.error = "the recorder ended the connection";
    }

    // A finished file into the archive: checked against its size, then placed; its row is
    // committed by the sealer once the file is on the disk. `sha256`: the hash its stream took
    // while writing (empty: read back here).
    void keep(Wanted& w, const std::string& sha256, Outcome& out) {
        std::string error;
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        if (!ar::checkFetched(w.item.outputPath, w.item.size, w.row, &error, sha256, false)) {
            ++out.failed;
            report_.problem(t_.name, error);
            return;
        }
        sealing_.push_back({w.row, sealer_.place(w.item.outputPath, w.row, now)});
    }

    // The placed files whose rows are committed (all of them, waiting, when `wait`) counted
    // and told.
    void countSealed(Outcome& out, bool wait) {
        using namespace std::chrono_literals;
        for (auto it = sealing_.begin(); it != sealing_.end();) {
            if (!wait && it->sealed.wait_for(0s) != std::future_status::ready) {
                ++it;
                continue;
            }
            const ar::Sealed sealed = it->sealed.get();
            if (sealed.ok) {
                ++out.archived;
                out.bytes += it->row.bytes;
                report_.file(t_.name, it->row);
            } else {
                ++out.failed;
                report_.problem(t_.name, sealed.error);
            }
            it = sealing_.erase(it);
        }
    }

    const Target& t_;
    const ArchiveRunArgs& args_;
    const fsv::Period& period_;
    ar::CatalogWriter& writer_;
    ar::Sealer& sealer_;
    Reporter& report_;
    fs::path dir_, staging_;
    ScriptedUserPort user_;
    fsv::platform::Event notesReady_{fsv::platform::Event::Reset::Auto};  // set as notes_ fills
    client::NotificationQueue notes_{[this] { notesReady_.set(); }};
    std::unique_ptr<client::Controller> controller_;
    client::SessionId session_ = -1;
    std::string recorderName_;
    std::shared_ptr<RecorderCatalog> catalog_;
    struct Sealing {
        ar::RecordingRow row;
        std::future<ar::Sealed> sealed;
    };
    std::list<Sealing> sealing_;  // placed, their rows not yet committed
};

// The recorders named on the command line, from the address book.
bool chooseTargets(const ArchiveRunArgs& args, std::vector<Target>& out) {
    const auto loaded = state::loadAddressBook(state::addressBookPath());
    if (!loaded.usable()) {
        printError("fsv archive run: the address book cannot be read: " + loaded.message);
        return false;
    }
    const state::AddressBook& book = loaded.value;
    auto add = [&](const state::AddressBookEntry& e) {
        ConnectRequest request = state::toConnectRequest(e);
        out.push_back({e.name, request});
    };
    if (args.all || !args.group.empty()) {
        for (int g = 0; book.group(g); ++g) {
            const state::AddressBookGroup* group = book.group(g);
            if (!args.all && group->name != args.group) continue;
            for (auto& e : group->entries) add(e);
        }
        if (!args.all && book.findGroup(args.group) < 0) {
            printError("fsv archive run: the address book has no group \"" + args.group + "\"");
            return false;
        }
    }
    for (auto& name : args.names) {
        std::string error;
        auto found = state::findBookConnection(book, name, std::nullopt, &error);
        if (!found) {
            printError("fsv archive run: " + error);
            return false;
        }
        out.push_back({name, *found});
    }
    std::set<std::string> seen;
    for (auto& t : out)
        if (!seen.insert(t.name).second) {
            printError("fsv archive run: two chosen recorders are called \"" + t.name +
                       "\"; the archive knows a recorder by its name");
            return false;
        }
    if (out.empty()) {
        printError("fsv archive run: no recorder chosen (NAME..., --group G or --all)");
        return false;
    }
    return true;
}

bool windowOf(const ArchiveRunArgs& args, fsv::Period& period) {
    if (!args.since.empty()) {
        const long long span = parseSpan(args.since);
        if (span < 0) {
            printError("fsv archive run: --since wants a span such as 2d, 12h or 90m");
            return false;
        }
        auto moment = [](std::time_t t, std::string& date, std::string& time) {
            std::tm tm{};
            localtime_r(&t, &tm);
            char d[16], h[16];
            std::strftime(d, sizeof d, "%Y%m%d", &tm);
            std::strftime(h, sizeof h, "%H%M%S", &tm);
            date = d;
            time = h;
        };
        const std::time_t now = std::time(nullptr);
        moment(now - static_cast<std::time_t>(span), period.startDate, period.startTime);
        moment(now, period.endDate, period.endTime);
        return true;
    }
    if (!parseMoment(args.from, false, period.startDate, period.startTime) ||
        !parseMoment(args.to, true, period.endDate, period.endTime)) {
        printError("fsv archive run: --from and --to want \"YYYY-MM-DD HH:MM:SS\"");
        return false;
    }
    return true;
}

}  // namespace

long long parseSpan(const std::string& text) {
    if (text.size() < 2 || text.size() > 8) return -1;
    const std::string digits = text.substr(0, text.size() - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    const long long n = std::stoll(digits);
    switch (text.back()) {
        case 'd':
            return n * 86400;
        case 'h':
            return n * 3600;
        case 'm':
            return n * 60;
        default:
            return -1;
    }
}

int runArchive(const ArchiveRunArgs& args) {
    if (args.since.empty() == (args.from.empty() && args.to.empty()) ||
        args.from.empty() != args.to.empty()) {
        printError("fsv archive run: give the window as --since SPAN or --from ... --to ...");
        return 2;
    }
    fsv::Period period;
    if (!windowOf(args, period)) return 2;
    std::vector<Target> targets;
    if (!chooseTargets(args, targets)) return 2;

    std::error_code ec;
    fs::create_directories(args.archive, ec);
    ar::CatalogWriter writer;
    std::string error;
    if (!writer.open(args.archive, &error)) {
        printError("fsv archive run: " + ar::Catalog::fileIn(args.archive).string() + ": " + error);
        return 1;
    }
    // What a run killed between a file's rename and its row left behind.
    const int recovered = writer.call(
        [&](ar::Catalog& c) { return ar::recoverPending(c, fs::absolute(args.archive)); });
    (void)recovered;

    // Made after the writer and gone before it: it commits through it.
    ar::Sealer sealer(writer, fs::absolute(args.archive));
    Reporter report(args.json);
    std::atomic<size_t> next{0};
    std::atomic<bool> allOk{true};
    auto worker = [&] {
        for (size_t i; (i = next++) < targets.size();) {
            RecorderRun run(targets[i], args, period, writer, sealer, report);
            const Outcome o = run.run();
            if (!o.ok()) allOk = false;
            report.summary(targets[i].name, o);
        }
    };
    const size_t jobs =
        std::min<size_t>(static_cast<size_t>(std::max(1, args.jobs)), targets.size());
    std::vector<std::thread> pool;
    for (size_t j = 0; j < jobs; ++j) pool.emplace_back(worker);
    for (auto& t : pool) t.join();
    return allOk ? 0 : 1;
}

}  // namespace fsv::cli
