#include <cstdio>

#include "Commands.h"

static fsv::cli::Registrar reg([](CLI::App& app) {
    auto* cmd = app.add_subcommand("version", "print the program version");
    cmd->callback([] { std::printf("fsv 0.1\n"); });
});
