#pragma once
// DecodedPicture: one decoded video picture held by reference, as the decoder made it (its own
// pixel format and size), so that whoever shows it converts it once, straight into the format
// and size it needs. The picture never changes while a handle to it exists; handles are cheap
// to pass between threads (a std::shared_ptr to a const picture).
//
// PictureScaler: the one libswscale pass from a picture (or a bottom-up 24-bit bitmap) into a
// target: colour conversion and scaling together. It keeps its scaling context between calls,
// so the same conversion again costs no set-up; one scaler serves one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct AVFrame;
struct SwsContext;

namespace fsv::media {

enum class PixelLayout {
    Bgrx32,  // B, G, R, 0xFF per pixel (a QImage of Format_RGB32 on a little-endian machine)
    Bgr24,   // B, G, R per pixel (the decoded picture of the system's formats)
};

// Where a conversion writes: width × height pixels in `layout`, lines `stride` bytes apart
// from `bits`; with `bottomUp` the first line in memory is the picture's bottom line.
struct PixelTarget {
    uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    PixelLayout layout = PixelLayout::Bgrx32;
    bool bottomUp = false;
};

class DecodedPicture {
  public:
    ~DecodedPicture();
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;

    // A copy of a bottom-up 24-bit bitmap (lines padded to 4 bytes), for decoders that only
    // give that. Null when `bits` is too short for the size or the size is not positive.
    static std::shared_ptr<const DecodedPicture> fromBottomUp24(int width, int height,
                                                                std::span<const uint8_t> bits);

    // The size the picture is shown at (a field-only picture: twice the height it was decoded
    // at).
    int width() const { return width_; }
    int height() const { return height_; }

    // The picture as the system's decoded picture: bottom-up 24-bit at width() × height(),
    // lines of rgb24Stride(). Empty when it cannot be converted.
    std::vector<uint8_t> bottomUp24() const;

  private:
    friend class VideoDecoder;
    friend class PictureScaler;
    DecodedPicture(int width, int height) : width_(width), height_(height) {}
    // Takes over the reference of `frame` (left empty).
    static std::shared_ptr<const DecodedPicture> take(AVFrame* frame, int width, int height);

    int width_;
    int height_;
    AVFrame* frame_ = nullptr;   // the decoder's picture, by reference; or
    std::vector<uint8_t> bits_;  // a bottom-up 24-bit copy
};

class PictureScaler {
  public:
    PictureScaler() = default;
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // Converts `picture` into `target`, scaled to the target's size. False, the target left
    // alone, when the target has no size or too short a stride, or libswscale refuses.
    bool convert(const DecodedPicture& picture, const PixelTarget& target);
    // The same from a bottom-up 24-bit bitmap (lines padded to 4 bytes); false also when `bits`
    // is too short for width × height.
    bool convertBottomUp24(int width, int height, std::span<const uint8_t> bits,
                           const PixelTarget& target);

  private:
    bool run(const uint8_t* const source[4], const int sourceStride[4], int sourceFormat, int width,
             int height, const PixelTarget& target);
    SwsContext* sws_ = nullptr;
};

}  // namespace fsv::media
