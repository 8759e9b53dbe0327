#pragma once
// The recordings folder that recorder-sim serves, read into channels, days and files:
//   DIR/Cam<code>/<YYYYMMDD>/<HHMMSS>.avi   cameras (code of two or more digits)
//   DIR/Aud<code>/<YYYYMMDD>/<HHMMSS>.wav   audio channels
// A channel's name comes from an optional one-line file "name" in its folder, else
// "Camera <code>" or "Audio <code>".

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "net/Messages.h"

namespace fsv::sim {

struct SimRecording {
    std::string time;  // HHMMSS
    uint32_t timeNumber = 0;
    std::filesystem::path path;
    uint64_t size = 0;
};

struct SimDay {
    std::string date;  // YYYYMMDD
    uint32_t number = 0;
    std::vector<SimRecording> recordings;  // by time
};

struct SimChannel {
    uint16_t code = 0;
    std::string name;
    net::ChannelKind kind = net::kCamera;
    std::filesystem::path folder;
    std::vector<SimDay> days;  // by date

    const SimDay* findDay(const std::string& date) const;
};

struct Recordings {
    std::vector<SimChannel> cameras, audio;  // by code

    const SimChannel* find(net::ChannelKind kind, uint16_t code) const;
};

// Reads the folder; a missing folder gives no channels. Entries that do not fit the layout are
// skipped.
Recordings scanRecordings(const std::filesystem::path& dir);

// The days of a channel in the groups the recorded-days message carries: one group per month,
// group value YYYYMM, months in order. A day's date id is its group's position.
std::vector<net::DayGroup> dayGroups(const SimChannel& channel);
std::optional<uint32_t> dateIdOf(const SimChannel& channel, const std::string& date);

// The server information messages built from the folder.
net::ServerInfoMessage serverInfoMessage(const Recordings& r);
net::ChannelNamesMessage channelNamesMessage(const Recordings& r);
net::RecordedDaysMessage recordedDaysMessage(const Recordings& r);

}  // namespace fsv::sim
