#pragma once
// The bytes exchanged with a recorder: transport frame headers and every application message,
// one encoder and one parser per message. Parsers take the whole message (command byte at
// offset 0), check every length before reading and answer nullopt for a message that runs past
// its end; such a message is dropped whole. Integers are little-endian and unaligned; texts are
// single-byte and NUL-terminated.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fsv::net {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

// ---- transport frames --------------------------------------------------------------------

inline constexpr size_t kFrameHeaderSize = 5;

enum FrameType : uint8_t {
    kFrameData = 0,
    kFrameCloseRequest = 1,
    kFrameCloseAck = 2,
    kFrameRefused = 3,
    kFrameAccepted = 6,
    kFrameKeepAlive = 7,  // a single byte, no length field
};

struct FrameHeader {
    uint8_t type = 0;
    uint32_t length = 0;  // payload bytes for a data frame; no meaning for control frames
};

void encodeFrameHeader(uint8_t out[kFrameHeaderSize], uint8_t type, uint32_t length);
Bytes encodeFrameHeader(uint8_t type, uint32_t length);
std::optional<FrameHeader> parseFrameHeader(ByteSpan bytes);  // needs 5 bytes

// ---- command codes -----------------------------------------------------------------------

namespace cmd {
inline constexpr uint8_t kLogin = 1;
inline constexpr uint8_t kLoginReply = 2;
inline constexpr uint8_t kGetServerInfo = 3;
inline constexpr uint8_t kServerInfo = 4;
inline constexpr uint8_t kDateQuery = 5;
inline constexpr uint8_t kDateReply = 6;
inline constexpr uint8_t kStreamRequest = 7;
inline constexpr uint8_t kStreamData = 8;
inline constexpr uint8_t kFrameCountQuery = 10;
inline constexpr uint8_t kFrameCountReply = 11;
inline constexpr uint8_t kPublicKey = 13;  // request (client) and key (recorder)
inline constexpr uint8_t kChannelNames = 14;
inline constexpr uint8_t kRecordedDays = 15;
}  // namespace cmd

inline constexpr uint16_t kMinVersion = 32;
inline constexpr uint16_t kMaxVersion = 35;
inline bool versionInRange(unsigned v) { return v >= kMinVersion && v <= kMaxVersion; }

// A message that is the command byte alone (3, 14, 15).
Bytes encodeCommand(uint8_t code);
bool parseCommand(ByteSpan message, uint8_t code);

// ---- public key (13) ---------------------------------------------------------------------

// Client: exactly 0x0D 0x00 0x23 0x00.
Bytes encodeKeyRequest();
bool parseKeyRequest(ByteSpan message);

// Recorder: 13, u32 1, u32 n, n blob bytes.
Bytes encodePublicKey(ByteSpan blob);
// Any code-13 message counts as the recorder's answer; the key is taken only when the first
// field is 1 and the payload is exactly n + 8 bytes. nullopt for a message of another code.
struct PublicKeyReply {
    std::optional<Bytes> key;
};
std::optional<PublicKeyReply> parsePublicKey(ByteSpan message);

// ---- login (1) and its reply (2) ---------------------------------------------------------

inline constexpr size_t kLoginVersionOffset = 1;  // bytes 1-2 of every login message

Bytes encodeLoginPlain(uint16_t version, std::string_view id, std::string_view scrambled);
// The bytes that are encrypted: ID with NUL, scrambled password with NUL.
Bytes encodeLoginSecret(std::string_view id, std::string_view scrambled);
Bytes encodeLoginEncrypted(uint16_t version, ByteSpan cipher);
Bytes encodeLoginEncryptionFailed(uint16_t version);  // the 7-byte form

struct LoginPlain {
    uint16_t version = 0;
    std::string id, scrambled;
};
struct LoginEncrypted {
    uint16_t version = 0;
    Bytes cipher;  // empty for the 7-byte form
};
std::optional<LoginPlain> parseLoginPlain(ByteSpan message);
std::optional<LoginEncrypted> parseLoginEncrypted(ByteSpan message);
// The secret block once decrypted: two NUL-terminated texts.
std::optional<LoginPlain> parseLoginSecret(ByteSpan secret);

