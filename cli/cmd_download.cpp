// fsv download HOST[:PORT]|--book NAME [--group GROUP] -u ID [-p PASSWORD]
//              --camera CODE[,...]|all [--audio CODE[,...]|all]
//              --from "YYYY-MM-DD HH:MM:SS" --to "YYYY-MM-DD HH:MM:SS" -o DIR
//              [--mode file|avi] [--first N --last M] [--overwrite] [--json]
// fsv resume FILE.rsm [-p PASSWORD] [--json]
// Downloads the recordings of the period into DIR in the viewer's folder layout: "file" takes
// the recorder's own bytes (resumable at a byte offset), "avi" takes the frames one by one and
// writes our AVI file (continued from its last frame). What an earlier run left unfinished is
// continued; --overwrite starts every file anew. Exits non-zero when any recording failed.
// While the work runs, the connection's automatic resume file "Auto<k+1>.rsm" in the data
// folder lists what is unfinished; a recorder that drops the connection leaves it as
// "Temp<k>.rsm", which `fsv resume` connects with and finishes.
// Built when the download layer and the recorder session are part of this build.
#if defined(FSV_DOWNLOAD_SESSIONS)
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CommandSupport.h"
#include "Commands.h"
#include "client/ResumeWork.h"
#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "recordings/PeriodQuery.h"
#include "recordings/SessionCatalogs.h"
#include "recordings/download/SessionBinding.h"
#include "recordings/download/Work.h"
#include "state/ResumeFile.h"

namespace {

namespace dl = fsv::download;
namespace fs = std::filesystem;

struct DownloadArgs {
    std::shared_ptr<fsv::cli::LoginArgs> login = std::make_shared<fsv::cli::LoginArgs>();
    std::vector<std::string> cameras, audio;
    std::string from, to;
    std::string out;
    std::string mode = "file";
    int first = 0, last = 0;
    bool overwrite = false;
    bool json = false;
    int waitSeconds = 30;
};

// Progress on standard error: one bar per running file and one for the whole, redrawn in place
// on a terminal; or one JSON line per step (whole percent) and per finished file.
class Progress {
  public:
    Progress(bool json, uint64_t total) : json_(json), tty_(isatty(2)), total_(total) {}

    void row(const dl::WorkRow& r) {
        std::lock_guard lock(mutex_);
        auto& seen = rows_[r.id];
        const uint64_t before = seen.received;
        const bool wasFinal = seen.state != dl::RowState::Running;
        seen = r;
        done_ += r.received >= before ? r.received - before : 0;
        const int percent =
            r.size ? static_cast<int>(std::min<uint64_t>(100, r.received * 100 / r.size)) : 0;
        if (json_) {
            if (r.state != dl::RowState::Running && !wasFinal) {
                line({{"event", r.state == dl::RowState::Finished ? "finished" : "failed"},
                      {"file", platform::toUtf8(r.path)},
                      {"bytes", r.received},
                      {"frames", r.frames}});
            } else if (r.state == dl::RowState::Running && percent != percents_[r.id]) {
                percents_[r.id] = percent;
                line({{"event", "progress"},
                      {"file", platform::toUtf8(r.path)},
                      {"bytes", r.received},
                      {"size", r.size},
                      {"percent", percent},
                      {"overall", overall()}});
            }
            return;
        }
        if (r.state != dl::RowState::Running && !wasFinal) {
            clear();
            std::fprintf(stderr, "%s %s\n", r.state == dl::RowState::Finished ? "done  " : "FAILED",
                         platform::terminalText(r.path).c_str());
        }
        draw();
    }
    void message(const std::string& text) {
        std::lock_guard lock(mutex_);
        if (json_) return line({{"event", "message"}, {"text", platform::toUtf8(text)}});
        clear();
        std::fprintf(stderr, "%s\n", platform::terminalText(text, true).c_str());
        draw();
    }
    void finish() {
        std::lock_guard lock(mutex_);
        if (!json_) clear();
    }

