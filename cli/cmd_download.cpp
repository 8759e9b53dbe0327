// fsv download HOST[:PORT] -u ID [-p PASSWORD] --camera CODE[,...]|all [--audio CODE[,...]|all]
//              --from "YYYY-MM-DD HH:MM:SS" --to "YYYY-MM-DD HH:MM:SS" -o DIR
//              [--mode file|avi] [--first N --last M] [--overwrite] [--json]
// Downloads the recordings of the period into DIR in the viewer's folder layout: "file" takes
// the recorder's own bytes (resumable at a byte offset), "avi" takes the frames one by one and
// writes our AVI file (continued from its last frame). What an earlier run left unfinished is
// continued; --overwrite starts every file anew. Exits non-zero when any recording failed.
// Built when the download layer and the recorder session are part of this build.
#if defined(FSV_DOWNLOAD_SESSIONS)
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "platform/System.h"
#include "recordings/PeriodQuery.h"
#include "recordings/SessionCatalogs.h"
#include "recordings/download/SessionBinding.h"
#include "recordings/download/Work.h"

namespace {

namespace dl = fsv::download;
namespace fs = std::filesystem;

struct DownloadArgs {
    std::string target;
    std::string id = "Guest";
    std::string password;
    bool passwordGiven = false;
    std::vector<std::string> cameras, audio;
    std::string from, to;
    std::string out;
    std::string mode = "file";
    int first = 0, last = 0;
    bool overwrite = false;
    bool json = false;
    int waitSeconds = 30;
};

bool splitTarget(const std::string& target, fsv::ConnectRequest& request) {
    auto colon = target.rfind(':');
    request.address = target.substr(0, colon);
    if (colon == std::string::npos) return !request.address.empty();
    const std::string port = target.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos)
        return false;
    unsigned long v = std::stoul(port);
    if (v == 0 || v > 65535) return false;
    request.port = static_cast<uint16_t>(v);
    return !request.address.empty();
}

// "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD" (the day's start or end) into YYYYMMDD and HHMMSS.
bool parseMoment(const std::string& text, bool end, std::string& date, std::string& time) {
    auto digits = [&](size_t at, size_t n) {
        if (at + n > text.size()) return false;
        for (size_t i = at; i < at + n; ++i)
            if (text[i] < '0' || text[i] > '9') return false;
        return true;
    };
    if (!digits(0, 4) || text.size() < 10 || text[4] != '-' || !digits(5, 2) || text[7] != '-' ||
        !digits(8, 2))
        return false;
    date = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
    if (text.size() == 10) {
        time = end ? "235959" : "000000";
        return true;
    }
    if (text.size() != 19 || text[10] != ' ' || !digits(11, 2) || text[13] != ':' ||
        !digits(14, 2) || text[16] != ':' || !digits(17, 2))
        return false;
    time = text.substr(11, 2) + text.substr(14, 2) + text.substr(17, 2);
    return true;
}

struct Chosen {
    fsv::net::ChannelKind kind;
    uint16_t code;
    int position;
};

bool choose(const std::vector<std::string>& codes, fsv::net::ChannelKind kind,
            const fsv::RecorderCatalog& catalog, std::vector<Chosen>& out) {
    const auto channels = kind == fsv::net::kCamera ? catalog.cameras() : catalog.audioChannels();
    const char* label = kind == fsv::net::kCamera ? "camera" : "audio channel";
    auto add = [&](const Chosen& c) {
        for (auto& o : out)
            if (o.position == c.position) return;
        out.push_back(c);
    };
    for (auto& code : codes) {
        if (code == "all") {
            for (auto& c : channels) add({kind, c.code, c.position});
            continue;
        }
        if (code.empty() || code.size() > 5 || code.find_first_not_of("0123456789") != code.npos) {
            fsv::cli::printError(
                fsv::format("fsv download: bad %s code \"%s\"", label, code.c_str()));
            return false;
        }
        const unsigned long v = std::stoul(code);
        const int pos = v <= 0xFFFF ? catalog.channelOfCode(kind, static_cast<uint16_t>(v)) : -1;
        if (pos < 0) {
            fsv::cli::printError(
                fsv::format("fsv download: the recorder has no %s %s", label, code.c_str()));
            return false;
        }
        add({kind, static_cast<uint16_t>(v), pos});
    }
    return true;
}

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
                      {"file", r.path},
                      {"bytes", r.received},
                      {"frames", r.frames}});
            } else if (r.state == dl::RowState::Running && percent != percents_[r.id]) {
                percents_[r.id] = percent;
                line({{"event", "progress"},
                      {"file", r.path},
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
                         r.path.c_str());
        }
        draw();
    }
    void message(const std::string& text) {
        std::lock_guard lock(mutex_);
        if (json_) return line({{"event", "message"}, {"text", text}});
        clear();
        std::fprintf(stderr, "%s\n", text.c_str());
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
        std::printf("%s\n", j.dump().c_str());
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
                         fs::path(r.path).filename().c_str());
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

