// fsv info HOST[:PORT]|--book NAME [--group GROUP] -u ID [-p PASSWORD] [--json]: log in and
// print what the recorder has.
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "CommandSupport.h"
#include "Commands.h"
#include "platform/Text.h"

namespace {

struct InfoArgs {
    std::shared_ptr<fsv::cli::LoginArgs> login = std::make_shared<fsv::cli::LoginArgs>();
    bool json = false;
    int waitSeconds = 30;
};

nlohmann::json channelsJson(const std::vector<fsv::net::ServerInfoChannel>& channels) {
    auto list = nlohmann::json::array();
    for (auto& c : channels) {
        auto days = nlohmann::json::array();
        for (auto& d : c.days) days.push_back(d.text);
        list.push_back({{"code", c.code}, {"name", fsv::platform::toUtf8(c.name)}, {"days", days}});
    }
    return list;
}

void printChannels(const char* label, const std::vector<fsv::net::ServerInfoChannel>& channels) {
    for (auto& c : channels) {
        std::printf("%s %u: %s\n", label, c.code, fsv::platform::terminalText(c.name).c_str());
        std::printf("  days:");
        for (auto& d : c.days) std::printf(" %s", d.text.c_str());
        std::printf("%s\n", c.days.empty() ? " (none)" : "");
    }
}

int runInfo(const InfoArgs& args) {
    fsv::ConnectRequest request;
    if (!fsv::cli::resolveLogin(*args.login, "fsv info", request)) return 2;

    fsv::cli::Session session(args.waitSeconds, args.login->noPlainLogin);
    if (!session.open(request)) return 1;
    const fsv::net::ServerInfo info =
        session.controller->serverInfo(session.id).value_or(fsv::net::ServerInfo{});
    uint16_t version = 0;
    session.controller->withSession(session.id,
                                    [&](fsv::net::ServerSession& s) { version = s.version(); });
    if (args.json) {
        nlohmann::json out = {{"name", fsv::platform::toUtf8(info.recorderName)},
                              {"version", version},
                              {"cameras", channelsJson(info.cameras)},
                              {"audio", channelsJson(info.audio)}};
        fsv::cli::printJson(out, 2);
    } else {
        std::printf("recorder: %s\n", fsv::platform::terminalText(info.recorderName).c_str());
        std::printf("protocol version: %u\n", version);
        printChannels("camera", info.cameras);
        printChannels("audio", info.audio);
    }
    std::fflush(stdout);
    return 0;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto args = std::make_shared<InfoArgs>();
    auto* cmd = app.add_subcommand("info", "log in and list the recorder's cameras and days");
    fsv::cli::addLoginOptions(cmd, args->login);
    fsv::cli::addWaitOption(cmd, args->waitSeconds);
    cmd->add_flag("--json", args->json, "print one JSON object");
    cmd->callback([args] { fsv::cli::setExitCode(runInfo(*args)); });
});

}  // namespace
