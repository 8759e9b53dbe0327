#include "recordings/EventKeys.h"

#include <cinttypes>

#include "platform/Shared.h"

namespace fsv {

std::string channelKey(int32_t id) { return format("1%.6d", id); }

std::string eventKey(int64_t serial, int32_t position) {
    return format("0%.10" PRId64 "%.5d", serial, position);
}

namespace {

std::optional<int> digitsAt(std::string_view s, size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

}  // namespace

std::optional<ParsedKey> parseKey(std::string_view key) {
    ParsedKey k;
    if (key.size() == 7 && key[0] == '1') {
        auto r = digitsAt(key, 1, 3), c = digitsAt(key, 4, 3);
        if (!r || !c) return std::nullopt;
        k.channel = true;
        k.recorder = *r;
        k.channelPos = *c;
        return k;
    }
    if (key.size() == 16 && key[0] == '0') {
        auto r = digitsAt(key, 1, 3), c = digitsAt(key, 4, 3), d = digitsAt(key, 7, 4),
             e = digitsAt(key, 11, 5);
        if (!r || !c || !d || !e) return std::nullopt;
        k.recorder = *r;
        k.channelPos = *c;
        k.day = *d;
        k.event = *e;
        return k;
    }
    return std::nullopt;
}

}  // namespace fsv
