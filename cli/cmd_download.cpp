// fsv download HOST[:PORT]|--book NAME [--group GROUP] -u ID [-p PASSWORD]
//              --camera CODE[,...]|all [--audio CODE[,...]|all]
//              --from "YYYY-MM-DD HH:MM:SS" --to "YYYY-MM-DD HH:MM:SS" -o DIR
//              [--mode file|avi] [--first N --last M] [--overwrite] [--json]
// fsv resume FILE.rsm [-p PASSWORD] [--json]
// Downloads the recordings of the period into DIR in the viewer's folder layout: "file" takes
// the recorder's own bytes (resumable at a byte offset), "avi" takes the frames one by one and
// writes our AVI file (continued from its last frame). What an earlier run left unfinished is
// continued; --overwrite starts every file anew. Exits non-zero when any recording failed.
// The work runs on the client controller, which keeps the connection's automatic resume file
// "Auto<k+1>.rsm" in the data folder up to date while it runs; what is left unfinished at the
// end is kept there, or as "Temp<k>.rsm" when the recorder dropped the connection, and
// `fsv resume` connects with it and finishes it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "CommandSupport.h"
#include "Commands.h"
#include "client/ResumeWork.h"
#include "client/WorkPlan.h"
#include "media/AviReader.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "recordings/PeriodQuery.h"
#include "recordings/download/StorageLayout.h"
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
    Progress(bool json, uint64_t total) : json_(json), bars_(!json && isatty(2)), total_(total) {}
    void setTotal(uint64_t total) {
        std::lock_guard lock(mutex_);
        total_ = total;
    }

    void row(const dl::WorkRow& r) {
        std::lock_guard lock(mutex_);
        auto& seen = rows_[r.id];
        const uint64_t before = seen.received;
        const bool wasFinal = seen.state != dl::RowState::Running;
        seen = r;
        done_ += r.received >= before ? r.received - before : 0;
        const int percent = fsv::cli::percentOf(r.received, r.size, 0);
        if (json_) {
            // Updates of a row come merged: the step that went with the end is shown first.
            auto progress = [&] {
                percents_[r.id] = percent;
                line({{"event", "progress"},
                      {"file", fsv::platform::toUtf8(r.path)},
                      {"bytes", r.received},
                      {"size", r.size},
                      {"percent", percent},
                      {"overall", overall()}});
            };
            if (r.state != dl::RowState::Running && !wasFinal && r.received > 0 &&
                percent != percents_[r.id])
                progress();
            if (r.state != dl::RowState::Running && !wasFinal) {
                line({{"event", r.state == dl::RowState::Finished ? "finished" : "failed"},
                      {"file", fsv::platform::toUtf8(r.path)},
                      {"bytes", r.received},
                      {"frames", r.frames}});
            } else if (r.state == dl::RowState::Running && percent != percents_[r.id]) {
                progress();
            }
            return;
        }
        if (r.state != dl::RowState::Running && !wasFinal) {
            bars_.clear();
            std::fprintf(stderr, "%s %s\n", r.state == dl::RowState::Finished ? "done  " : "FAILED",
                         fsv::platform::terminalText(r.path).c_str());
        }
        draw();
    }
    void message(const std::string& text) {
        std::lock_guard lock(mutex_);
        if (json_) return line({{"event", "message"}, {"text", fsv::platform::toUtf8(text)}});
        bars_.clear();
        std::fprintf(stderr, "%s\n", fsv::platform::terminalText(text, true).c_str());
        draw();
    }
    void finish() {
        std::lock_guard lock(mutex_);
        bars_.clear();
    }

  private:
    int overall() const { return fsv::cli::percentOf(done_, total_, 100); }
    void line(const nlohmann::json& j) {
        fsv::cli::printJson(j);
        std::fflush(stdout);
    }
    void draw() {
        if (!bars_.active()) return;
        bars_.clear();
        for (auto& [id, r] : rows_) {
            if (r.state != dl::RowState::Running || r.received == 0) continue;
            bars_.line(fsv::cli::percentOf(r.received, r.size, 0),
                       fsv::platform::terminalText(fs::path(r.path).filename().string()));
        }
        bars_.line(overall(),
                   "overall (" + fsv::SizeText(done_) + " of " + fsv::SizeText(total_) + ")");
    }

    std::mutex mutex_;
    const bool json_;
    fsv::cli::TerminalBars bars_;
    uint64_t total_;
    uint64_t done_ = 0;
    std::map<int, dl::WorkRow> rows_;
    std::map<int, int> percents_;
};