int runDownload(const DownloadArgs& args) {
    fsv::ConnectRequest request;
    if (!splitTarget(args.target, request)) {
        fsv::cli::printError("fsv download: HOST[:PORT] expected, got \"" + args.target + "\"");
        return 2;
    }
    fsv::Period period;
    if (!parseMoment(args.from, false, period.startDate, period.startTime) ||
        !parseMoment(args.to, true, period.endDate, period.endTime)) {
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
    request.id = args.id;
    if (args.passwordGiven) {
        request.password = args.password;
    } else if (const char* env = std::getenv("FSV_PASSWORD")) {
        request.password = env;
    }
    std::error_code ec;
    fs::create_directories(args.out, ec);
    const std::string root = fs::absolute(args.out, ec).string();

    fsv::ScriptedUserPort user;
    fsv::EventList list;
    fsv::DateQueryWaiter waiter;
    fsv::SessionCatalogs catalogs(list, &user, &waiter);
    fsv::net::ConnectionManager transport;
    fsv::net::HeadlessConnection connection(transport, user, &catalogs);
    if (!connection.open(request)) {
        fsv::cli::printError(connection.error());
        return 1;
    }
    auto catalog = catalogs.catalog(*connection.session());
    std::vector<Chosen> chosen;
    if (!choose(args.cameras, fsv::net::kCamera, *catalog, chosen) ||
        !choose(args.audio, fsv::net::kAudio, *catalog, chosen))
        return 1;
    std::vector<int> positions;
    for (auto& c : chosen) positions.push_back(c.position);
    fsv::PeriodQuery query(waiter, &user, nullptr);
    query.replyTimeout = std::chrono::seconds(args.waitSeconds);
    query.askOnTimeout = false;
    const auto summary = query.run(*catalog, positions, period);
    if (summary.outcome == fsv::PeriodOutcome::Cancelled ||
        summary.outcome == fsv::PeriodOutcome::Exiting) {
        fsv::cli::printError(connection.session()->stopEvent().isSet()
                                 ? "Connect fail!"
                                 : "Timeout when getting the information from remote host.");
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

    dl::WorkList work;
    dl::DownloadContext ctx(user, work);
    dl::CatalogReporter reporter(list, catalog);
    ctx.reporter = &reporter;
    ctx.settings.tellWhenFinished = true;
    ctx.settings.alwaysOverwrite = args.overwrite;
    ctx.settings.pacing = false;  // files are written as fast as the recorder sends

    if (range) {
        if (items.size() != 1) {
            fsv::cli::printError(fsv::format(
                "fsv download: --first and --last take exactly one recording; the period has %zu",
                items.size()));
            return 2;
        }
    }
    if (!dl::spaceSuffices(platform::freeDiskSpace(root).value_or(0), total)) {
        fsv::cli::printError(
            fsv::format("Destination disk drive doesn't have enough space.\nTotal need %s",
                        fsv::SizeText(total).c_str()));
        return 1;
    }

    Progress progress(args.json, total);
    std::vector<std::string> messages;
    std::mutex messageLock;
    // Without a user to ask: an unfinished file is continued, a complete one is left alone.
    user.onExistingFile = [&](const fs::path&, bool offerResume) {
        if (args.overwrite) return fsv::ExistingFileAnswer::Overwrite;
        return offerResume ? fsv::ExistingFileAnswer::Resume : fsv::ExistingFileAnswer::Abort;
    };
    user.onMessage = [&](const std::string& text, unsigned type) {
        if (type == fsv::mb::kIconStop || text.rfind("Failed to open file", 0) == 0) {
            std::lock_guard lock(messageLock);
            messages.push_back(text);
        }
        progress.message(text);
    };
    ctx.work.setListener([&](const dl::WorkRow& row) { progress.row(row); });
    // A recorder that went away ends the session, as the viewer's panel does: the streams
    // stop and are reported unfinished.
    fsv::net::ServerSession* session = connection.session();
    user.onPost = [session](const fsv::ScriptedUserPort::Post& post) {
        if (post.message == fsv::PanelMessage::RecorderClosed) session->stopEvent().set();
    };

    int failed = 0, skipped = 0;
    {
        dl::SessionDownloads downloads(ctx, *connection.session());
        auto& session = downloads.downloads();
        if (range) {
            dl::WorkItem& item = items[0];
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
        for (auto& item : items) {
            item.outputPath = dl::makeOutputPath({root, item.queue, item.channelCode, item.date(),
                                                  item.time(), item.dateId, item.lastFrame});
            // A file download that is already whole is not fetched again.
            if (!args.overwrite && item.queue != dl::QueueKind::Video &&
                fs::file_size(item.outputPath, ec) == item.size && !ec) {
                ++skipped;
                progress.message("already downloaded: " + item.outputPath);
                continue;
            }
            session.enqueue(item);
        }
        while (!session.idle()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (auto& row : ctx.work.rows())
        if (row.state != dl::RowState::Finished) ++failed;
    progress.finish();
    connection.close();

    const size_t done = ctx.work.rows().size() - static_cast<size_t>(failed);
    if (!args.json)
        std::printf("%zu downloaded, %d already there, %d failed\n", done, skipped, failed);
    if (failed) {
        fsv::cli::printError(
            fsv::format("fsv download: %d of %zu recordings failed", failed, items.size()));
        for (auto& m : messages) fsv::cli::printError(m);
        fsv::cli::printError("run the same command again to continue");
        return 1;
    }
    return 0;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto args = std::make_shared<DownloadArgs>();
    auto* cmd = app.add_subcommand("download", "download the recordings of a period");
    cmd->add_option("target", args->target, "HOST[:PORT] (port 5066 when left out)")->required();
    cmd->add_option("-u,--user", args->id, "login ID");
    cmd->add_option("-p,--password", args->password,
                    "password (default: the environment variable FSV_PASSWORD)")
        ->each([args](const std::string&) { args->passwordGiven = true; });
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
    cmd->add_option("--wait", args->waitSeconds, "seconds to wait for each day's answer")
        ->check(CLI::Range(1, 3600));
    cmd->add_flag("--json", args->json, "one JSON line per progress step and finished file");
    cmd->callback([args] { fsv::cli::setExitCode(runDownload(*args)); });
});

}  // namespace

#endif  // FSV_DOWNLOAD_SESSIONS