  private:
    int overall() const {
        return total_ ? static_cast<int>(std::min<uint64_t>(100, done_ * 100 / total_)) : 100;
    }
    void line(const nlohmann::json& j) {
        fsv::cli::printJson(j);
        std::fflush(stdout);
    }
    static std::string bar(int percent) {
        std::string b(30, ' ');
        for (int i = 0; i < percent * 30 / 100; ++i) b[i] = '#';
        return "[" + b + "]";
    }
    void clear() {
        if (!tty_) return;
        for (int i = 0; i < drawn_; ++i) std::fprintf(stderr, "\033[1A\033[2K");
        drawn_ = 0;
    }
    void draw() {
        if (!tty_) return;
        clear();
        for (auto& [id, r] : rows_) {
            if (r.state != dl::RowState::Running || r.received == 0) continue;
            const int p =
                r.size ? static_cast<int>(std::min<uint64_t>(100, r.received * 100 / r.size)) : 0;
            std::fprintf(stderr, "%s %3d%% %s\n", bar(p).c_str(), p,
                         platform::terminalText(fs::path(r.path).filename().string()).c_str());
            ++drawn_;
        }
        std::fprintf(stderr, "%s %3d%% overall (%s of %s)\n", bar(overall()).c_str(), overall(),
                     fsv::SizeText(done_).c_str(), fsv::SizeText(total_).c_str());
        ++drawn_;
        std::fflush(stderr);
    }