struct WorkRun {
    bool json = false;
    int skipped = 0;  // recordings found whole already
    std::string command;
};

// How the session ended, as the run's last notifications and the session itself tell.
struct SessionEnd {
    bool closedByRecorder = false;
    bool stalled = false;
    std::string stallText;
};

// Waits until the controller's queues have done the work, showing each row as it changes.
// Returns the rows as they ended; the session is ended with them.
std::vector<dl::WorkRow> waitForWork(fsv::cli::Session& session, Progress& progress,
                                     SessionEnd& end) {
    fsv::client::Controller& c = *session.controller;
    auto handle = [&](fsv::client::Notification& n) {
        if (auto* row = std::get_if<fsv::client::WorkRowChanged>(&n)) progress.row(row->row);
        if (auto* gone = std::get_if<fsv::client::SessionRemoved>(&n);
            gone && gone->session == session.id) {
            end.closedByRecorder = gone->closedByRecorder;
            end.stalled = gone->stalled;
            end.stallText = gone->stallText;
        }
    };
    while (!c.idle()) {
        session.notes.drain(handle);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    session.notes.drain(handle);
    // A session still in the list that stopped: the stall limit ran out (the session stopped
    // as if the recorder had closed it), or the link went and the controller has not ended it
    // yet.
    c.withSession(session.id, [&](fsv::net::ServerSession& s) {
        end.stalled = s.stalled();
        if (end.stalled) end.stallText = s.stallText();
        end.closedByRecorder = end.closedByRecorder || s.closedByRecorder();
    });
    auto rows = c.workList().rows();
    progress.finish();
    // The session ends here (its automatic file with it); what failed is kept afterwards.
    c.shutDown(false);
    session.notes.drain(handle);
    return rows;
}

// The items whose rows did not finish, as a resume file: "Temp<k>.rsm" when the recorder
// dropped the connection or went silent, the connection's "Auto<k+1>.rsm" otherwise. Returns
// the file, or nothing when it could not be written.
std::optional<fs::path> keepUnfinished(const fsv::cli::Session& session,
                                       const fsv::ConnectRequest& request,
                                       const std::vector<dl::WorkItem>& items,
                                       const std::set<std::string>& finished, const SessionEnd& end,
                                       Progress& progress) {
    std::vector<dl::WorkItem> unfinished;
    for (auto& item : items)
        if (!finished.count(item.outputPath)) unfinished.push_back(item);
    fsv::state::ResumeHeader header;
    header.address = request.address;
    header.port = request.port;
    header.id = request.id;
    header.password = request.password;
    const int number = std::max(0, session.connectionNumber);
    const fs::path file = end.closedByRecorder || end.stalled
                              ? fsv::state::tempResumePath(fsv::platform::dataFolder(), number)
                              : fsv::state::autoResumePath(fsv::platform::dataFolder(), number);
    std::string error;
    if (fsv::state::saveResumeFile(file, fsv::client::resumeDataOf(header, unfinished), &error))
        return file;
    progress.message("cannot write " + file.string() + ": " + error);
    return std::nullopt;
}

// Waits for the work, then counts what failed and, when anything did, keeps the unfinished part
// of `items` as a resume file and says how to continue it.
int runWork(fsv::cli::Session& session, const fsv::ConnectRequest& request,
            const std::vector<dl::WorkItem>& items, Progress& progress,
            std::vector<std::string>& messages, std::mutex& messageLock, const WorkRun& run) {
    SessionEnd end;
    const auto rows = waitForWork(session, progress, end);
    int failed = 0;
    std::set<std::string> finished;
    for (auto& row : rows) {
        if (row.state == dl::RowState::Finished)
            finished.insert(row.path);
        else
            ++failed;
    }
    const size_t done = rows.size() - static_cast<size_t>(failed);
    if (!run.json)
        std::printf("%zu downloaded, %d already there, %d failed\n", done, run.skipped, failed);
    if (!failed) return 0;

    const auto kept = keepUnfinished(session, request, items, finished, end, progress);
    if (end.stalled) fsv::cli::printError(end.stallText);
    fsv::cli::printError(fsv::format("%s: %d of %zu recordings failed", run.command.c_str(), failed,
                                     items.size() + static_cast<size_t>(run.skipped)));
    {
        std::lock_guard lock(messageLock);
        for (auto& m : messages) fsv::cli::printError(m);
    }
    if (end.closedByRecorder && !end.stalled)
        fsv::cli::printError(fsv::format(fsv::state::kClosedByRemote, session.recorderName.c_str(),
                                         request.address.c_str()));
    if (kept)
        fsv::cli::printError("the unfinished work is kept in " + kept->string() +
                             "; continue it with: fsv resume " + kept->string());
    else
        fsv::cli::printError("run the same command again to continue");
    return 1;
}

// How fsv answers what the controller asks, from the command line: the messages go to the
// progress display (and those that tell of a failure are kept for the summary), an existing
// file is continued or left alone, the recorder closing the link is not asked about (the run's
// end keeps the work).
// Ends the controller's work before the locals that its answers point at go.
struct EndFirst {
    fsv::client::Controller& controller;
    ~EndFirst() { controller.shutDown(false); }
};

// An AVI file a download-and-play stream finished: whole (indexed) and holding every frame the
// recorder has for the item, or for its range.
bool wholeAviOnDisk(fsv::client::Controller& controller, fsv::client::SessionId id,
                    const dl::WorkItem& item) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(item.outputPath, ec))) return false;
    if (dl::checkAviCompleteness(item.outputPath) != dl::AviCompleteness::Complete) return false;
    fsv::media::AviReader reader;
    const int frames = reader.open(item.outputPath);
    if (frames <= 0) return false;
    uint64_t wanted = 0;
    if (item.lastFrame != dl::kWholeRecordingLastFrame) {
        wanted = item.lastFrame >= item.firstFrame ? item.lastFrame - item.firstFrame + 1 : 0;
    } else {
        const auto count = controller.queryFrameCount(id, item.recorderKey(), item.dateId);
        if (!count) return false;
        wanted = *count;
    }
    return static_cast<uint64_t>(frames) == wanted;
}

