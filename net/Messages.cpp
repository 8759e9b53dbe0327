#include "net/Messages.h"

#include <cstdio>

#include "platform/Bytes.h"

namespace fsv::net {

using platform::ByteReader;
using platform::ByteWriter;

namespace {

// A reader positioned after the command byte, or a bad one when the code does not match.
ByteReader after(ByteSpan message, uint8_t code) {
    ByteReader r(message);
    if (r.u8() != code || !r.ok()) r.skip(message.size() + 1);  // marks it bad
    return r;
}

}  // namespace

// ---- frames ------------------------------------------------------------------------------

void encodeFrameHeader(uint8_t out[kFrameHeaderSize], uint8_t type, uint32_t length) {
    out[0] = type;
    platform::putU32(out + 1, length);
}

Bytes encodeFrameHeader(uint8_t type, uint32_t length) {
    Bytes b(kFrameHeaderSize);
    encodeFrameHeader(b.data(), type, length);
    return b;
}

std::optional<FrameHeader> parseFrameHeader(ByteSpan bytes) {
    if (bytes.size() < kFrameHeaderSize) return std::nullopt;
    return FrameHeader{bytes[0], platform::getU32(bytes.data() + 1)};
}

Bytes encodeCommand(uint8_t code) { return Bytes{code}; }

bool parseCommand(ByteSpan message, uint8_t code) { return !message.empty() && message[0] == code; }

// ---- public key --------------------------------------------------------------------------

Bytes encodeKeyRequest() { return Bytes{cmd::kPublicKey, 0x00, 0x23, 0x00}; }

bool parseKeyRequest(ByteSpan message) {
    return message.size() == 4 && message[0] == cmd::kPublicKey && message[1] == 0 &&
           platform::getU16(message.data() + 2) == 35;
}

Bytes encodePublicKey(ByteSpan blob) {
    ByteWriter w;
    w.u8(cmd::kPublicKey).u32(1).u32(static_cast<uint32_t>(blob.size())).bytes(blob);
    return w.take();
}

std::optional<PublicKeyReply> parsePublicKey(ByteSpan message) {
    if (message.empty() || message[0] != cmd::kPublicKey) return std::nullopt;
    PublicKeyReply reply;
    ByteReader r = after(message, cmd::kPublicKey);
    uint32_t one = r.u32();
    uint32_t n = r.u32();
    if (r.ok() && one == 1 && message.size() - 1 == static_cast<uint64_t>(n) + 8) {
        auto key = r.view(n);
        reply.key = Bytes(key.begin(), key.end());
    }
    return reply;
}

// ---- login -------------------------------------------------------------------------------

Bytes encodeLoginPlain(uint16_t version, std::string_view id, std::string_view scrambled) {
    ByteWriter w;
    w.u8(cmd::kLogin).u16(version).cstr(id).cstr(scrambled);
    return w.take();
}

Bytes encodeLoginSecret(std::string_view id, std::string_view scrambled) {
    ByteWriter w;
    w.cstr(id).cstr(scrambled);
    return w.take();
}

Bytes encodeLoginEncrypted(uint16_t version, ByteSpan cipher) {
    ByteWriter w;
    w.u8(cmd::kLogin).u16(version).u8(0).u8(0).u32(static_cast<uint32_t>(cipher.size()));
    w.bytes(cipher);
    return w.take();
}

Bytes encodeLoginEncryptionFailed(uint16_t version) {
    ByteWriter w;
    w.u8(cmd::kLogin).u16(version).u32(0);
    return w.take();
}

std::optional<LoginPlain> parseLoginPlain(ByteSpan message) {
    ByteReader r = after(message, cmd::kLogin);
    LoginPlain l;
    l.version = r.u16();
    l.id = r.cstr();
    l.scrambled = r.cstr();
    if (!r.ok()) return std::nullopt;
    return l;
}

std::optional<LoginEncrypted> parseLoginEncrypted(ByteSpan message) {
    ByteReader r = after(message, cmd::kLogin);
    LoginEncrypted l;
    l.version = r.u16();
    uint8_t z0 = r.u8(), z1 = r.u8();
    if (!r.ok() || z0 != 0 || z1 != 0) return std::nullopt;
    if (message.size() == 7) {  // encryption failed on the client: two more zero bytes
        if (r.u16() != 0) return std::nullopt;
        return l;
    }
    uint32_t c = r.u32();
    auto cipher = r.view(c);
    if (!r.ok() || r.remaining() != 0 || c == 0) return std::nullopt;
    l.cipher.assign(cipher.begin(), cipher.end());
    return l;
}

std::optional<LoginPlain> parseLoginSecret(ByteSpan secret) {
    ByteReader r(secret);
    LoginPlain l;
    l.id = r.cstr();
    l.scrambled = r.cstr();
    if (!r.ok()) return std::nullopt;
    return l;
}

Bytes encodeLoginAccepted(std::string_view name, std::optional<uint16_t> version) {
    ByteWriter w;
    w.u8(cmd::kLoginReply).u8(1).cstr(name);
    if (version) w.u16(*version);
    return w.take();
}

Bytes encodeLoginRefused(std::optional<uint16_t> version) {
    ByteWriter w;
    w.u8(cmd::kLoginReply).u8(0);
    if (version) w.u16(*version);
    return w.take();
}

std::optional<LoginReply> parseLoginReply(ByteSpan message) {
    ByteReader r = after(message, cmd::kLoginReply);
    LoginReply reply;
    uint8_t verdict = r.u8();
    if (!r.ok()) return std::nullopt;
    reply.accepted = verdict != 0;
    if (reply.accepted) {
        reply.name = r.cstr();
        if (!r.ok()) return std::nullopt;
        // The version follows the name when the payload holds at least n + 4 bytes.
        if (r.remaining() >= 2) reply.version = r.u16();
    } else if (r.remaining() >= 2) {
        reply.version = r.u16();
    }
    return reply;
}

// ---- server information ------------------------------------------------------------------

namespace {

void writeDays(ByteWriter& w, const std::vector<uint32_t>& days) {
    w.u16(static_cast<uint16_t>(days.size()));
    for (uint32_t d : days) w.u32(d);
}

bool readChannelDays(ByteReader& r, std::vector<ChannelDays>& out) {
    uint16_t n = r.u16();
    for (uint16_t i = 0; i < n && r.ok(); ++i) {
        ChannelDays c;
        c.code = r.u16();
        c.name = r.cstr();
        uint16_t k = r.u16();
        if (!r.has(static_cast<size_t>(k) * 4)) return false;
        c.days.reserve(k);
        for (uint16_t j = 0; j < k; ++j) c.days.push_back(r.u32());
        if (r.ok()) out.push_back(std::move(c));
    }
    return r.ok();
}

bool readChannelNames(ByteReader& r, std::vector<ChannelName>& out) {
    uint16_t n = r.u16();
    for (uint16_t i = 0; i < n && r.ok(); ++i) {
        ChannelName c;
        c.code = r.u16();
        c.name = r.cstr();
        if (r.ok()) out.push_back(std::move(c));
    }
    return r.ok();
}

bool readDayGroups(ByteReader& r, std::vector<ChannelDayGroups>& out) {
    uint16_t n = r.u16();
    for (uint16_t i = 0; i < n && r.ok(); ++i) {
        ChannelDayGroups c;
        c.code = r.u16();
        uint32_t g = r.u32();
        // Each group takes at least 6 bytes; a count beyond what is left cannot be real.
        if (!r.ok() || g > r.remaining() / 6) return false;
        for (uint32_t j = 0; j < g && r.ok(); ++j) {
            DayGroup group;
            group.value = r.u32();
            uint16_t k = r.u16();
            if (!r.has(static_cast<size_t>(k) * 4)) return false;
            group.days.reserve(k);
            for (uint16_t d = 0; d < k; ++d) group.days.push_back(r.u32());
            c.groups.push_back(std::move(group));
        }
        if (r.ok()) out.push_back(std::move(c));
    }
    return r.ok();
}

}  // namespace

Bytes encodeServerInfo(const ServerInfoMessage& info) {
    ByteWriter w;
    w.u8(cmd::kServerInfo);
    for (auto* list : {&info.cameras, &info.audio}) {
        w.u16(static_cast<uint16_t>(list->size()));
        for (auto& c : *list) {
            w.u16(c.code).cstr(c.name);
            writeDays(w, c.days);
        }
    }
    return w.take();
}

std::optional<ServerInfoMessage> parseServerInfo(ByteSpan message) {
    ByteReader r = after(message, cmd::kServerInfo);
    ServerInfoMessage info;
    if (!readChannelDays(r, info.cameras) || !readChannelDays(r, info.audio)) return std::nullopt;
    return info;
}

Bytes encodeChannelNames(const ChannelNamesMessage& names) {
    ByteWriter w;
    w.u8(cmd::kChannelNames);
    for (auto* list : {&names.cameras, &names.audio}) {
        w.u16(static_cast<uint16_t>(list->size()));
        for (auto& c : *list) w.u16(c.code).cstr(c.name);
    }
    return w.take();
}

std::optional<ChannelNamesMessage> parseChannelNames(ByteSpan message) {
    ByteReader r = after(message, cmd::kChannelNames);
    ChannelNamesMessage names;
    if (!readChannelNames(r, names.cameras) || !readChannelNames(r, names.audio))
        return std::nullopt;
    return names;
}

Bytes encodeRecordedDays(const RecordedDaysMessage& days) {
    ByteWriter w;
    w.u8(cmd::kRecordedDays);
    for (auto* list : {&days.cameras, &days.audio}) {
        w.u16(static_cast<uint16_t>(list->size()));
        for (auto& c : *list) {
            w.u16(c.code).u32(static_cast<uint32_t>(c.groups.size()));
            for (auto& g : c.groups) {
                w.u32(g.value);
                writeDays(w, g.days);
            }
        }
    }
    return w.take();
}

std::optional<RecordedDaysMessage> parseRecordedDays(ByteSpan message) {
    ByteReader r = after(message, cmd::kRecordedDays);
    RecordedDaysMessage days;
    if (!readDayGroups(r, days.cameras) || !readDayGroups(r, days.audio)) return std::nullopt;
    return days;
}

std::string dayText(uint32_t day) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.8d", static_cast<int>(day));
    return buf;
}

