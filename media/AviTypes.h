#pragma once
// The records that AVI files and the recorder's stream headers are made of, read and written
// field by field (little-endian), and the frame time texts of the "txts" stream.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Shared.h"

namespace fsv::media {

// A four-character code as the 32-bit value it is stored as ('a' in the lowest byte).
constexpr uint32_t fourcc(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}
uint32_t fourcc(std::string_view s);  // first four characters, padded with spaces
// The code as text; bytes outside printable ASCII are shown as '?'.
std::string fourccText(uint32_t code);

inline constexpr uint32_t kStreamVideo = fourcc("vids");
inline constexpr uint32_t kStreamText = fourcc("txts");
inline constexpr uint32_t kStreamAudio = fourcc("auds");

// The 140-byte stream information record (also the recorder's per-stream header record).
struct AviStreamInfo {
    static constexpr size_t kSize = 140;
    static constexpr size_t kNameSize = 64;

    uint32_t fccType = 0;
    uint32_t fccHandler = 0;
    uint32_t flags = 0;
    uint32_t caps = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t initialFrames = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t quality = 0;
    uint32_t sampleSize = 0;
    int32_t frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
    uint32_t editCount = 0;
    uint32_t formatChangeCount = 0;
    std::string name;  // at most 63 characters are stored

    // nullopt when fewer than 140 bytes are given.
    static std::optional<AviStreamInfo> parse(std::span<const uint8_t> bytes);
    std::array<uint8_t, kSize> serialize() const;
    int width() const { return frameRight; }
    int height() const { return frameBottom; }
};

// Bytes per row of a 24-bit picture as bitmaps store it (rows padded to 4 bytes).
inline size_t rgb24Stride(int width) { return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3}; }

// The 40-byte BITMAPINFOHEADER.
struct BitmapInfoHeader {
    static constexpr size_t kSize = 40;

    uint32_t size = kSize;
    int32_t width = 0;
    int32_t height = 0;  // positive: bottom-up rows
    uint16_t planes = 1;
    uint16_t bitCount = 0;
    uint32_t compression = 0;  // 0 = BI_RGB
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;

    static std::optional<BitmapInfoHeader> parse(std::span<const uint8_t> bytes);
    std::array<uint8_t, kSize> serialize() const;

    // The decoded picture: bottom-up 24-bit BI_RGB, no colour table, rows of rgb24Stride().
    static BitmapInfoHeader rgb24(int width, int height);
    bool operator==(const BitmapInfoHeader&) const = default;
};

// Frame times of the "txts" stream. Three forms are read, tried in this order:
//   "#<camera>-H:M:S.ms"               time of day only; the date fields are left untouched
//   "Event#1-H:M:S(Y/Mo/D)"            time and date, milliseconds 0
//   "Event#<any>-H:M:S(Y/Mo/D)"        as above
// Numbers are decimal without fixed width; a field that is empty or not a number reads as 0.
// Returns false (and leaves `time` untouched) for any other text, and for a "#" or "Event#"
// text without the "-" that ends its camera part.
bool parseTimeStamp(std::string_view text, SystemTime& time);

// The texts recordings are written with: the first frame carries the date, later ones only
// the time of day.
std::string firstFrameTimeText(const SystemTime& t);  // "Event#1-%d:%d:%d(%d/%d/%d)"
std::string laterFrameTimeText(const SystemTime& t);  // "#1-%d:%d:%ld.%03ld"

}  // namespace fsv::media
