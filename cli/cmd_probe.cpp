// fsv probe FILE.avi [--json] [--decode]: what the AVI reader sees in a file.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "Commands.h"
#include "media/AviReader.h"
#include "platform/Text.h"

namespace {

std::string typeText(uint32_t type) {
    using namespace fsv::media;
    if (type == kStreamVideo) return "video";
    if (type == kStreamText) return "text";
    if (type == kStreamAudio) return "audio";
    return fourccText(type);
}

std::string timeText(fsv::media::AviReader& reader, int index, fsv::SystemTime& date) {
    if (index < 0 || !reader.readTimeStamp(index, date)) return {};
    return fsv::format("%04u-%02u-%02u %02u:%02u:%02u.%03u", date.year, date.month, date.day,
                       date.hour, date.minute, date.second, date.milliseconds);
}

int probe(const std::string& path, bool json, bool decode) {
    using namespace fsv::media;
    AviReader reader;
    const int frames = reader.open(path, decode);
    const uint8_t index = AviReader::checkAviIndex(path, 0xFFFFFFFF);
    if (frames == 0) {
        fsv::cli::printError(fsv::format("%s: not a usable AVI file", path.c_str()));
        return 1;
    }
    nlohmann::json out;
    out["file"] = fsv::platform::toUtf8(path);
    out["streams"] = nlohmann::json::array();
    for (int i = 0; i < reader.streamCount(); ++i) {
        const AviStreamInfo& s = reader.streamInfo(i);
        out["streams"].push_back({{"type", typeText(s.fccType)},
                                  {"handler", fourccText(s.fccHandler)},
                                  {"name", fsv::platform::toUtf8(s.name)},
                                  {"samples", reader.sampleCount(i)},
                                  {"width", s.width()},
                                  {"height", s.height()}});
    }
    out["frames"] = frames;
    int keys = 0;
    for (int i = 0; i < frames; ++i) keys += reader.isKeyFrame(i);
    out["keyframes"] = keys;
    // The date of a "#" time comes from the first frame's text, as in playback.
    fsv::SystemTime date{};
    out["first"] = timeText(reader, 0, date);
    fsv::SystemTime last = date;
    for (int i = 1; i < frames - 1; ++i) reader.readTimeStamp(i, last);
    out["last"] = timeText(reader, frames - 1, last);
    out["index"] = index;
    if (decode) {
        int decoded = 0, failed = 0;
        for (int i = 0; i < frames; ++i) (reader.getFrame(i) ? decoded : failed)++;
        out["decoded"] = decoded;
        out["failed"] = failed;
    }
    if (json) {
        fsv::cli::printJson(out, 2);
        return 0;
    }
    using fsv::platform::terminalText;
    std::printf("%s\n", terminalText(path).c_str());
    for (size_t i = 0; i < out["streams"].size(); ++i) {
        const auto& s = out["streams"][i];
        std::printf("  stream %zu: %s %s \"%s\" %d samples", i,
                    s["type"].get<std::string>().c_str(), s["handler"].get<std::string>().c_str(),
                    terminalText(s["name"].get<std::string>()).c_str(), s["samples"].get<int>());
        if (s["type"] == "video")
            std::printf(" %dx%d", s["width"].get<int>(), s["height"].get<int>());
        std::printf("\n");
    }
    std::printf("  frames: %d, key frames: %d\n", frames, keys);
    std::printf("  first: %s\n  last: %s\n", out["first"].get<std::string>().c_str(),
                out["last"].get<std::string>().c_str());
    std::printf("  index: %d\n", index);
    if (decode)
        std::printf("  decoded: %d, failed: %d\n", out["decoded"].get<int>(),
                    out["failed"].get<int>());
    return 0;
}

fsv::cli::Registrar reg([](CLI::App& app) {
    auto* cmd =
        app.add_subcommand("probe", "show the streams, frames and time stamps of an AVI file");
    auto path = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    auto decode = std::make_shared<bool>(false);
    cmd->add_option("file", *path, "AVI file")->required();
    cmd->add_flag("--json", *json, "print JSON");
    cmd->add_flag("--decode", *decode, "decode every frame and count failures");
    cmd->callback([=] { fsv::cli::setExitCode(probe(*path, *json, *decode)); });
});

}  // namespace