void answerFromCommandLine(fsv::ScriptedUserPort& user, Progress& progress,
                           std::vector<std::string>& messages, std::mutex& messageLock,
                           bool overwrite) {
    user.onExistingFile = [overwrite](const fs::path&, bool offerResume) {
        if (overwrite) return fsv::ExistingFileAnswer::Overwrite;
        return offerResume ? fsv::ExistingFileAnswer::Resume : fsv::ExistingFileAnswer::Abort;
    };
    user.onMessage = [&](const std::string& text, unsigned type) {
        // The run's end tells of a lost link or a silent recorder, once.
        if (text.find("is closed by remote site!") != std::string::npos ||
            text.rfind("Timeout: no answer from ", 0) == 0)
            return;
        if (type == fsv::mb::kIconStop || text.rfind("Failed to open file", 0) == 0) {
            std::lock_guard lock(messageLock);
            messages.push_back(text);
        }
        progress.message(text);
    };
}

// The arguments checked; 0 when the run can go on, else its exit status.
int checkArguments(const DownloadArgs& args, fsv::ConnectRequest& request, fsv::Period& period) {
    if (!fsv::cli::resolveLogin(*args.login, "fsv download", request)) return 2;
    if (!fsv::cli::periodArguments(args.from, args.to, args.cameras, args.audio, "fsv download",
                                   period))
        return 2;
    const bool range = args.first != 0 || args.last != 0;
    if (range && args.mode != "avi") {
        fsv::cli::printError("fsv download: --first and --last need --mode avi");
        return 2;
    }
    return 0;
}

uint64_t totalSize(const std::vector<fsv::client::PickedEvent>& picked) {
    uint64_t total = 0;
    for (auto& p : picked) total += p.size;
    return total;
}

// The selection checked against what the run asks: one recording for a frame range, room for
// everything on the destination's disk. 0 when the run can go on, else its exit status.
int checkSelection(const DownloadArgs& args, const std::vector<fsv::client::PickedEvent>& picked,
                   const std::string& root) {
    const bool range = args.first != 0 || args.last != 0;
    if (range && picked.size() != 1) {
        fsv::cli::printError(fsv::format(
            "fsv download: --first and --last take exactly one recording; the period has %zu",
            picked.size()));
        return 2;
    }
    const uint64_t total = totalSize(picked);
    if (!dl::spaceSuffices(fsv::platform::freeDiskSpace(root).value_or(0), total)) {
        fsv::cli::printError(
            fsv::format("Destination disk drive doesn't have enough space.\nTotal need %s",
                        fsv::SizeText(total).c_str()));
        return 1;
    }
    return 0;
}

