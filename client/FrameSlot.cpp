#include "client/FrameSlot.h"

#include <utility>

#include "media/Placement.h"

namespace fsv::client {

std::pair<int, int> fittedPictureSize(int width, int height, int viewWidth, int viewHeight) {
    if (viewWidth <= 0 || viewHeight <= 0) return {width, height};
    const auto place =
        media::placePicture(viewWidth, viewHeight, media::scaleFactors(width, height));
    if (place.width <= 0 || place.height <= 0) return {width, height};
    // An odd width sends libswscale from its fast 4:2:0 paths to one about four times slower.
    return {place.width > 1 ? place.width & ~1 : place.width, place.height};
}

Picture& FrameSlot::back(int width, int height) {
    // front_ changes only under the producer lock, which the caller holds.
    Picture& p = pictures_[1 - front_];
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (p.width != width || p.height != height) {
        p.width = width;
        p.height = height;
        p.stride = width * 4;
        p.bits.resize(static_cast<size_t>(p.stride) * height);
    }
    return p;
}

std::optional<bool> FrameSlot::fillAndPublish(int sourceWidth, int sourceHeight,
                                              const auto& convert) {
    if (sourceWidth <= 0 || sourceHeight <= 0) return std::nullopt;
    const auto [w, h] = fittedPictureSize(sourceWidth, sourceHeight, viewWidth_, viewHeight_);
    Picture& p = back(w, h);
    if (!convert(
            media::PixelTarget{p.bits.data(), w, h, p.stride, media::PixelLayout::Bgrx32, false}))
        return std::nullopt;
    p.sourceWidth = sourceWidth;
    p.sourceHeight = sourceHeight;
    return publish();
}

std::optional<bool> FrameSlot::put(std::shared_ptr<const media::DecodedPicture> picture) {
    if (!picture) return std::nullopt;
    std::lock_guard lock(produce_);
    auto clean = fillAndPublish(
        picture->width(), picture->height(),
        [&](const media::PixelTarget& target) { return scaler_.convert(*picture, target); });
    if (clean) last_ = std::move(picture);
    return clean;
}

std::optional<bool> FrameSlot::putBottomUp24(int width, int height, std::span<const uint8_t> bits) {
    std::lock_guard lock(produce_);
    auto clean = fillAndPublish(width, height, [&](const media::PixelTarget& target) {
        return scaler_.convertBottomUp24(width, height, bits, target);
    });
    if (clean) last_.reset();
    return clean;
}

bool FrameSlot::setViewSize(int width, int height) {
    std::lock_guard lock(produce_);
    if (width == viewWidth_ && height == viewHeight_) return false;
    viewWidth_ = width;
    viewHeight_ = height;
    if (!last_) return false;
    return fillAndPublish(
               last_->width(), last_->height(),
               [&](const media::PixelTarget& target) { return scaler_.convert(*last_, target); })
        .has_value();
}

bool FrameSlot::publish() {
    std::lock_guard lock(mutex_);
    front_ = 1 - front_;
    ++published_;
    const bool wasClean = !dirty_;
    dirty_ = true;
    return wasClean;
}

bool FrameSlot::dirty() const {
    std::lock_guard lock(mutex_);
    return dirty_;
}

uint64_t FrameSlot::published() const {
    std::lock_guard lock(mutex_);
    return published_;
}

FrameSlots::FrameSlots(int panels) {
    for (int i = 0; i < panels; ++i) slots_.push_back(std::make_unique<FrameSlot>());
}

FrameSlot* FrameSlots::slot(PanelId panel) {
    if (panel < 0 || panel >= size()) return nullptr;
    return slots_[panel].get();
}

void SlotDisplay::show(int panel, std::shared_ptr<const media::DecodedPicture> picture) {
    FrameSlot* s = slots_.slot(panel);
    if (!s) return;
    if (s->put(std::move(picture)).value_or(false)) queue_.push(FrameReady{panel});
}

void SlotDisplay::draw(int panel, int width, int height, std::span<const uint8_t> bits) {
    FrameSlot* s = slots_.slot(panel);
    if (!s) return;
    if (s->putBottomUp24(width, height, bits).value_or(false)) queue_.push(FrameReady{panel});
}

void SlotDisplay::repaint(int panel) {
    if (panel >= 0) queue_.push(FrameReady{panel});
}

void SlotDisplay::moved(int panel, uint32_t position, uint32_t frameCount, int speed) {
    if (panel >= 0) queue_.push(PlaybackPosition{panel, position, frameCount, speed});
}

}  // namespace fsv::client
