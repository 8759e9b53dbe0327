#include "CommandSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/System.h"
#include "state/AddressBook.h"
#include "state/Settings.h"

namespace fsv::cli {

void addLoginOptions(CLI::App* cmd, const std::shared_ptr<LoginArgs>& args) {
    cmd->add_option("target", args->target,
                    "HOST[:PORT] (port 5066 when left out); not with --book");
    cmd->add_option("-u,--user", args->id, "login ID")->each([args](const std::string&) {
        args->idGiven = true;
    });
    cmd->add_option("-p,--password", args->password,
                    "password (default: the environment variable FSV_PASSWORD)")
        ->each([args](const std::string&) { args->passwordGiven = true; });
    cmd->add_option("--book", args->book,
                    "take address, port, ID and password from this address book entry");
    cmd->add_option("--group", args->group, "the address book group of the --book entry")
        ->each([args](const std::string&) { args->groupGiven = true; });
    addPlainLoginOption(cmd, args->noPlainLogin);
}

void addPlainLoginOption(CLI::App* cmd, bool& noPlainLogin) {
    cmd->add_flag("--no-plain-login", noPlainLogin,
                  "refuse the old plain login to a recorder that sends no key (its password "
                  "would go out in a reversible form)");
}

void fillPasswordFromEnvironment(std::string& password) {
    if (!password.empty()) return;
    if (const char* env = std::getenv("FSV_PASSWORD")) password = env;
}

Session::Session(int waitSeconds, bool noPlainLogin, bool overwrite) {
    client::Controller::Options o;
    o.dataFolder = fsv::platform::dataFolder();
    o.timing = sessionTiming(waitSeconds);
    o.transport = transportTiming(waitSeconds);
    o.refusePlainLogin = noPlainLogin;
    o.replyTimeout = std::chrono::seconds(waitSeconds);
    o.download.pacing = false;  // files are written as fast as the recorder sends
    // A recorder that does not answer the frame count query gets the default count well
    // before the stall limit would end the run.
    o.download.frameCountWait = std::min<std::chrono::milliseconds>(
        o.download.frameCountWait, std::chrono::seconds(waitSeconds) / 2);
    state::Settings settings = state::readSettings(state::settingsPath());
    settings.tell = true;
    settings.overwrite = overwrite;
    o.settings = settings;
    controller = std::make_unique<client::Controller>(o, user, notes);
}

Session::~Session() { controller->shutDown(false); }

bool Session::open(const ConnectRequest& request) {
    std::string error;
    const auto opened = controller->connectAndWait(request, &error);
    if (!opened) {
        printError(error);
        return false;
    }
    id = *opened;
    controller->withSession(id, [&](net::ServerSession& s) {
        connectionNumber = s.connectionNumber();
        recorderName = s.recorderName();
    });
    const auto info = controller->serverInfo(id);
    std::set<uint32_t> skipped;
    if (info) skipped.insert(info->skippedDays.begin(), info->skippedDays.end());
    if (!skipped.empty()) {
        std::string list;
        int shown = 0;
        for (uint32_t day : skipped) {
            if (shown++ == 5) {
                list += ", ...";
                break;
            }
            list += (list.empty() ? "" : ", ") + std::to_string(day);
        }
        printError("note: left out day numbers of the recorder that are not dates: " + list);
    }
    return true;
}

std::shared_ptr<RecorderCatalog> Session::catalog() {
    std::shared_ptr<RecorderCatalog> out;
    controller->withSession(
        id, [&](net::ServerSession& s) { out = controller->catalogs().catalog(s); });
    return out;
}

std::string Session::queryFailure() {
    std::string text = net::kTextConnectFail;  // the session is gone
    controller->withSession(id, [&](net::ServerSession& s) {
        if (s.stalled())
            text = s.stallText();
        else if (!s.stopEvent().isSet())
            text = "Timeout when getting the information from remote host.";
    });
    return text;
}

bool resolveLogin(const LoginArgs& args, const std::string& command, ConnectRequest& request) {
    if (!args.book.empty()) {
        if (!args.target.empty()) {
            printError(command + ": give HOST[:PORT] or --book, not both");
            return false;
        }
        std::string error;
        auto found = state::lookupBookConnection(
            args.book, args.groupGiven ? std::optional<std::string>(args.group) : std::nullopt,
            &error);
        if (!found) {
            printError(command + ": " + error);
            return false;
        }
        request = *found;
    } else {
        if (args.groupGiven) {
            printError(command + ": --group needs --book");
            return false;
        }
        if (!splitTarget(args.target, request)) {
            printError(command + ": HOST[:PORT] expected, got \"" + args.target + "\"");
            return false;
        }
        request.id = args.id;
    }
    if (args.idGiven) request.id = args.id;
    if (args.passwordGiven)
        request.password = args.password;
    else
        fillPasswordFromEnvironment(request.password);
    return true;
}

void addWaitOption(CLI::App* cmd, int& seconds) {
    cmd->add_option("--wait", seconds,
                    "seconds without any answer from the recorder before giving up (default 30)")
        ->check(CLI::Range(1, 3600));
}

net::SessionTiming sessionTiming(int waitSeconds) {
    net::SessionTiming t;
    t.stallLimit = std::chrono::seconds(waitSeconds);
    return t;
}

net::TransportTiming transportTiming(int waitSeconds) {
    net::TransportTiming t;
    t.disconnectWait =
        std::min<std::chrono::milliseconds>(t.disconnectWait, std::chrono::seconds(waitSeconds));
    return t;
}

bool splitTarget(const std::string& target, ConnectRequest& request) {
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

bool choose(const std::vector<std::string>& codes, net::ChannelKind kind,
            const RecorderCatalog& catalog, std::vector<Chosen>& out, const std::string& command) {
    const auto channels = kind == net::kCamera ? catalog.cameras() : catalog.audioChannels();
    const char* label = kind == net::kCamera ? "camera" : "audio channel";
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
            printError(format("%s: bad %s code \"%s\"", command.c_str(), label, code.c_str()));
            return false;
        }
        const unsigned long v = std::stoul(code);
        const int pos = v <= 0xFFFF ? catalog.channelOfCode(kind, static_cast<uint16_t>(v)) : -1;
        if (pos < 0) {
            printError(
                format("%s: the recorder has no %s %s", command.c_str(), label, code.c_str()));
            return false;
        }
        add({kind, static_cast<uint16_t>(v), pos});
    }
    return true;
}