    std::mutex mutex_;
    const bool json_, tty_;
    const uint64_t total_;
    uint64_t done_ = 0;
    int drawn_ = 0;
    std::map<int, dl::WorkRow> rows_;
    std::map<int, int> percents_;
};

struct WorkRun {
    bool json = false;
    bool overwrite = false;
    int waitSeconds = 30;
    std::string command;
    // Runs once the session's queues exist and before the items are queued: frame ranges and
    // output paths. An exit code stops the run; -1 goes on.
    std::function<int(dl::DownloadSession&, std::vector<dl::WorkItem>&)> prepare;
    // The items are in the queues.
    std::function<void()> taken;
};

// Runs the items on the connection's session until every queue is idle, keeping the
// connection's automatic resume file up to date: rewritten when work moves on, kept as
// "Temp<k>.rsm" when the recorder drops the connection, deleted when all work is done.
int runWork(fsv::net::HeadlessConnection& connection, const fsv::ConnectRequest& request,
            fsv::ScriptedUserPort& user, fsv::EventList& list,
            const std::shared_ptr<fsv::RecorderCatalog>& catalog, std::vector<dl::WorkItem> items,
            const WorkRun& run) {
    uint64_t total = 0;
    for (auto& item : items) total += item.size;

    dl::WorkList work;
    dl::DownloadContext ctx(user, work);
    dl::CatalogReporter reporter(list, catalog);
    ctx.reporter = &reporter;
    ctx.settings.tellWhenFinished = true;
    ctx.settings.alwaysOverwrite = run.overwrite;
    ctx.settings.pacing = false;  // files are written as fast as the recorder sends
    // A recorder that does not answer the frame count query gets the default count well
    // before the stall limit would end the run.
    ctx.settings.frameCountWait = std::min<std::chrono::milliseconds>(
        ctx.settings.frameCountWait, std::chrono::seconds(run.waitSeconds) / 2);

    Progress progress(run.json, total);
    std::vector<std::string> messages;
    std::mutex messageLock;
    // Without a user to ask: an unfinished file is continued, a complete one is left alone.
    user.onExistingFile = [&](const fs::path&, bool offerResume) {
        if (run.overwrite) return fsv::ExistingFileAnswer::Overwrite;
        return offerResume ? fsv::ExistingFileAnswer::Resume : fsv::ExistingFileAnswer::Abort;
    };
    user.onMessage = [&](const std::string& text, unsigned type) {
        if (type == fsv::mb::kIconStop || text.rfind("Failed to open file", 0) == 0) {
            std::lock_guard lock(messageLock);
            messages.push_back(text);
        }
        progress.message(text);
    };
    // A row that starts, ends or fails means the work moved on: the main loop rewrites the
    // automatic resume file (never from the streams' threads, which hold their queue's locks).
    std::atomic<bool> movedOn{false};
    ctx.work.setListener([&](const dl::WorkRow& row) {
        progress.row(row);
        if (row.state != dl::RowState::Running || row.received == 0) movedOn.store(true);
    });
    // A recorder that went away ends the session, as the viewer's panel does: the streams
    // stop and are reported unfinished.
    fsv::net::ServerSession* session = connection.session();
    std::atomic<bool> closedByRecorder{false};
    user.onPost = [session, &closedByRecorder](const fsv::ScriptedUserPort::Post& post) {
        if (post.message == fsv::PanelMessage::RecorderClosed) {
            closedByRecorder.store(true);
            session->stopEvent().set();
        }
    };

    // The hooks point at this run's locals: they go before the locals do.
    struct HookReset {
        fsv::ScriptedUserPort& user;
        ~HookReset() {
            user.onPost = {};
            user.onMessage = {};
            user.onExistingFile = {};
        }
    } hookReset{user};

    fsv::state::ResumeHeader header;
    header.address = request.address;
    header.port = request.port;
    header.id = request.id;
    header.password = request.password;
    fsv::client::AutoResume autoResume(platform::dataFolder(),
                                    std::max(0, catalog->connectionNumber()), header);
    std::vector<dl::WorkItem> queued;
    bool warned = false;
    // Unfinished: every queued item whose file is not finished (running, waiting or failed).
    auto saveWork = [&] {
        std::set<std::string> finished;
        for (auto& row : ctx.work.rows())
            if (row.state == dl::RowState::Finished) finished.insert(row.path);
        std::vector<dl::WorkItem> unfinished;
        for (auto& item : queued)
            if (!finished.count(item.outputPath)) unfinished.push_back(item);
        std::string error;
        if (!autoResume.write(unfinished, &error) && !error.empty() && !warned) {
            warned = true;
            progress.message("cannot write " + autoResume.path().string() + ": " + error);
        }
    };

    int skipped = 0;
    std::error_code ec;
    {
        dl::SessionDownloads downloads(ctx, *connection.session());
        auto& queues = downloads.downloads();
        if (run.prepare) {
            const int code = run.prepare(queues, items);
            if (code >= 0) return code;
        }
        for (auto& item : items) {
            // A file download that is already whole is not fetched again.
            if (!run.overwrite && item.queue != dl::QueueKind::Video &&
                fs::file_size(item.outputPath, ec) == item.size && !ec) {
                ++skipped;
                progress.message("already downloaded: " + item.outputPath);
                continue;
            }
            queued.push_back(item);
        }
        // The loaded resume file goes first: it may be this connection's automatic file.
        if (run.taken) run.taken();
        saveWork();
        for (auto& item : queued) queues.enqueue(item);
        while (!queues.idle()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (movedOn.exchange(false)) saveWork();
        }
    }
    int failed = 0;
    for (auto& row : ctx.work.rows())
        if (row.state != dl::RowState::Finished) ++failed;
    progress.finish();

    const std::string recorderName = session->recorderName();
    // The stall limit ran out: the session stopped as if the recorder had closed it.
    const bool stalled = session->stalled();
    // Taken now: closing the connection ends the session.
    const std::string stallText = stalled ? session->stallText() : std::string();
    std::optional<fs::path> kept;
    if (failed == 0) {
        autoResume.remove();
    } else {
        saveWork();
        if (closedByRecorder.load() || stalled) kept = autoResume.keepAsTemp();
        if (!kept) kept = autoResume.path();
    }
    connection.close();

    const size_t done = ctx.work.rows().size() - static_cast<size_t>(failed);
    if (!run.json)
        std::printf("%zu downloaded, %d already there, %d failed\n", done, skipped, failed);
    if (failed) {
        if (stalled) fsv::cli::printError(stallText);
        fsv::cli::printError(fsv::format("%s: %d of %zu recordings failed", run.command.c_str(),
                                         failed, items.size()));
        for (auto& m : messages) fsv::cli::printError(m);
        if (closedByRecorder.load() && !stalled)
            fsv::cli::printError(fsv::format(fsv::state::kClosedByRemote, recorderName.c_str(),
                                             request.address.c_str()));
        std::error_code exists;
        if (fs::exists(*kept, exists))
            fsv::cli::printError("the unfinished work is kept in " + kept->string() +
                                 "; continue it with: fsv resume " + kept->string());
        else
            fsv::cli::printError("run the same command again to continue");
        return 1;
    }
    return 0;
}

int runDownload(const DownloadArgs& args) {
    fsv::ConnectRequest request;
    if (!fsv::cli::resolveLogin(*args.login, "fsv download", request)) return 2;
    fsv::Period period;
    if (!fsv::cli::parseMoment(args.from, false, period.startDate, period.startTime) ||
        !fsv::cli::parseMoment(args.to, true, period.endDate, period.endTime)) {
        fsv::cli::printError("fsv download: --from and --to want \"YYYY-MM-DD HH:MM:SS\"");
        return 2;
    }
    if (args.cameras.empty() && args.audio.empty()) {
        fsv::cli::printError("fsv download: name channels with --camera and/or --audio");
        return 2;
    }
    const bool avi = args.mode == "avi";
    const bool range = args.first != 0 || args.last != 0;
    if (range && !avi) {
        fsv::cli::printError("fsv download: --first and --last need --mode avi");
        return 2;
    }
    std::error_code ec;
    fs::create_directories(args.out, ec);
    const std::string root = fs::absolute(args.out, ec).string();

    fsv::ScriptedUserPort user;
    fsv::EventList list;
    fsv::DateQueryWaiter waiter;
    fsv::SessionCatalogs catalogs(list, &user, &waiter);
    fsv::net::ConnectionManager transport(fsv::cli::transportTiming(args.waitSeconds));
    fsv::net::HeadlessConnection connection(transport, user, &catalogs,
                                            fsv::cli::sessionTiming(args.waitSeconds));
    if (!fsv::cli::openConnection(connection, request, args.login->noPlainLogin)) return 1;
    auto catalog = catalogs.catalog(*connection.session());
    std::vector<fsv::cli::Chosen> chosen;
    if (!fsv::cli::choose(args.cameras, fsv::net::kCamera, *catalog, chosen, "fsv download") ||
        !fsv::cli::choose(args.audio, fsv::net::kAudio, *catalog, chosen, "fsv download"))
        return 1;
    std::vector<int> positions;
    for (auto& c : chosen) positions.push_back(c.position);
    fsv::PeriodQuery query(waiter, &user, nullptr);
    query.replyTimeout = std::chrono::seconds(args.waitSeconds);
    query.askOnTimeout = false;
    const auto summary = query.run(*catalog, positions, period);
    if (summary.outcome == fsv::PeriodOutcome::Cancelled ||
        summary.outcome == fsv::PeriodOutcome::Exiting) {
        fsv::cli::printError(fsv::cli::queryFailure(*connection.session()));
        return 1;
    }

    // The selected recordings become work items named by the storage layout.
    const int r = catalog->connectionNumber();
    std::vector<dl::WorkItem> items;
    uint64_t total = 0;
    for (auto& c : chosen) {
        std::string name;
        for (auto& row : list.channels(r))
            if (row.position == c.position) name = row.name;
        for (auto& day : list.days(r, c.position))
            for (auto& e : list.events(r, c.position, day.position)) {
                if (e.mark != fsv::kMarkSelected) continue;
                dl::WorkItem item;
                const bool audio = c.kind == fsv::net::kAudio;
                item.queue = audio ? dl::QueueKind::Audio
                                   : (avi ? dl::QueueKind::Video : dl::QueueKind::File);
                item.action =
                    avi && !audio ? dl::Action::DownloadAndPlay : dl::Action::JustDownload;
                item.channelCode = c.code;
                item.channelName = name;
                item.dayPosition = day.position;
                item.eventPosition = e.position;
                item.eventKey = day.date + e.time;
                item.dateId = day.dateId;
                item.size = e.size;
                items.push_back(item);
                total += e.size;
            }
    }
    if (items.empty()) {
        const std::string message = fsv::PeriodQuery::message(summary);
        std::printf("%s\n", message.empty() ? "No Match!" : message.c_str());
        connection.close();
        return 0;
    }

    if (range && items.size() != 1) {
        fsv::cli::printError(fsv::format(
            "fsv download: --first and --last take exactly one recording; the period has %zu",
            items.size()));
        return 2;
    }
    if (!dl::spaceSuffices(platform::freeDiskSpace(root).value_or(0), total)) {
        fsv::cli::printError(
            fsv::format("Destination disk drive doesn't have enough space.\nTotal need %s",
                        fsv::SizeText(total).c_str()));
        return 1;
    }

    WorkRun run;
    run.json = args.json;
    run.overwrite = args.overwrite;
    run.waitSeconds = args.waitSeconds;
    run.command = "fsv download";
    run.prepare = [&](dl::DownloadSession& session, std::vector<dl::WorkItem>& work) {
        if (range) {
            dl::WorkItem& item = work[0];
            const uint32_t count = session.queryFrameCount(item.recorderKey(), item.dateId);
            dl::FrameRange frames;
            switch (dl::checkFrameRange(static_cast<uint32_t>(args.first),
                                        static_cast<uint32_t>(args.last), count, &frames)) {
                case dl::FrameRangeCheck::OutOfRange:
                    fsv::cli::printError(fsv::format(
                        "fsv download: frames run from 1 to %u in this recording", count));
                    return 2;
                case dl::FrameRangeCheck::EndBeforeStart:
                    fsv::cli::printError(dl::kEndBeforeStartText);
                    return 2;
                case dl::FrameRangeCheck::Ok:
                    break;
            }
            item.action = dl::Action::DownloadAndPlayPeriod;
            item.firstFrame = frames.first;
            item.lastFrame = frames.last;
        }
        for (auto& item : work)
            item.outputPath = dl::makeOutputPath({root, item.queue, item.channelCode, item.date(),
                                                  item.time(), item.dateId, item.lastFrame});
        return -1;
    };
    return runWork(connection, request, user, list, catalog, std::move(items), run);
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto args = std::make_shared<DownloadArgs>();
    auto* cmd = app.add_subcommand("download", "download the recordings of a period");
    fsv::cli::addLoginOptions(cmd, args->login);
    cmd->add_option("--camera", args->cameras, "camera codes, comma-separated, or all")
        ->delimiter(',');
    cmd->add_option("--audio", args->audio, "audio channel codes, comma-separated, or all")
        ->delimiter(',');
    cmd->add_option("--from", args->from, "start: \"YYYY-MM-DD HH:MM:SS\"")->required();
    cmd->add_option("--to", args->to, "end: \"YYYY-MM-DD HH:MM:SS\"")->required();
    cmd->add_option("-o,--output", args->out, "destination folder")->required();
    cmd->add_option("--mode", args->mode, "file: the recorder's bytes; avi: frames into our AVI")
        ->check(CLI::IsMember({"file", "avi"}));
    cmd->add_option("--first", args->first, "first frame (1-based) of a frame range")
        ->check(CLI::Range(1, 9999));
    cmd->add_option("--last", args->last, "last frame (1-based) of a frame range")
        ->check(CLI::Range(1, 9999));
    cmd->add_flag("--overwrite", args->overwrite, "start every file anew");
    fsv::cli::addWaitOption(cmd, args->waitSeconds);
    cmd->add_flag("--json", args->json, "one JSON line per progress step and finished file");
    cmd->callback([args] { fsv::cli::setExitCode(runDownload(*args)); });
});

