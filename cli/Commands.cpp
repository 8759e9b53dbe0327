#include "Commands.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/Text.h"

namespace fsv::cli {
namespace {
std::vector<AddCommand>& table() {
    static std::vector<AddCommand> t;
    return t;
}
int g_exitCode = 0;
}  // namespace

Registrar::Registrar(AddCommand add) { table().push_back(std::move(add)); }

void addAllCommands(CLI::App& app) {
    for (auto& add : table()) add(app);
}

void setExitCode(int code) { g_exitCode = code; }
int exitCode() { return g_exitCode; }

void printError(const std::string& message) {
    std::fprintf(stderr, "fsv: %s\n", fsv::platform::terminalText(message, true).c_str());
}

void printJson(const nlohmann::json& value, int indent) {
    const std::string text =
        value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
}

}  // namespace fsv::cli
