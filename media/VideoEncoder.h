#pragma once
// VideoEncoder: compresses pictures with a libavcodec encoder into the samples of an AVI video
// stream, one sample per picture (no frame reordering, so sample i is picture i). Used for the
// stamped copies of recordings and for sample recordings.

#include <cstdint>
#include <memory>
#include <vector>

struct AVFrame;

namespace fsv::media {

enum class VideoCodec {
    Mjpeg,      // Motion JPEG, every frame a key frame
    MsMpeg4v2,  // Microsoft MPEG-4 version 2 ("MP42")
    Mpeg4,      // MPEG-4 part 2 ("FMP4")
};

// The FOURCC that names the codec's bits in a stream header ("MJPG", "MP42", "FMP4").
uint32_t codecFourcc(VideoCodec codec);

class VideoEncoder {
  public:
    VideoEncoder();
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // `gop`: a key frame at least every `gop` pictures; `qscale`: 2 (best) ... 31.
    bool open(VideoCodec codec, int width, int height, int framesPerSecond, int gop,
              int qscale = 5);

    // The picture to draw into before encode(): 8-bit planar Y, U, V (4:2:0).
    struct Planes {
        uint8_t* data[3];
        int stride[3];
    };
    Planes picture();
    // Encodes pictures that live elsewhere (the encoder's size, 4:2:0), without copying them
    // first; they are not used after the call returns.
    bool encodePlanes(const Planes& planes, std::vector<uint8_t>& out, bool& key);
    // Encodes the picture drawn into picture().
    bool encode(std::vector<uint8_t>& out, bool& key);
    // Converts a bottom-up 24-bit picture of the encoder's size and encodes it.
    bool encodeBgr24(const uint8_t* bits, std::vector<uint8_t>& out, bool& key);
    // The same from rows of 24-bit BGR pixels `stride` bytes apart, top row first.
    bool encodeBgr24Rows(const uint8_t* topRow, int stride, std::vector<uint8_t>& out, bool& key);

    int width() const;
    int height() const;

  private:
    struct Impl;
    bool send(::AVFrame* frame, std::vector<uint8_t>& out, bool& key);
    std::unique_ptr<Impl> d_;
};

}  // namespace fsv::media
