#include "platform/Shared.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/Bytes.h"

namespace fsv {

std::string ScramblePassword(std::string_view password) {
    static const char digits[] = "0123456789abcdef";
    const size_t n = password.size();
    std::string out;
    out.reserve(2 * n);
    for (size_t j = 0; j < n; ++j) {
        auto v = static_cast<uint8_t>(static_cast<uint8_t>(password[j]) - j + n);
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}

std::optional<std::string> UnscramblePassword(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    const size_t n = text.size() / 2;
    std::string out;
    out.reserve(n);
    for (size_t j = 0; j < n; ++j) {
        int hi = hex(text[2 * j]), lo = hex(text[2 * j + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(static_cast<uint8_t>((hi << 4 | lo) - (n - j)));
    }
    return out;
}

std::string SizeText(uint64_t bytes) {
    if (bytes > 0x3FFFFFFF) return format("%.1f GB", static_cast<double>(bytes) / (1 << 30));
    if (bytes > 0xFFFFF) return format("%.1f MB", static_cast<double>(bytes) / (1 << 20));
    return format("%d KB", static_cast<int>(bytes / 1024));
}

void SystemTime::write(uint8_t* out) const {
    const uint16_t f[8] = {year, month, dayOfWeek, day, hour, minute, second, milliseconds};
    for (int i = 0; i < 8; ++i) platform::putU16(out + 2 * i, f[i]);
}

SystemTime SystemTime::read(const uint8_t* in) {
    SystemTime t;
    uint16_t* f[8] = {&t.year, &t.month, &t.dayOfWeek, &t.day,
                      &t.hour, &t.minute, &t.second, &t.milliseconds};
    for (int i = 0; i < 8; ++i) *f[i] = platform::getU16(in + 2 * i);
    return t;
}

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s;
    if (n > 0) {
        s.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(s.data(), s.size(), fmt, ap2);
        s.resize(static_cast<size_t>(n));
    }
    va_end(ap2);
    return s;
}

}  // namespace fsv