struct ResumeArgs {
    std::string file;
    std::string password;
    bool passwordGiven = false;
    bool noPlainLogin = false;
    bool json = false;
    int waitSeconds = 30;
};

int runResume(const ResumeArgs& args) {
    const auto loaded = fsv::state::loadResumeFile(args.file);
    if (loaded.status == fsv::state::ReadStatus::Missing) {
        fsv::cli::printError("fsv resume: no such file: " + args.file);
        return 2;
    }
    if (!loaded.usable()) {
        fsv::cli::printError("fsv resume: " + args.file + ": " + loaded.message);
        return 2;
    }
    // A file cut short may still name work that was never read: nothing of it is taken up
    // and the file stays as it is, for whoever can mend it.
    if (loaded.status == fsv::state::ReadStatus::Damaged) {
        fsv::cli::printError("fsv resume: " + args.file + ": " + loaded.message);
        fsv::cli::printError("fsv resume: the damaged file is left as it is; nothing was resumed");
        return 2;
    }
    if (loaded.value.records.empty()) {
        fsv::cli::printError("fsv resume: " + args.file + " holds no unfinished work");
        return 2;
    }
    // The login data are the file's; a password given here replaces the file's, the
    // environment's only fills in a missing one.
    fsv::ConnectRequest request = fsv::state::toConnectRequest(loaded.value.header);
    if (args.passwordGiven) {
        request.password = args.password;
    } else if (const char* env = std::getenv("FSV_PASSWORD"); env && request.password.empty()) {
        request.password = env;
    }

    fsv::ScriptedUserPort user;
    fsv::EventList list;
    fsv::DateQueryWaiter waiter;
    fsv::SessionCatalogs catalogs(list, &user, &waiter);
    fsv::net::ConnectionManager transport(fsv::cli::transportTiming(args.waitSeconds));
    fsv::net::HeadlessConnection connection(transport, user, &catalogs,
                                            fsv::cli::sessionTiming(args.waitSeconds));
    // On failure the file stays, to be loaded again later.
    if (!fsv::cli::openConnection(connection, request, args.noPlainLogin)) return 1;
    auto catalog = catalogs.catalog(*connection.session());
    auto rebuilt = fsv::client::rebuildWork(loaded.value.records, *catalog, waiter, user,
                                         std::chrono::seconds(args.waitSeconds));
    if (rebuilt.cancelled) {
        fsv::cli::printError(fsv::cli::queryFailure(*connection.session()));
        return 1;
    }
    for (auto& why : rebuilt.skipped) fsv::cli::printError("fsv resume: skipped " + why);
    if (rebuilt.items.empty()) {
        fsv::cli::printError("fsv resume: none of the work in " + args.file +
                             " can be taken up; the file stays");
        connection.close();
        return 1;
    }

    WorkRun run;
    run.json = args.json;
    run.waitSeconds = args.waitSeconds;
    run.command = "fsv resume";
    const fs::path file = args.file;
    run.taken = [file] {
        std::error_code ec;
        fs::remove(file, ec);
    };
    const int code =
        runWork(connection, request, user, list, catalog, std::move(rebuilt.items), run);
    if (code == 0 && !rebuilt.skipped.empty()) {
        fsv::cli::printError(fsv::format("fsv resume: %zu records of the file were skipped",
                                         rebuilt.skipped.size()));
        return 1;
    }
    return code;
}

fsv::cli::Registrar resumeReg([](CLI::App& app) {
    auto args = std::make_shared<ResumeArgs>();
    auto* cmd = app.add_subcommand(
        "resume", "connect as a resume file (*.rsm) says and finish the work in it");
    cmd->add_option("file", args->file, "the resume file; it is deleted once taken up")->required();
    cmd->add_option("-p,--password", args->password,
                    "password instead of the file's (FSV_PASSWORD fills in a missing one)")
        ->each([args](const std::string&) { args->passwordGiven = true; });
    fsv::cli::addPlainLoginOption(cmd, args->noPlainLogin);
    fsv::cli::addWaitOption(cmd, args->waitSeconds);
    cmd->add_flag("--json", args->json, "one JSON line per progress step and finished file");
    cmd->callback([args] { fsv::cli::setExitCode(runResume(*args)); });
});

}  // namespace

#endif  // FSV_DOWNLOAD_SESSIONS