bool isDayNumber(uint32_t day) {
    const uint32_t month = day / 100 % 100, dayOfMonth = day % 100;
    return day <= 99999999 && month >= 1 && month <= 12 && dayOfMonth >= 1 && dayOfMonth <= 31;
}

std::string timeText(uint32_t time) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.6d", static_cast<int>(time));
    return buf;
}

// ---- date query --------------------------------------------------------------------------

std::optional<Bytes> encodeDateQuery(const DateQuery& q) {
    if (q.date.size() >= kDateFieldSize) return std::nullopt;
    ByteWriter w;
    w.u8(cmd::kDateQuery).u8(q.kind).u16(q.code).fixedText(q.date, kDateFieldSize).u32(q.dateId);
    return w.take();
}

std::optional<DateQuery> parseDateQuery(ByteSpan message) {
    if (message.size() != kDateQuerySize) return std::nullopt;
    ByteReader r = after(message, cmd::kDateQuery);
    DateQuery q;
    q.kind = r.u8();
    q.code = r.u16();
    q.date = r.fixedText(kDateFieldSize);
    q.dateId = r.u32();
    if (!r.ok()) return std::nullopt;
    return q;
}

Bytes encodeDateReply(const DateReply& d, uint16_t version) {
    ByteWriter w;
    w.u8(cmd::kDateReply).u8(d.kind).u16(d.code).cstr(d.date);
    if (version > 34) w.zeros(3).u32(d.dateId);
    w.u16(static_cast<uint16_t>(d.items.size()));
    for (auto& it : d.items) w.u32(it.time).u32(it.size);
    return w.take();
}

