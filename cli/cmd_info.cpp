// fsv info HOST[:PORT] -u ID [-p PASSWORD] [--json]: log in and print what the recorder has.
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "Commands.h"
#include "net/HeadlessConnect.h"
#include "platform/ScriptedUserPort.h"

namespace {

struct InfoArgs {
    std::string target;
    std::string id = "Guest";
    std::string password;
    bool passwordGiven = false;
    bool json = false;
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

nlohmann::json channelsJson(const std::vector<fsv::net::ServerInfoChannel>& channels) {
    auto list = nlohmann::json::array();
    for (auto& c : channels) {
        auto days = nlohmann::json::array();
        for (auto& d : c.days) days.push_back(d.text);
        list.push_back({{"code", c.code}, {"name", c.name}, {"days", days}});
    }
    return list;
}

void printChannels(const char* label, const std::vector<fsv::net::ServerInfoChannel>& channels) {
    for (auto& c : channels) {
        std::printf("%s %u: %s\n", label, c.code, c.name.c_str());
        std::printf("  days:");
        for (auto& d : c.days) std::printf(" %s", d.text.c_str());
        std::printf("%s\n", c.days.empty() ? " (none)" : "");
    }
}

int runInfo(const InfoArgs& args) {
    fsv::ConnectRequest request;
    if (!splitTarget(args.target, request)) {
        fsv::cli::printError("fsv info: HOST[:PORT] expected, got \"" + args.target + "\"");
        return 2;
    }
    request.id = args.id;
    if (args.passwordGiven) {
        request.password = args.password;
    } else if (const char* env = std::getenv("FSV_PASSWORD")) {
        request.password = env;
    }

    fsv::ScriptedUserPort user;
    fsv::net::ConnectionManager transport;
    fsv::net::HeadlessConnection connection(transport, user);
    if (!connection.open(request)) {
        fsv::cli::printError(connection.error());
        return 1;
    }
    const auto& info = connection.info();
    const uint16_t version = connection.session()->version();
    if (args.json) {
        nlohmann::json out = {{"name", info.recorderName},
                              {"version", version},
                              {"cameras", channelsJson(info.cameras)},
                              {"audio", channelsJson(info.audio)}};
        std::printf("%s\n", out.dump(2).c_str());
    } else {
        std::printf("recorder: %s\n", info.recorderName.c_str());
        std::printf("protocol version: %u\n", version);
        printChannels("camera", info.cameras);
        printChannels("audio", info.audio);
    }
    std::fflush(stdout);
    connection.close();
    return 0;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto args = std::make_shared<InfoArgs>();
    auto* cmd = app.add_subcommand("info", "log in and list the recorder's cameras and days");
    cmd->add_option("target", args->target, "HOST[:PORT] (port 5066 when left out)")->required();
    cmd->add_option("-u,--user", args->id, "login ID");
    cmd->add_option("-p,--password", args->password,
                    "password (default: the environment variable FSV_PASSWORD)")
        ->each([args](const std::string&) { args->passwordGiven = true; });
    cmd->add_flag("--json", args->json, "print one JSON object");
    cmd->callback([args] { fsv::cli::setExitCode(runInfo(*args)); });
});

}  // namespace
