// fsv: the command-line client over the same core as the desktop program.
#include <CLI/CLI.hpp>

#include "Commands.h"

int main(int argc, char** argv) {
    CLI::App app{"fsv: list, query and download the recordings of a recorder"};
    app.require_subcommand(1);
    fsv::cli::addAllCommands(app);
    CLI11_PARSE(app, argc, argv);
    return fsv::cli::exitCode();
}