struct LoginReply {
    bool accepted = false;
    std::string name;                 // accepted only
    std::optional<uint16_t> version;  // when the reply carries it
};
Bytes encodeLoginAccepted(std::string_view name, std::optional<uint16_t> version);
Bytes encodeLoginRefused(std::optional<uint16_t> version);
std::optional<LoginReply> parseLoginReply(ByteSpan message);

// ---- server information (4), channel names (14), recorded days (15) ---------------------

struct ChannelDays {
    uint16_t code = 0;
    std::string name;
    std::vector<uint32_t> days;  // YYYYMMDD as a decimal number
};
struct ServerInfoMessage {
    std::vector<ChannelDays> cameras, audio;
};
Bytes encodeServerInfo(const ServerInfoMessage& info);
std::optional<ServerInfoMessage> parseServerInfo(ByteSpan message);

struct ChannelName {
    uint16_t code = 0;
    std::string name;
};
struct ChannelNamesMessage {
    std::vector<ChannelName> cameras, audio;
};
Bytes encodeChannelNames(const ChannelNamesMessage& names);
std::optional<ChannelNamesMessage> parseChannelNames(ByteSpan message);

struct DayGroup {
    uint32_t value = 0;  // not interpreted by the client
    std::vector<uint32_t> days;
};
struct ChannelDayGroups {
    uint16_t code = 0;
    std::vector<DayGroup> groups;
};
struct RecordedDaysMessage {
    std::vector<ChannelDayGroups> cameras, audio;
};
Bytes encodeRecordedDays(const RecordedDaysMessage& days);
std::optional<RecordedDaysMessage> parseRecordedDays(ByteSpan message);

// "%.8d" of a day number: 20261201 -> "20261201", 990101 -> "00990101".
std::string dayText(uint32_t day);
// True when the number reads as a date YYYYMMDD (at most eight digits, month 1-12, day 1-31).
// Other numbers (0xFFFFFFFF would read "-00000001") name no day.
bool isDayNumber(uint32_t day);

// ---- date query (5) and its reply (6) ----------------------------------------------------

enum ChannelKind : uint8_t { kCamera = 0, kAudio = 1 };

inline constexpr size_t kDateQuerySize = 20;
inline constexpr size_t kDateFieldSize = 12;

struct DateQuery {
    uint8_t kind = kCamera;
    uint16_t code = 0;
    std::string date;  // YYYYMMDD
    uint32_t dateId = 0;
};
// nullopt when the date text does not fit its 12-byte field with its NUL.
std::optional<Bytes> encodeDateQuery(const DateQuery& q);
std::optional<DateQuery> parseDateQuery(ByteSpan message);

struct DateItem {
    uint32_t time = 0;  // HHMMSS as a decimal number
    uint32_t size = 0;  // bytes of the recording
};
struct DateReply {
    uint8_t kind = kCamera;
    uint16_t code = 0;
    std::string date;
    uint32_t dateId = 0;  // only above version 34; 0 otherwise
    std::vector<DateItem> items;
};
// The layout depends on the agreed version: above 34 a 3-byte filler and the date id follow
// the date text.
Bytes encodeDateReply(const DateReply& r, uint16_t version);
std::optional<DateReply> parseDateReply(ByteSpan message, uint16_t version);

// "%.6d" of a time number: 93000 -> "093000".
std::string timeText(uint32_t time);

// ---- stream requests (7) -----------------------------------------------------------------

namespace stream {
inline constexpr uint8_t kOpen = 0x46;        // 'F'
inline constexpr uint8_t kOpenWithId = 0x49;  // 'I', versions above 34, modes 10 and 12
inline constexpr uint8_t kPosition = 0x48;    // 'H'
inline constexpr uint8_t kClose = 0x47;       // 'G'
inline constexpr uint8_t kHeader = 0x50;      // 'P'
inline constexpr uint8_t kData = 0x51;        // 'Q'
inline constexpr uint8_t kStatus = 0x52;      // 'R'
inline constexpr uint8_t kModeDownloadPlay = 10;
inline constexpr uint8_t kModeFile = 11;
inline constexpr uint8_t kModePlay = 12;
inline constexpr uint32_t kWholeRecordingLast = 0xFFFFFFFE;
}  // namespace stream