std::optional<DateReply> parseDateReply(ByteSpan message, uint16_t version) {
    ByteReader r = after(message, cmd::kDateReply);
    DateReply d;
    d.kind = r.u8();
    d.code = r.u16();
    d.date = r.cstr();
    if (version > 34) {
        r.skip(3);
        d.dateId = r.u32();
    }
    uint16_t c = r.u16();
    if (!r.has(static_cast<size_t>(c) * 8)) return std::nullopt;
    d.items.reserve(c);
    for (uint16_t i = 0; i < c; ++i) {
        DateItem it;
        it.time = r.u32();
        it.size = r.u32();
        d.items.push_back(it);
    }
    if (!r.ok()) return std::nullopt;
    return d;
}

// ---- stream requests ---------------------------------------------------------------------

std::string recordingName(std::string_view eventKey, unsigned channelCode) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.3d", static_cast<int>(channelCode));
    return std::string(eventKey) + buf;
}

std::optional<Bytes> encodeStreamOpen(const StreamOpen& s) {
    if (s.name.size() >= kRecordingNameMax) return std::nullopt;
    ByteWriter w;
    if (s.mode == stream::kModeFile) {
        w.u8(cmd::kStreamRequest).u8(stream::kOpen).u8(s.mode).u8(s.append).u32(s.cookie);
        w.u8(s.audio).cstr(s.name).u32(s.resumeOffset);
        return w.take();
    }
    w.u8(cmd::kStreamRequest).u8(s.op).u8(s.mode).u8(s.append).u32(s.cookie).u8(0).cstr(s.name);
    if (s.op == stream::kOpenWithId) w.u32(s.dateId);
    if (s.mode == stream::kModeDownloadPlay) w.u32(s.firstFrame).u32(s.lastFrame);
    return w.take();
}

