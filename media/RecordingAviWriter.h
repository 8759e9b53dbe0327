#pragma once
// Writing received recordings as AVI files.
//
// RecordingHeader is the stream header of a download-and-play stream: two 140-byte stream
// records, the video stream's then the text stream's, exactly as the recorder sends them.
// FrameRecord is one arriving frame: key-frame flag (4 bytes), time-stamp text with its zero,
// then the compressed video data.
//
// RecordingAviWriter writes the file: stream 0 is the video stream (format: the decoded picture
// header with biCompression = the video handler), stream 1 the "txts" stream (format: one 32-bit
// value 4); per frame a video sample (AVIIF_KEYFRAME in the index when the flag is set) and a
// text sample with the terminating zero. A download stream feeds it like this:
//
//   RecordingAviWriter w;
//   if (!w.open(path, *RecordingHeader::parse(headerBytes), {.partial = ...})) ...
//   for each frame: if (!w.addFrame(data, key, timeText)) ... // "Write file fail!"
//   w.close();
//
// StreamFile (StreamFile.h) adds the decoder, the continuation of a partly downloaded file and
// the failure codes around it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "media/AviTypes.h"
#include "media/AviWriter.h"

namespace fsv::media {

struct RecordingHeader {
    static constexpr size_t kSize = 2 * AviStreamInfo::kSize;
    AviStreamInfo video;
    AviStreamInfo text;

    static std::optional<RecordingHeader> parse(std::span<const uint8_t> bytes);
    std::array<uint8_t, kSize> serialize() const;

    // A stream of single fields: 640 or more wide, more than twice as wide as high, and named
    // with the suffix "_FSV".
    bool isFieldOnly() const;
    // Doubles the video height and removes every "_FSV" from the name.
    void applyFieldOnlyChange();
    // The decoded picture of the (possibly changed) header: 24-bit, the undoubled height.
    BitmapInfoHeader decodedFormat() const;
    bool fieldOnlyChanged = false;
};

struct FrameRecord {
    bool key = false;
    std::string_view text;          // without its zero
    std::span<const uint8_t> data;  // empty when the record ends with the text
    // nullopt for a record shorter than its flag or whose text has no terminating zero.
    static std::optional<FrameRecord> parse(std::span<const uint8_t> record);
};

class RecordingAviWriter {
  public:
    struct Options {
        // The stream asked for a part of a recording (first frame not 0, or last frame below
        // 8999) and the file is new: the text stream's buffer size is raised to at least 29.
        bool partial = false;
        // Apply the field-only change to the header before the file is created.
        bool fieldOnlyChange = true;
    };

    bool open(const std::filesystem::path& path, const RecordingHeader& header, Options options);
    // The header as written (after the field-only change).
    const RecordingHeader& header() const { return header_; }
    // One frame: the video sample (empty data writes an empty sample) and its time text.
    bool addFrame(std::span<const uint8_t> data, bool key, std::string_view timeText);
    int frames() const { return static_cast<int>(writer_.length(0)); }
    bool close();
    bool isOpen() const { return writer_.isOpen(); }

  private:
    AviWriter writer_;
    RecordingHeader header_;
};

}  // namespace fsv::media
