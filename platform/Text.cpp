#include "platform/Text.h"

#include <cstdint>

namespace fsv::platform {

namespace {

// The length of the UTF-8 sequence at `at` (1-4), or 0 when none starts there.
size_t sequenceLength(std::string_view s, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
    const uint8_t b = byte(at);
    if (b < 0x80) return 1;
    size_t n;
    uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) low = 0xA0;   // overlong
        if (b == 0xED) high = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) low = 0x90;   // overlong
        if (b == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (s.size() - at < n) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < n; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return n;
}

void appendLatin1(std::string& out, uint8_t b) {
    if (b < 0x80) {
        out += static_cast<char>(b);
    } else {
        out += static_cast<char>(0xC0 | (b >> 6));
        out += static_cast<char>(0x80 | (b & 0x3F));
    }
}

}  // namespace

bool isUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = sequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string toUtf8(std::string_view text) {
    if (isUtf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) appendLatin1(out, static_cast<uint8_t>(c));
    return out;
}

std::string terminalText(std::string_view text, bool keepNewlines) {
    const std::string utf8 = toUtf8(text);
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = sequenceLength(utf8, i);  // never 0: the text is UTF-8 now
        const auto b0 = static_cast<uint8_t>(utf8[i]);
        const auto b1 = n > 1 ? static_cast<uint8_t>(utf8[i + 1]) : 0;
        const bool c0 = n == 1 && (b0 < 0x20 || b0 == 0x7F) && !(keepNewlines && b0 == '\n');
        const bool c1 = n == 2 && b0 == 0xC2 && b1 <= 0x9F;  // U+0080-U+009F
        if (c0 || c1)
            out += '?';
        else
            out.append(utf8, i, n);
        i += n;
    }
    return out;
}

}  // namespace fsv::platform
