// fsv events HOST[:PORT]|--book NAME [--group GROUP] -u ID [-p PASSWORD]
//            --camera CODE[,CODE...]|all [--audio CODE[,...]|all]
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

#include "CommandSupport.h"
#include "Commands.h"
#include "platform/Shared.h"
#include "platform/Text.h"
#include "recordings/PeriodQuery.h"

namespace {

struct EventsArgs {
    std::shared_ptr<fsv::cli::LoginArgs> login = std::make_shared<fsv::cli::LoginArgs>();
    std::vector<std::string> cameras, audio;
    std::string from, to;
    bool json = false;
    int waitSeconds = 30;
};

int runEvents(const EventsArgs& args) {
    fsv::ConnectRequest request;
    if (!fsv::cli::resolveLogin(*args.login, "events", request)) return 2;
    fsv::Period period;
    if (!fsv::cli::periodArguments(args.from, args.to, args.cameras, args.audio, "events", period))
        return 2;

    fsv::cli::Session session(args.waitSeconds, args.login->noPlainLogin);
    if (!session.open(request)) return 1;
    auto catalog = session.catalog();
    if (!catalog) {
        fsv::cli::printError(session.queryFailure());
        return 1;
    }
    fsv::EventList& list = session.controller->eventList();

    std::vector<fsv::cli::Chosen> chosen;
    if (!fsv::cli::chooseChannels(args.cameras, args.audio, *catalog, chosen, "events")) return 1;
    fsv::PeriodSummary summary;
    if (!fsv::cli::queryPeriod(*session.controller, session.id, chosen, period, args.waitSeconds,
                               &summary)) {
        fsv::cli::printError(session.queryFailure());
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
            std::printf("%s %u: %s\n", kind, c.code, fsv::platform::terminalText(name).c_str());
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
        fsv::cli::printJson(out, 2);
        if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
    } else if (!message.empty()) {
        std::printf("%s\n", message.c_str());
    } else {
        const auto total = list.selection();
        std::printf("%u events, %s\n", total.count, fsv::SizeText(total.totalSize).c_str());
    }
    std::fflush(stdout);
    return 0;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto args = std::make_shared<EventsArgs>();
    auto* cmd = app.add_subcommand("events", "list the recordings of a period per camera");
    fsv::cli::addLoginOptions(cmd, args->login);
    fsv::cli::addPeriodOptions(cmd, args->cameras, args->audio, args->from, args->to);
    fsv::cli::addWaitOption(cmd, args->waitSeconds);
    cmd->add_flag("--json", args->json, "print one JSON array");
    cmd->callback([args] { fsv::cli::setExitCode(runEvents(*args)); });
});

}  // namespace
