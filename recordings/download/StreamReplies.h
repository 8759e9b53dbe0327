#pragma once
// The bodies of the recorder's stream replies ('P' header, 'Q' block, 'R' status) and the
// frame records inside 'Q' blocks. Every parser checks lengths before it reads.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/Shared.h"

namespace fsv::download {

inline constexpr uint8_t kReplyHeader = 'P';
inline constexpr uint8_t kReplyBlock = 'Q';
inline constexpr uint8_t kReplyStatus = 'R';
inline constexpr size_t kStreamInfoSize = 140;

// Modes 10 and 12: a body of 8 bytes or more.
struct HeaderReply {
    uint32_t value = 0;  // stored, not used by the viewer
    uint32_t frameCount = 0;
    std::span<const uint8_t> header;  // two 140-byte stream records
};
std::optional<HeaderReply> parseHeaderReply(std::span<const uint8_t> body);
// Mode 11: only the first u32 is used, the size of the recording in bytes; a body of 4 bytes or
// more.
std::optional<uint32_t> parseFileHeaderReply(std::span<const uint8_t> body);

struct BlockReply {
    uint32_t number = 0;
    std::span<const uint8_t> data;
};
std::optional<BlockReply> parseBlockReply(std::span<const uint8_t> body);

struct StatusReply {
    uint8_t status = 0;  // 0 finished, 1 the recorder could not open the recording
    uint8_t check = 0;   // mode 10 only
    uint32_t first = 0x00010001, second = 0;
};
// Modes 10 and 12 take a body of 2 bytes or more; mode 11 exactly 2 bytes.
std::optional<StatusReply> parseStatusReply(std::span<const uint8_t> body, uint8_t mode);

// A frame of a play-only stream: key-frame flag, 16-byte time, compressed data.
struct TimedFrame {
    bool keyFrame = false;
    SystemTime time;
    std::span<const uint8_t> data;
};
std::optional<TimedFrame> parseTimedFrame(std::span<const uint8_t> record);

// A frame of a download-and-play stream: key-frame flag, time-stamp text with its NUL, and the
// compressed data (empty when the text fills the record).
struct TextFrame {
    bool keyFrame = false;
    std::string text;
    std::span<const uint8_t> data;
};
std::optional<TextFrame> parseTextFrame(std::span<const uint8_t> record);

// The time of day of a time-stamp text, "Event#1-%d:%d:%d(%d/%d/%d)" (first frame) or
// "#1-%d:%d:%ld.%03ld" (later frames); hour, minute, second and milliseconds are filled.
std::optional<SystemTime> parseFrameTimeText(const std::string& text);

}  // namespace fsv::download