// The recording name sent to the recorder: event key (14 characters) and the channel code as
// three digits, "%s%.3d", at most 18 characters with the NUL in the request.
inline constexpr size_t kRecordingNameMax = 18;
std::string recordingName(std::string_view eventKey, unsigned channelCode);

struct StreamOpen {
    uint8_t op = stream::kOpen;  // 'F' or 'I'
    uint8_t mode = stream::kModeDownloadPlay;
    uint8_t append = 0;
    uint32_t cookie = 0;
    uint8_t audio = 0;                                 // mode 11: 1 for an audio channel
    std::string name;                                  // recordingName()
    uint32_t dateId = 0;                               // 'I' only
    uint32_t firstFrame = 0;                           // mode 10 only
    uint32_t lastFrame = stream::kWholeRecordingLast;  // mode 10 only
    uint32_t resumeOffset = 0;                         // mode 11 only
};
// Modes 10/12 with 'F' or 'I', mode 11 always with 'F'. nullopt when the name is too long.
std::optional<Bytes> encodeStreamOpen(const StreamOpen& s);
Bytes encodeStreamPosition(uint32_t cookie, uint32_t frame);
Bytes encodeStreamClose(uint32_t cookie);

struct StreamRequest {
    uint8_t op = 0;
    uint32_t cookie = 0;
    StreamOpen open;     // 'F' and 'I'
    uint32_t frame = 0;  // 'H'
};
std::optional<StreamRequest> parseStreamRequest(ByteSpan message);

// ---- stream data (8) ---------------------------------------------------------------------

struct StreamReply {
    uint8_t kind = 0;
    uint32_t cookie = 0;
    ByteSpan body;  // points into the parsed message
};
Bytes encodeStreamReply(uint8_t kind, uint32_t cookie, ByteSpan body);
std::optional<StreamReply> parseStreamReply(ByteSpan message);

struct StreamHeaderBody {  // 'P'
    uint32_t a = 0;
    uint32_t frameCount = 0;
    ByteSpan header;
};
std::optional<StreamHeaderBody> parseStreamHeaderBody(ByteSpan body);
Bytes encodeStreamHeaderBody(uint32_t a, uint32_t frameCount, ByteSpan header);

struct StreamDataBody {  // 'Q'
    uint32_t block = 0;
    ByteSpan bytes;
};
std::optional<StreamDataBody> parseStreamDataBody(ByteSpan body);
Bytes encodeStreamDataBody(uint32_t block, ByteSpan bytes);

struct StreamStatusBody {  // 'R'
    uint8_t status = 0;
    std::optional<uint8_t> check;              // mode 10
    uint32_t value1 = 0x00010001, value2 = 0;  // when check is nonzero; defaults for a 2-byte body
};
// Needs at least the status byte. A nonzero check byte is followed by the two values; a body
// of exactly 2 bytes reads the defaults instead, a body cut inside the values is dropped.
std::optional<StreamStatusBody> parseStreamStatusBody(ByteSpan body);
Bytes encodeStreamStatusBody(uint8_t status, std::optional<uint8_t> check, uint32_t value1 = 0,
                             uint32_t value2 = 0);

// ---- frame count (10, 11) ----------------------------------------------------------------

// 10, recording name with NUL (19 bytes), plus the date id from version 35; nullopt when the
// name is longer than 18 characters (the caller then uses its default count).
std::optional<Bytes> encodeFrameCountQuery(std::string_view name, uint16_t version,
                                           uint32_t dateId);
struct FrameCountQuery {
    std::string name;
    std::optional<uint32_t> dateId;
};
std::optional<FrameCountQuery> parseFrameCountQuery(ByteSpan message);

inline constexpr size_t kFrameCountOffset = 19;
struct FrameCountReply {
    std::string name;
    uint32_t frameCount = 0;
};
Bytes encodeFrameCountReply(std::string_view name, uint32_t frameCount);
std::optional<FrameCountReply> parseFrameCountReply(ByteSpan message);

}  // namespace fsv::net