// The frame range of the command line, given when the controller asks for one; what is wrong
// with it goes to `error`.
void answerFrameRange(fsv::ScriptedUserPort& user, const DownloadArgs& args, std::string& error) {
    user.onFrameRange = [&args, &error](uint32_t count, uint32_t& start, uint32_t& end) {
        dl::FrameRange frames;
        switch (dl::checkFrameRange(static_cast<uint32_t>(args.first),
                                    static_cast<uint32_t>(args.last), count, &frames)) {
            case dl::FrameRangeCheck::OutOfRange:
                error =
                    fsv::format("fsv download: frames run from 1 to %u in this recording", count);
                return false;
            case dl::FrameRangeCheck::EndBeforeStart:
                error = dl::kEndBeforeStartText;
                return false;
            case dl::FrameRangeCheck::Ok:
                break;
        }
        start = static_cast<uint32_t>(args.first);
        end = static_cast<uint32_t>(args.last);
        return true;
    };
}

// The selection made into work items, as the controller will make them; a recording already
// whole on disk is not fetched again: its event leaves the selection and it is counted in
// `skipped`.
struct Fetch {
    std::vector<dl::WorkItem> items;
    std::vector<fsv::client::PickedEvent> audio;  // audio to fetch after the cameras' AVI files
    int skipped = 0;
};
Fetch whatToFetch(const DownloadArgs& args, fsv::cli::Session& session, int recorder,
                  const std::vector<fsv::client::PickedEvent>& picked, const std::string& root,
                  Progress& progress) {
    const bool avi = args.mode == "avi";
    const bool range = args.first != 0 || args.last != 0;
    const dl::Action action = !avi    ? dl::Action::JustDownload
                              : range ? dl::Action::DownloadAndPlayPeriod
                                      : dl::Action::DownloadAndPlay;
    std::optional<dl::FrameRange> frames;
    if (range)  // as the controller will make it, once the recorder's count allows it
        frames = dl::FrameRange{static_cast<uint32_t>(args.first) - 1,
                                static_cast<uint32_t>(args.last) - 1};
    const auto planned = fsv::client::planWork(picked, action, root, frames);
    fsv::EventList& list = session.controller->eventList();
    Fetch fetch;
    std::error_code ec;
    for (size_t i = 0; i < picked.size(); ++i) {
        const dl::WorkItem& item = planned[i];
        const auto& p = picked[i];
        const bool whole = item.queue != dl::QueueKind::Video
                               ? fs::file_size(item.outputPath, ec) == item.size && !ec
                               : wholeAviOnDisk(*session.controller, session.id, item);
        if (!args.overwrite && whole) {
            ++fetch.skipped;
            progress.message("already downloaded: " + item.outputPath);
            list.setMark(fsv::kMarkNone, recorder, p.channel, p.day, p.event);
            continue;
        }
        if (avi && p.audio) fetch.audio.push_back(p);
        fetch.items.push_back(item);
    }
    return fetch;
}

// Starts the work: the cameras' recordings as AVI files go first (audio in the selection would
// make all of it plain files), then the audio channels' files. 0 when it started, else the
// exit status.
int startFetching(const DownloadArgs& args, fsv::cli::Session& session, int recorder,
                  const Fetch& fetch, const std::string& rangeError) {
    if (fetch.items.empty()) return 0;
    auto start = [&](std::optional<dl::Action> action) {
        const auto result = session.controller->startWork(action);
        if (result == fsv::client::StartResult::Started ||
            result == fsv::client::StartResult::NothingSelected)
            return 0;
        if (!rangeError.empty()) {
            fsv::cli::printError(rangeError);
            return 2;
        }
        fsv::cli::printError("fsv download: the work could not be started");
        return 1;
    };
    fsv::EventList& list = session.controller->eventList();
    for (auto& p : fetch.audio) list.setMark(fsv::kMarkNone, recorder, p.channel, p.day, p.event);
    const bool avi = args.mode == "avi";
    const bool range = args.first != 0 || args.last != 0;
    const dl::Action action = !avi    ? dl::Action::JustDownload
                              : range ? dl::Action::DownloadAndPlayPeriod
                                      : dl::Action::DownloadAndPlay;
    if (const int code = start(action)) return code;
    if (fetch.audio.empty()) return 0;
    for (auto& p : fetch.audio)
        list.setMark(fsv::kMarkSelected, recorder, p.channel, p.day, p.event);
    return start(dl::Action::JustDownload);
}

