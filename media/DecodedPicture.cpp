#include "media/DecodedPicture.h"

#include "media/AviTypes.h"
#include "media/FfmpegLog.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace fsv::media {

DecodedPicture::~DecodedPicture() { av_frame_free(&frame_); }

std::shared_ptr<const DecodedPicture> DecodedPicture::fromBottomUp24(
    int width, int height, std::span<const uint8_t> bits) {
    if (width <= 0 || height <= 0) return nullptr;
    const size_t size = rgb24Stride(width) * static_cast<size_t>(height);
    if (bits.size() < size) return nullptr;
    std::shared_ptr<DecodedPicture> p(new DecodedPicture(width, height));
    p->bits_.assign(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(size));
    return p;
}

std::shared_ptr<const DecodedPicture> DecodedPicture::take(AVFrame* frame, int width, int height) {
    std::shared_ptr<DecodedPicture> p(new DecodedPicture(width, height));
    p->frame_ = av_frame_alloc();
    if (!p->frame_) return nullptr;
    av_frame_move_ref(p->frame_, frame);
    return p;
}

std::vector<uint8_t> DecodedPicture::bottomUp24() const {
    if (!frame_) return bits_;
    const int stride = static_cast<int>(rgb24Stride(width_));
    std::vector<uint8_t> out(static_cast<size_t>(stride) * height_);
    PictureScaler scaler;
    if (!scaler.convert(*this, {out.data(), width_, height_, stride, PixelLayout::Bgr24, true}))
        return {};
    return out;
}

PictureScaler::~PictureScaler() { sws_freeContext(sws_); }

bool PictureScaler::convert(const DecodedPicture& picture, const PixelTarget& target) {
    if (!picture.frame_)
        return convertBottomUp24(picture.width_, picture.height_, picture.bits_, target);
    const AVFrame* f = picture.frame_;
    const uint8_t* source[4] = {f->data[0], f->data[1], f->data[2], f->data[3]};
    const int stride[4] = {f->linesize[0], f->linesize[1], f->linesize[2], f->linesize[3]};
    return run(source, stride, f->format, f->width, f->height, target);
}

bool PictureScaler::convertBottomUp24(int width, int height, std::span<const uint8_t> bits,
                                      const PixelTarget& target) {
    if (width <= 0 || height <= 0) return false;
    const size_t inStride = rgb24Stride(width);
    if (bits.size() / inStride < static_cast<size_t>(height)) return false;
    // The bottom line comes first in memory: start at the top line and walk backwards.
    const uint8_t* source[4] = {bits.data() + inStride * static_cast<size_t>(height - 1), nullptr,
                                nullptr, nullptr};
    const int stride[4] = {-static_cast<int>(inStride), 0, 0, 0};
    return run(source, stride, AV_PIX_FMT_BGR24, width, height, target);
}

bool PictureScaler::run(const uint8_t* const source[4], const int sourceStride[4], int sourceFormat,
                        int width, int height, const PixelTarget& target) {
    const int bytes = target.layout == PixelLayout::Bgrx32 ? 4 : 3;
    if (!target.bits || target.width <= 0 || target.height <= 0 || width <= 0 || height <= 0 ||
        target.stride < target.width * bytes)
        return false;
    quietFfmpegLog();
    const auto format = static_cast<AVPixelFormat>(sourceFormat);
    if (!sws_isSupportedInput(format)) return false;
    sws_ = sws_getCachedContext(
        sws_, width, height, format, target.width, target.height,
        target.layout == PixelLayout::Bgrx32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24, SWS_BILINEAR,
        nullptr, nullptr, nullptr);
    if (!sws_) return false;
    uint8_t* dst[4] = {target.bits, nullptr, nullptr, nullptr};
    int dstStride[4] = {target.stride, 0, 0, 0};
    if (target.bottomUp) {
        dst[0] = target.bits + static_cast<size_t>(target.stride) * (target.height - 1);
        dstStride[0] = -target.stride;
    }
    return sws_scale(sws_, source, sourceStride, 0, height, dst, dstStride) > 0;
}

}  // namespace fsv::media