void addPeriodOptions(CLI::App* cmd, std::vector<std::string>& cameras,
                      std::vector<std::string>& audio, std::string& from, std::string& to) {
    cmd->add_option("--camera", cameras, "camera codes, comma-separated, or all")->delimiter(',');
    cmd->add_option("--audio", audio, "audio channel codes, comma-separated, or all")
        ->delimiter(',');
    cmd->add_option("--from", from, "start: \"YYYY-MM-DD HH:MM:SS\"")->required();
    cmd->add_option("--to", to, "end: \"YYYY-MM-DD HH:MM:SS\"")->required();
}

bool periodArguments(const std::string& from, const std::string& to,
                     const std::vector<std::string>& cameras, const std::vector<std::string>& audio,
                     const std::string& command, Period& period) {
    if (!parseMoment(from, false, period.startDate, period.startTime) ||
        !parseMoment(to, true, period.endDate, period.endTime)) {
        printError(command + ": --from and --to want \"YYYY-MM-DD HH:MM:SS\"");
        return false;
    }
    if (cameras.empty() && audio.empty()) {
        printError(command + ": name channels with --camera and/or --audio");
        return false;
    }
    return true;
}

bool chooseChannels(const std::vector<std::string>& cameras, const std::vector<std::string>& audio,
                    const RecorderCatalog& catalog, std::vector<Chosen>& out,
                    const std::string& command) {
    return choose(cameras, net::kCamera, catalog, out, command) &&
           choose(audio, net::kAudio, catalog, out, command);
}

bool queryPeriod(client::Controller& controller, client::SessionId id,
                 const std::vector<Chosen>& chosen, const Period& period, int waitSeconds,
                 PeriodSummary* summary) {
    std::vector<int> positions;
    for (auto& c : chosen) positions.push_back(c.position);
    const auto result =
        controller.queryPeriod(id, positions, period, std::chrono::seconds(waitSeconds), false);
    if (summary) *summary = result;
    return result.outcome != PeriodOutcome::Cancelled && result.outcome != PeriodOutcome::Exiting;
}

int percentOf(uint64_t done, uint64_t total, int empty) {
    return total ? static_cast<int>(std::min<uint64_t>(100, done * 100 / total)) : empty;
}

void TerminalBars::clear() {
    if (!tty_) return;
    for (int i = 0; i < drawn_; ++i) std::fprintf(stderr, "\033[1A\033[2K");
    drawn_ = 0;
    std::fflush(stderr);
}

void TerminalBars::line(int percent, const std::string& text) {
    if (!tty_) return;
    std::string bar(30, ' ');
    for (int i = 0; i < std::clamp(percent, 0, 100) * 30 / 100; ++i) bar[i] = '#';
    std::fprintf(stderr, "[%s] %3d%% %s\n", bar.c_str(), percent, text.c_str());
    std::fflush(stderr);
    ++drawn_;
}

}  // namespace fsv::cli
