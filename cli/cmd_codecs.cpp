// fsv codecs: every FOURCC the video decoder handles, and whether the recorders' codecs are there.
#include <cstdio>

#include "Commands.h"
#include "media/VideoDecoder.h"

namespace {

int listCodecs() {
    using namespace fsv::media;
    for (uint32_t code : decodableHandlers())
        std::printf("%s%s\n", fourccText(code).c_str(),
                    isStandardHandler(code) ? "" : "  (own handler)");
    auto missing = missingStartupDecoders();
    for (uint32_t code : missing)
        fsv::cli::printError(fsv::format("no decoder for %s", fourccText(code).c_str()));
    return missing.empty() ? 0 : 1;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto* cmd = app.add_subcommand("codecs", "list the video codes (FOURCC) that decode");
    cmd->callback([] { fsv::cli::setExitCode(listCodecs()); });
});

}  // namespace
