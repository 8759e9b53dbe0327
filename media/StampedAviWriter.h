#pragma once
// StampedAviWriter: writes the stamped copy of a recording at a constant frame rate. Stream 0
// is the "txts" stream (handler "TSTP", buffer 256, format: one 32-bit value 4), stream 1 the
// re-compressed video; the header carries an extra "DT  " chunk with the local time of the
// export as a 16-byte time record. Sample positions that are skipped stay empty in both
// streams, so time gaps between recorded frames keep their length.
//
// Compression: libavcodec has no encoder for the recorders' own "iv50" and "MPG4" bits, so an
// "IV50"/"iv50" input is re-encoded as MPEG-4 part 2 ("FMP4", a key frame every 200 frames) and
// every other input as Microsoft MPEG-4 v2 ("MP42"); the video stream's handler always names
// the codec its bits are in.
//
//   StampedAviWriter w;
//   if (!w.open(out, 30, firstFrameHeader, inputCompression)) ...
//   w.writeFrame(bits, "Event#1-9:5:7(2007/5/24)"); w.skip(); w.writeFrame(bits, "#1-...");
//   w.close();

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "media/AviTypes.h"
#include "media/AviWriter.h"
#include "media/VideoEncoder.h"

namespace fsv::media {

class StampedAviWriter {
  public:
    // The codec and handler an input of `inputCompression` is re-encoded with.
    static VideoCodec codecFor(uint32_t inputCompression);

    // `frame`: the first decoded frame's header (24-bit bottom-up pictures of that size follow).
    // False, with everything released, when the file, a stream or the encoder cannot be set up.
    bool open(const std::filesystem::path& path, int framesPerSecond, const BitmapInfoHeader& frame,
              uint32_t inputCompression);
    // Both samples at the current position, which then advances by one. On failure everything
    // is released and false returned.
    bool writeFrame(const uint8_t* bits, std::string_view timeText);
    // The same with the picture as 24-bit rows `stride` bytes apart, top row first.
    bool writeFrameRows(const uint8_t* topRow, int stride, std::string_view timeText);
    // The same with the picture drawn into picture() (4:2:0 planes of the frame's size).
    VideoEncoder::Planes picture() { return encoder_.picture(); }
    bool writePicture(std::string_view timeText);
    // The same with a picture of the frame's size held by the caller (4:2:0 planes).
    bool writePlanes(const VideoEncoder::Planes& planes, std::string_view timeText);
    // Leaves the current position empty.
    void skip();
    // Finishes the file; the position returns to 0.
    bool close();
    int64_t position() const { return position_; }

  private:
    bool writeSamples(bool key, std::string_view timeText);
    bool fail();

    AviWriter writer_;
    VideoEncoder encoder_;
    BitmapInfoHeader frame_{};
    int64_t position_ = 0;
    std::vector<uint8_t> packet_;
    std::vector<uint8_t> text_;
};

}  // namespace fsv::media
