#include "sim/Recordings.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace fsv::sim {

namespace fs = std::filesystem;

namespace {

bool allDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::optional<uint16_t> channelCode(const std::string& folder, const std::string& prefix) {
    if (folder.size() < prefix.size() + 2 || folder.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    std::string digits = folder.substr(prefix.size());
    if (!allDigits(digits) || digits.size() > 5) return std::nullopt;
    unsigned long v = std::stoul(digits);
    if (v > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(v);
}

std::string readName(const fs::path& folder, const std::string& fallback) {
    std::ifstream in(folder / "name");
    std::string line;
    if (in && std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (!line.empty()) return line;
    }
    return fallback;
}

SimChannel scanChannel(const fs::path& folder, uint16_t code, net::ChannelKind kind) {
    SimChannel ch;
    ch.code = code;
    ch.kind = kind;
    ch.folder = folder;
    ch.name =
        readName(folder, (kind == net::kCamera ? "Camera " : "Audio ") + std::to_string(code));
    const std::string ext = kind == net::kCamera ? ".avi" : ".wav";
    std::error_code ec;
    for (auto& dayEntry : fs::directory_iterator(folder, ec)) {
        std::string date = dayEntry.path().filename().string();
        if (!dayEntry.is_directory() || date.size() != 8 || !allDigits(date)) continue;
        SimDay day;
        day.date = date;
        day.number = static_cast<uint32_t>(std::stoul(date));
        std::error_code ec2;
        for (auto& file : fs::directory_iterator(dayEntry.path(), ec2)) {
            std::string stem = file.path().stem().string();
            if (!file.is_regular_file() || stem.size() != 6 || !allDigits(stem)) continue;
            std::string e = file.path().extension().string();
            std::transform(e.begin(), e.end(), e.begin(), ::tolower);
            if (e != ext) continue;
            std::error_code ec3;
            uint64_t size = file.file_size(ec3);
            day.recordings.push_back(
                {stem, static_cast<uint32_t>(std::stoul(stem)), file.path(), ec3 ? 0 : size});
        }
        std::sort(day.recordings.begin(), day.recordings.end(),
                  [](auto& a, auto& b) { return a.time < b.time; });
        ch.days.push_back(std::move(day));
    }
    std::sort(ch.days.begin(), ch.days.end(), [](auto& a, auto& b) { return a.date < b.date; });
    return ch;
}

}  // namespace

const SimDay* SimChannel::findDay(const std::string& date) const {
    for (auto& d : days)
        if (d.date == date) return &d;
    return nullptr;
}

const SimChannel* Recordings::find(net::ChannelKind kind, uint16_t code) const {
    for (auto& c : kind == net::kAudio ? audio : cameras)
        if (c.code == code) return &c;
    return nullptr;
}

Recordings scanRecordings(const fs::path& dir) {
    Recordings r;
    std::error_code ec;
    for (auto& entry : fs::directory_iterator(dir, ec)) {
        if (!entry.is_directory()) continue;
        std::string folder = entry.path().filename().string();
        if (auto code = channelCode(folder, "Cam"))
            r.cameras.push_back(scanChannel(entry.path(), *code, net::kCamera));
        else if (auto acode = channelCode(folder, "Aud"))
            r.audio.push_back(scanChannel(entry.path(), *acode, net::kAudio));
    }
    auto byCode = [](auto& a, auto& b) { return a.code < b.code; };
    std::sort(r.cameras.begin(), r.cameras.end(), byCode);
    std::sort(r.audio.begin(), r.audio.end(), byCode);
    return r;
}

std::vector<net::DayGroup> dayGroups(const SimChannel& channel) {
    std::vector<net::DayGroup> groups;
    for (auto& d : channel.days) {
        uint32_t month = d.number / 100;
        if (groups.empty() || groups.back().value != month) groups.push_back({month, {}});
        groups.back().days.push_back(d.number);
    }
    return groups;
}

std::optional<uint32_t> dateIdOf(const SimChannel& channel, const std::string& date) {
    auto groups = dayGroups(channel);
    for (size_t g = 0; g < groups.size(); ++g)
        for (uint32_t d : groups[g].days)
            if (net::dayText(d) == date) return static_cast<uint32_t>(g);
    return std::nullopt;
}

net::ServerInfoMessage serverInfoMessage(const Recordings& r) {
    net::ServerInfoMessage m;
    auto fill = [](const std::vector<SimChannel>& in, std::vector<net::ChannelDays>& out) {
        for (auto& c : in) {
            net::ChannelDays cd{c.code, c.name, {}};
            for (auto& d : c.days) cd.days.push_back(d.number);
            out.push_back(std::move(cd));
        }
    };
    fill(r.cameras, m.cameras);
    fill(r.audio, m.audio);
    return m;
}

net::ChannelNamesMessage channelNamesMessage(const Recordings& r) {
    net::ChannelNamesMessage m;
    for (auto& c : r.cameras) m.cameras.push_back({c.code, c.name});
    for (auto& c : r.audio) m.audio.push_back({c.code, c.name});
    return m;
}

net::RecordedDaysMessage recordedDaysMessage(const Recordings& r) {
    net::RecordedDaysMessage m;
    for (auto& c : r.cameras) m.cameras.push_back({c.code, dayGroups(c)});
    for (auto& c : r.audio) m.audio.push_back({c.code, dayGroups(c)});
    return m;
}

}  // namespace fsv::sim
