#include "client/FrameSlot.h"

#include <cstring>

namespace fsv::client {

Picture& FrameSlot::back(int width, int height) {
    // front_ changes only on this thread, so reading it needs no lock.
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

bool convertBottomUp24(int width, int height, std::span<const uint8_t> bits, FrameSlot& out) {
    if (width <= 0 || height <= 0) return false;
    const size_t inStride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    if (bits.size() / inStride < static_cast<size_t>(height)) return false;
    Picture& p = out.back(width, height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = bits.data() + (static_cast<size_t>(height - 1 - y)) * inStride;
        uint8_t* o = p.line(y);
        for (int x = 0; x < width; ++x, in += 3, o += 4) {
            o[0] = in[0];
            o[1] = in[1];
            o[2] = in[2];
            o[3] = 0xFF;
        }
    }
    return true;
}

void SlotDisplay::draw(int panel, int width, int height, std::span<const uint8_t> bits) {
    FrameSlot* s = slots_.slot(panel);
    if (!s || !convertBottomUp24(width, height, bits, *s)) return;
    if (s->publish()) queue_.push(FrameReady{panel});
}

void SlotDisplay::moved(int panel, uint32_t position, uint32_t frameCount, int speed) {
    if (panel >= 0) queue_.push(PlaybackPosition{panel, position, frameCount, speed});
}

}  // namespace fsv::client
