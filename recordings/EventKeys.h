#pragma once
// Row keys of the event list. A channel row is "1" and its channel id as six digits; an event row
// is "0", its day serial as ten digits and its position in the day as five digits. Keys are read
// back by fixed character positions: recorder (3 digits), channel (3), day (4), event (5).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fsv {

// The largest positions a key can express, one past the last.
inline constexpr int kMaxRecorders = 1000;
inline constexpr int kMaxChannels = 1000;
inline constexpr int kMaxDays = 10000;
inline constexpr int kMaxEvents = 100000;

// channel id = channel position + 1000 × recorder position.
inline int32_t channelId(int recorder, int channel) { return channel + 1000 * recorder; }
// day serial = day position + 10000 × channel id. Up to ten digits: it needs 64 bits.
inline int64_t daySerial(int recorder, int channel, int day) {
    return day + int64_t{10000} * channelId(recorder, channel);
}

std::string channelKey(int32_t channelId);                  // "1%.6d"
std::string eventKey(int64_t daySerial, int32_t position);  // "0%.10d%.5d"

struct ParsedKey {
    bool channel = false;  // a channel row; otherwise an event row
    int recorder = 0, channelPos = 0, day = 0, event = 0;
    bool operator==(const ParsedKey&) const = default;
};

// nullopt unless the key has the exact length of its kind and only digits after the first.
std::optional<ParsedKey> parseKey(std::string_view key);

}  // namespace fsv
