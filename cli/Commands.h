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

// One line on standard error, the way every command reports a failure.
void printError(const std::string& message);

}  // namespace fsv::cli