Bytes encodeStreamPosition(uint32_t cookie, uint32_t frame) {
    ByteWriter w;
    w.u8(cmd::kStreamRequest).u8(stream::kPosition).u32(cookie).u32(frame);
    return w.take();
}

Bytes encodeStreamClose(uint32_t cookie) {
    ByteWriter w;
    w.u8(cmd::kStreamRequest).u8(stream::kClose).u32(cookie);
    return w.take();
}

std::optional<StreamRequest> parseStreamRequest(ByteSpan message) {
    ByteReader r = after(message, cmd::kStreamRequest);
    StreamRequest q;
    q.op = r.u8();
    if (!r.ok()) return std::nullopt;
    switch (q.op) {
        case stream::kPosition:
            q.cookie = r.u32();
            q.frame = r.u32();
            break;
        case stream::kClose:
            q.cookie = r.u32();
            break;
        case stream::kOpen:
        case stream::kOpenWithId: {
            StreamOpen& o = q.open;
            o.op = q.op;
            o.mode = r.u8();
            o.append = r.u8();
            o.cookie = q.cookie = r.u32();
            o.audio = r.u8();
            o.name = r.cstr();
            if (o.mode == stream::kModeFile) {
                o.resumeOffset = r.u32();
            } else {
                if (o.op == stream::kOpenWithId) o.dateId = r.u32();
                if (o.mode == stream::kModeDownloadPlay) {
                    o.firstFrame = r.u32();
                    o.lastFrame = r.u32();
                }
            }
            break;
        }
        default:
            return std::nullopt;
    }
    if (!r.ok()) return std::nullopt;
    return q;
}

// ---- stream data -------------------------------------------------------------------------

Bytes encodeStreamReply(uint8_t kind, uint32_t cookie, ByteSpan body) {
    ByteWriter w;
    w.u8(cmd::kStreamData).u8(kind).u32(cookie).bytes(body);
    return w.take();
}