int runDownload(const DownloadArgs& args) {
    fsv::ConnectRequest request;
    fsv::Period period;
    if (const int code = checkArguments(args, request, period)) return code;
    std::error_code ec;
    fs::create_directories(args.out, ec);
    const std::string root = fs::absolute(args.out, ec).string();

    fsv::cli::Session session(args.waitSeconds, args.login->noPlainLogin, args.overwrite);
    if (!session.open(request)) return 1;
    auto catalog = session.catalog();
    if (!catalog) {
        fsv::cli::printError(session.queryFailure());
        return 1;
    }
    std::vector<fsv::cli::Chosen> chosen;
    if (!fsv::cli::chooseChannels(args.cameras, args.audio, *catalog, chosen, "fsv download"))
        return 1;
    fsv::PeriodSummary summary;
    if (!fsv::cli::queryPeriod(*session.controller, session.id, chosen, period, args.waitSeconds,
                               &summary)) {
        fsv::cli::printError(session.queryFailure());
        return 1;
    }
    const auto picked =
        fsv::client::pickSelected(session.controller->eventList(), *catalog, session.id);
    if (picked.empty()) {
        const std::string message = fsv::PeriodQuery::message(summary);
        std::printf("%s\n", message.empty() ? "No Match!" : message.c_str());
        return 0;
    }
    if (const int code = checkSelection(args, picked, root)) return code;

    Progress progress(args.json, totalSize(picked));
    std::vector<std::string> messages;
    std::mutex messageLock;
    answerFromCommandLine(session.user, progress, messages, messageLock, args.overwrite);
    EndFirst endFirst{*session.controller};
    session.user.folderAnswer = root;
    std::string rangeError;
    answerFrameRange(session.user, args, rangeError);

    const int recorder = catalog->connectionNumber();
    const Fetch fetch = whatToFetch(args, session, recorder, picked, root, progress);
    if (const int code = startFetching(args, session, recorder, fetch, rangeError)) return code;
    WorkRun run;
    run.json = args.json;
    run.skipped = fetch.skipped;
    run.command = "fsv download";
    return runWork(session, request, fetch.items, progress, messages, messageLock, run);
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto args = std::make_shared<DownloadArgs>();
    auto* cmd = app.add_subcommand("download", "download the recordings of a period");
    fsv::cli::addLoginOptions(cmd, args->login);
    fsv::cli::addPeriodOptions(cmd, args->cameras, args->audio, args->from, args->to);
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

    fsv::cli::Session session(args.waitSeconds, args.noPlainLogin);
    // On failure the file stays, to be loaded again later.
    if (!session.open(request)) return 1;
    uint64_t total = 0;
    Progress progress(args.json, 0);
    std::vector<std::string> messages;
    std::mutex messageLock;
    answerFromCommandLine(session.user, progress, messages, messageLock, false);
    EndFirst endFirst{*session.controller};

    WorkRun run;
    run.json = args.json;
    run.command = "fsv resume";
    // A file download that is already whole is not fetched again.
    std::vector<dl::WorkItem> items;
    auto keep = [&](const dl::WorkItem& item) {
        std::error_code ec;
        if (item.queue != dl::QueueKind::Video && fs::file_size(item.outputPath, ec) == item.size &&
            !ec) {
            ++run.skipped;
            progress.message("already downloaded: " + item.outputPath);
            return false;
        }
        items.push_back(item);
        total += item.size;
        return true;
    };
    // The file goes once its work is queued: it may be this connection's automatic file.
    const auto rebuilt =
        session.controller->takeUpWork(session.id, loaded.value.records, args.file, keep);
    if (rebuilt.cancelled) {
        fsv::cli::printError(session.queryFailure());
        return 1;
    }
    for (auto& why : rebuilt.skipped) fsv::cli::printError("fsv resume: skipped " + why);
    if (rebuilt.items.empty()) {
        fsv::cli::printError("fsv resume: none of the work in " + args.file +
                             " can be taken up; the file stays");
        return 1;
    }
    progress.setTotal(total);
    const int code = runWork(session, request, items, progress, messages, messageLock, run);
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
