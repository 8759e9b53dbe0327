#include "recordings/download/StreamReplies.h"

#include <cstdio>
#include <cstring>

#include "platform/Bytes.h"

namespace fsv::download {

std::optional<HeaderReply> parseHeaderReply(std::span<const uint8_t> body) {
    platform::ByteReader r(body);
    HeaderReply h;
    h.value = r.u32();
    h.frameCount = r.u32();
    if (!r.ok()) return std::nullopt;
    h.header = r.view(r.remaining());
    return h;
}

std::optional<uint32_t> parseFileHeaderReply(std::span<const uint8_t> body) {
    platform::ByteReader r(body);
    const uint32_t size = r.u32();
    if (!r.ok()) return std::nullopt;
    return size;
}

std::optional<BlockReply> parseBlockReply(std::span<const uint8_t> body) {
    platform::ByteReader r(body);
    BlockReply b;
    b.number = r.u32();
    if (!r.ok()) return std::nullopt;
    b.data = r.view(r.remaining());
    return b;
}

std::optional<StatusReply> parseStatusReply(std::span<const uint8_t> body, uint8_t mode) {
    if (mode == 11 ? body.size() != 2 : body.size() < 2) return std::nullopt;
    platform::ByteReader r(body);
    StatusReply s;
    s.status = r.u8();
    if (mode != 10) return s;
    s.check = r.u8();
    if (s.check != 0 && r.remaining() >= 8) {
        s.first = r.u32();
        s.second = r.u32();
    }
    return s;
}

std::optional<TimedFrame> parseTimedFrame(std::span<const uint8_t> record) {
    platform::ByteReader r(record);
    TimedFrame f;
    f.keyFrame = r.u32() != 0;
    auto time = r.view(SystemTime::kSize);
    if (!r.ok()) return std::nullopt;
    f.time = SystemTime::read(time.data());
    f.data = r.view(r.remaining());
    return f;
}

std::optional<TextFrame> parseTextFrame(std::span<const uint8_t> record) {
    platform::ByteReader r(record);
    TextFrame f;
    f.keyFrame = r.u32() != 0;
    if (!r.ok()) return std::nullopt;
    const uint8_t* text = r.current();
    const size_t left = r.remaining();
    const void* nul = left ? std::memchr(text, 0, left) : nullptr;
    if (!nul) {
        // The text fills the record: there is no video data.
        f.text.assign(reinterpret_cast<const char*>(text), left);
        return f;
    }
    const size_t len = static_cast<const uint8_t*>(nul) - text;
    f.text.assign(reinterpret_cast<const char*>(text), len);
    r.skip(len + 1);
    f.data = r.view(r.remaining());
    return f;
}

std::optional<SystemTime> parseFrameTimeText(const std::string& text) {
    int h = 0, m = 0, s = 0, mo = 0, d = 0, y = 0;
    long sec = 0, ms = 0;
    SystemTime t;
    if (std::sscanf(text.c_str(), "Event#1-%d:%d:%d(%d/%d/%d)", &h, &m, &s, &mo, &d, &y) >= 3) {
        t.second = static_cast<uint16_t>(s);
    } else if (std::sscanf(text.c_str(), "#1-%d:%d:%ld.%03ld", &h, &m, &sec, &ms) == 4) {
        t.second = static_cast<uint16_t>(sec);
        t.milliseconds = static_cast<uint16_t>(ms);
    } else {
        return std::nullopt;
    }
    if (h < 0 || h > 23 || m < 0 || m > 59 || t.second > 59 || t.milliseconds > 999)
        return std::nullopt;
    t.hour = static_cast<uint16_t>(h);
    t.minute = static_cast<uint16_t>(m);
    return t;
}

}  // namespace fsv::download