std::optional<StreamReply> parseStreamReply(ByteSpan message) {
    ByteReader r = after(message, cmd::kStreamData);
    StreamReply s;
    s.kind = r.u8();
    s.cookie = r.u32();
    if (!r.ok()) return std::nullopt;
    s.body = message.subspan(r.pos());
    return s;
}

std::optional<StreamHeaderBody> parseStreamHeaderBody(ByteSpan body) {
    ByteReader r(body);
    StreamHeaderBody h;
    h.a = r.u32();
    h.frameCount = r.u32();
    if (!r.ok()) return std::nullopt;
    h.header = body.subspan(r.pos());
    return h;
}

Bytes encodeStreamHeaderBody(uint32_t a, uint32_t frameCount, ByteSpan header) {
    ByteWriter w;
    w.u32(a).u32(frameCount).bytes(header);
    return w.take();
}

std::optional<StreamDataBody> parseStreamDataBody(ByteSpan body) {
    ByteReader r(body);
    StreamDataBody d;
    d.block = r.u32();
    if (!r.ok()) return std::nullopt;
    d.bytes = body.subspan(r.pos());
    return d;
}

Bytes encodeStreamDataBody(uint32_t block, ByteSpan bytes) {
    ByteWriter w;
    w.u32(block).bytes(bytes);
    return w.take();
}

std::optional<StreamStatusBody> parseStreamStatusBody(ByteSpan body) {
    ByteReader r(body);
    StreamStatusBody s;
    s.status = r.u8();
    if (!r.ok()) return std::nullopt;
    if (body.size() >= 2) {
        s.check = r.u8();
        if (*s.check != 0 && body.size() > 2) {
            s.value1 = r.u32();
            s.value2 = r.u32();
            if (!r.ok()) return std::nullopt;
        }
    }
    return s;
}

Bytes encodeStreamStatusBody(uint8_t status, std::optional<uint8_t> check, uint32_t value1,
                             uint32_t value2) {
    ByteWriter w;
    w.u8(status);
    if (check) {
        w.u8(*check);
        if (*check != 0) w.u32(value1).u32(value2);
    }
    return w.take();
}

// ---- frame count -------------------------------------------------------------------------

std::optional<Bytes> encodeFrameCountQuery(std::string_view name, uint16_t version,
                                           uint32_t dateId) {
    if (name.size() > kRecordingNameMax) return std::nullopt;
    ByteWriter w;
    w.u8(cmd::kFrameCountQuery).fixedText(name, kRecordingNameMax);
    if (version >= 35) w.u32(dateId);
    return w.take();
}

std::optional<FrameCountQuery> parseFrameCountQuery(ByteSpan message) {
    if (message.size() != 19 && message.size() != 23) return std::nullopt;
    ByteReader r = after(message, cmd::kFrameCountQuery);
    FrameCountQuery q;
    q.name = r.fixedText(kRecordingNameMax);
    if (message.size() == 23) q.dateId = r.u32();
    if (!r.ok()) return std::nullopt;
    return q;
}

Bytes encodeFrameCountReply(std::string_view name, uint32_t frameCount) {
    ByteWriter w;
    w.u8(cmd::kFrameCountReply).fixedText(name, kRecordingNameMax).u32(frameCount);
    return w.take();
}

std::optional<FrameCountReply> parseFrameCountReply(ByteSpan message) {
    ByteReader r = after(message, cmd::kFrameCountReply);
    FrameCountReply f;
    auto nameField = r.view(kRecordingNameMax);
    f.frameCount = r.u32();
    if (!r.ok()) return std::nullopt;
    // The key is a NUL-terminated text from offset 1; it must end inside its field.
    size_t len = 0;
    while (len < nameField.size() && nameField[len] != 0) ++len;
    if (len == nameField.size()) return std::nullopt;
    f.name.assign(reinterpret_cast<const char*>(nameField.data()), len);
    return f;
}

}  // namespace fsv::net
