#pragma once
// The command table of fsv. Each cmd_*.cpp adds its subcommand with a static registrar:
//
//   static fsv::cli::Registrar reg([](CLI::App& app) {
//       auto* cmd = app.add_subcommand("info", "...");
//       ...
//       cmd->callback([=] { fsv::cli::setExitCode(run(...)); });
//   });

#include <CLI/CLI.hpp>

#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace fsv::cli {

using AddCommand = std::function<void(CLI::App&)>;

struct Registrar {
    explicit Registrar(AddCommand add);
};

void addAllCommands(CLI::App& app);

// The process exit status a command's callback leaves behind (0 unless set).
void setExitCode(int code);
int exitCode();

// One line on standard error, the way every command reports a failure. Control characters
// (from a recorder's names, say) are shown as '?'.
void printError(const std::string& message);

// A JSON value on standard output (`indent` as nlohmann::json::dump). Texts from outside go in
// through platform::toUtf8; a byte that still is not UTF-8 is replaced rather than ending the
// program.
void printJson(const nlohmann::json& value, int indent = -1);

}  // namespace fsv::cli
