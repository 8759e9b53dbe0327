#include "media/AviTypes.h"

#include <cstdlib>

#include "platform/Bytes.h"

namespace fsv::media {

uint32_t fourcc(std::string_view s) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) {
        uint8_t c = i < s.size() ? static_cast<uint8_t>(s[i]) : ' ';
        v |= static_cast<uint32_t>(c) << (8 * i);
    }
    return v;
}

std::string fourccText(uint32_t code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<char>(code >> (8 * i));
        s[i] = (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return s;
}

std::optional<AviStreamInfo> AviStreamInfo::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes);
    AviStreamInfo s;
    s.fccType = r.u32();
    s.fccHandler = r.u32();
    s.flags = r.u32();
    s.caps = r.u32();
    s.priority = r.u16();
    s.language = r.u16();
    s.scale = r.u32();
    s.rate = r.u32();
    s.start = r.u32();
    s.length = r.u32();
    s.initialFrames = r.u32();
    s.suggestedBufferSize = r.u32();
    s.quality = r.u32();
    s.sampleSize = r.u32();
    s.frameLeft = r.i32();
    s.frameTop = r.i32();
    s.frameRight = r.i32();
    s.frameBottom = r.i32();
    s.editCount = r.u32();
    s.formatChangeCount = r.u32();
    s.name = r.fixedText(kNameSize);
    if (!r.ok()) return std::nullopt;
    return s;
}

std::array<uint8_t, AviStreamInfo::kSize> AviStreamInfo::serialize() const {
    platform::ByteWriter w;
    w.u32(fccType).u32(fccHandler).u32(flags).u32(caps).u16(priority).u16(language);
    w.u32(scale).u32(rate).u32(start).u32(length).u32(initialFrames).u32(suggestedBufferSize);
    w.u32(quality).u32(sampleSize);
    w.i32(frameLeft).i32(frameTop).i32(frameRight).i32(frameBottom);
    w.u32(editCount).u32(formatChangeCount);
    // The name always keeps a terminating zero inside its field.
    std::string_view n = name;
    if (n.size() > kNameSize - 1) n = n.substr(0, kNameSize - 1);
    w.fixedText(n, kNameSize);
    std::array<uint8_t, kSize> out{};
    std::copy(w.data().begin(), w.data().end(), out.begin());
    return out;
}

std::optional<BitmapInfoHeader> BitmapInfoHeader::parse(std::span<const uint8_t> bytes) {
    platform::ByteReader r(bytes);
    BitmapInfoHeader h;
    h.size = r.u32();
    h.width = r.i32();
    h.height = r.i32();
    h.planes = r.u16();
    h.bitCount = r.u16();
    h.compression = r.u32();
    h.sizeImage = r.u32();
    h.xPelsPerMeter = r.i32();
    h.yPelsPerMeter = r.i32();
    h.clrUsed = r.u32();
    h.clrImportant = r.u32();
    if (!r.ok()) return std::nullopt;
    return h;
}

std::array<uint8_t, BitmapInfoHeader::kSize> BitmapInfoHeader::serialize() const {
    platform::ByteWriter w;
    w.u32(size).i32(width).i32(height).u16(planes).u16(bitCount).u32(compression);
    w.u32(sizeImage).i32(xPelsPerMeter).i32(yPelsPerMeter).u32(clrUsed).u32(clrImportant);
    std::array<uint8_t, kSize> out{};
    std::copy(w.data().begin(), w.data().end(), out.begin());
    return out;
}

BitmapInfoHeader BitmapInfoHeader::rgb24(int width, int height) {
    BitmapInfoHeader h;
    h.width = width;
    h.height = height;
    h.bitCount = 24;
    h.compression = 0;
    // Rows are padded to four bytes as bitmaps store them; for the recorders' widths (multiples
    // of four) this is exactly width x height x 3.
    h.sizeImage = static_cast<uint32_t>(rgb24Stride(width) * static_cast<uint32_t>(height));
    return h;
}

namespace {

// Decimal digits at the start of `s`, like atol: stops at the first non-digit, empty gives 0.
// Values are kept in 16 bits as the time record stores them.
uint16_t number(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    uint32_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = v * 10 + (s[i] - '0');
    return static_cast<uint16_t>(negative ? 0u - v : v);
}

// The field up to the next `sep` (or to the end), and moves past the separator.
std::string_view field(std::string_view& s, char sep) {
    size_t at = s.find(sep);
    std::string_view f = s.substr(0, at);
    s = at == std::string_view::npos ? std::string_view{} : s.substr(at + 1);
    return f;
}

}  // namespace

bool parseTimeStamp(std::string_view text, SystemTime& time) {
    // A sample may carry its terminating zero and padding: the text ends at the first zero.
    if (size_t nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    if (text.starts_with("#")) {
        size_t dash = text.find('-', 1);
        if (dash == std::string_view::npos) return false;  // no camera separator: no time
        std::string_view s = text.substr(dash + 1);
        time.hour = number(field(s, ':'));
        time.minute = number(field(s, ':'));
        time.second = number(field(s, '.'));
        time.milliseconds = number(s);
        return true;
    }
    std::string_view s;
    if (text.starts_with("Event#1-")) {
        s = text.substr(8);
    } else if (text.starts_with("Event#")) {
        size_t dash = text.find('-', 6);
        if (dash == std::string_view::npos) return false;
        s = text.substr(dash + 1);
    } else {
        return false;
    }
    time.hour = number(field(s, ':'));
    time.minute = number(field(s, ':'));
    time.second = number(field(s, '('));
    time.year = number(field(s, '/'));
    time.month = number(field(s, '/'));
    time.day = number(field(s, ')'));
    time.milliseconds = 0;
    return true;
}

std::string firstFrameTimeText(const SystemTime& t) {
    return format("Event#1-%d:%d:%d(%d/%d/%d)", t.hour, t.minute, t.second, t.year, t.month, t.day);
}

std::string laterFrameTimeText(const SystemTime& t) {
    return format("#1-%d:%d:%ld.%03ld", t.hour, t.minute, static_cast<long>(t.second),
                  static_cast<long>(t.milliseconds));
}

}  // namespace fsv::media
