#pragma once
// Types and helpers that every part of the program shares.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fsv {

inline constexpr uint16_t kDefaultPort = 5066;

// What every connect path hands to the panel's connect operations.
struct ConnectRequest {
    uint16_t kind = 1;  // 1: from the address book or the Connect To dialog
    uint16_t port = kDefaultPort;
    std::string address;  // host name or dotted IPv4 address
    std::string id = "Guest";
    std::string password;  // plain in memory

    static bool validPort(unsigned port) { return port >= 1024 && port <= 65535; }
};

// Reversible scrambling of a password into lowercase hexadecimal text: byte j of n becomes
// "%02x" of (byte - j + n) mod 256.
std::string ScramblePassword(std::string_view password);
// The inverse; nullopt for text of odd length or with a character that is not a hex digit.
std::optional<std::string> UnscramblePassword(std::string_view scrambled);

// "%d KB" up to 0xFFFFF bytes, "%.1f MB" up to 0x3FFFFFFF, "%.1f GB" above.
std::string SizeText(uint64_t bytes);

// The 16-byte SYSTEMTIME that frame times travel in: eight little-endian 16-bit fields.
struct SystemTime {
    uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
    uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;

    static constexpr size_t kSize = 16;
    void write(uint8_t* out) const;
    static SystemTime read(const uint8_t* in);
    bool operator==(const SystemTime&) const = default;
};

// printf into a std::string, for the system's own "%s ..." message texts.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace fsv
