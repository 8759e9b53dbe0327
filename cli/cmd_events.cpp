// fsv events HOST[:PORT] -u ID [-p PASSWORD] --camera CODE[,CODE...]|all [--audio CODE[,...]|all]
//            --from "YYYY-MM-DD HH:MM:SS" --to "YYYY-MM-DD HH:MM:SS" [--json]
// Logs in, asks the recorder for the days of the period that are not loaded yet (latest first)
// and lists every recording of the period per channel: date, time and size.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"
#include "platform/Shared.h"
#include "recordings/PeriodQuery.h"
#include "recordings/SessionCatalogs.h"

namespace {

struct EventsArgs {
    std::string target;
    std::string id = "Guest";
    std::string password;
    bool passwordGiven = false;
    std::vector<std::string> cameras, audio;
    std::string from, to;
    bool json = false;
    int waitSeconds = 30;
};

// "HOST" or "HOST:PORT"; false for a port that is not a number in 1..65535.
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

// "YYYY-MM-DD HH:MM:SS" (or "YYYY-MM-DD", meaning the day's start or end) into the YYYYMMDD and
// HHMMSS texts the event list compares.
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

// The channel positions named by `codes` ("all" for every one); false with a message for a
// code the recorder does not have.
bool choose(const std::vector<std::string>& codes, fsv::net::ChannelKind kind,
            const fsv::RecorderCatalog& catalog, std::vector<Chosen>& out) {
    const auto channels = kind == fsv::net::kCamera ? catalog.cameras() : catalog.audioChannels();
    const char* label = kind == fsv::net::kCamera ? "camera" : "audio channel";
    auto add = [&](const Chosen& c) {  // each channel once, in the order first named
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
            fsv::cli::printError(fsv::format("events: bad %s code \"%s\"", label, code.c_str()));
            return false;
        }
        const unsigned long v = std::stoul(code);
        const int pos = v <= 0xFFFF ? catalog.channelOfCode(kind, static_cast<uint16_t>(v)) : -1;
        if (pos < 0) {
            fsv::cli::printError(
                fsv::format("events: the recorder has no %s %s", label, code.c_str()));
            return false;
        }
        add({kind, static_cast<uint16_t>(v), pos});
    }
    return true;
}

int runEvents(const EventsArgs& args) {
    fsv::ConnectRequest request;
    if (!splitTarget(args.target, request)) {
        fsv::cli::printError("events: HOST[:PORT] expected, got \"" + args.target + "\"");
        return 2;
    }
    fsv::Period period;
    if (!parseMoment(args.from, false, period.startDate, period.startTime) ||
        !parseMoment(args.to, true, period.endDate, period.endTime)) {
        fsv::cli::printError("events: --from and --to want \"YYYY-MM-DD HH:MM:SS\"");
        return 2;
    }
    if (args.cameras.empty() && args.audio.empty()) {
        fsv::cli::printError("events: name channels with --camera and/or --audio");
        return 2;
    }
    request.id = args.id;
    if (args.passwordGiven) {
        request.password = args.password;
    } else if (const char* env = std::getenv("FSV_PASSWORD")) {
        request.password = env;
    }

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

    // Without anyone to ask, a recorder that stays silent past the wait ends the query.
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

    const int r = catalog->connectionNumber();
    auto out = nlohmann::json::array();
    for (auto& c : chosen) {
        const char* kind = c.kind == fsv::net::kCamera ? "camera" : "audio";
        if (!args.json) {
            std::string name;
            for (auto& row : list.channels(r))
                if (row.position == c.position) name = row.name;
            std::printf("%s %u: %s\n", kind, c.code, name.c_str());
        }
        for (auto& day : list.days(r, c.position))
            for (auto& e : list.events(r, c.position, day.position)) {
                if (e.mark != fsv::kMarkSelected) continue;
                if (args.json)
                    out.push_back({{"kind", kind},
                                   {"code", c.code},
                                   {"date", day.date},
                                   {"time", e.time},
                                   {"size", e.size}});
                else
                    std::printf("  %s %s %u\n", day.date.c_str(), e.time.c_str(), e.size);
            }
    }
    const std::string message = fsv::PeriodQuery::message(summary);
    if (args.json) {
        std::printf("%s\n", out.dump(2).c_str());
        if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
    } else if (!message.empty()) {
        std::printf("%s\n", message.c_str());
    } else {
        const auto total = list.selection();
        std::printf("%u events, %s\n", total.count, fsv::SizeText(total.totalSize).c_str());
    }
    std::fflush(stdout);
    connection.close();
    return 0;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto args = std::make_shared<EventsArgs>();
    auto* cmd = app.add_subcommand("events", "list the recordings of a period per camera");
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
    cmd->add_option("--wait", args->waitSeconds, "seconds to wait for each day's answer")
        ->check(CLI::Range(1, 3600));
    cmd->add_flag("--json", args->json, "print one JSON array");
    cmd->callback([args] { fsv::cli::setExitCode(runEvents(*args)); });
});

}  // namespace
