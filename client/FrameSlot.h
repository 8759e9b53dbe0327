#pragma once
// The pictures of the display panels. Each panel has a slot with two pictures: the stream or
// playback thread fills the back one, then swaps it to the front under a short lock and marks
// the slot dirty; the front end takes the front picture when it is woken. Pictures are 32-bit
// BGRX, top-down (the byte order a QImage of Format_RGB32 has on a little-endian machine), at
// the size the panel shows them (its placement rectangle), so the front end draws them without
// converting or scaling: a decoded picture gets there in one libswscale pass. A slot allocates
// only when the picture size changes, never per frame.
//
// Locks: the producer lock (a whole conversion, and the panel's size) is taken before the swap
// lock (the two pictures' roles and the dirty flag); the front end takes only the swap lock,
// except when the panel's size changes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "client/Notifications.h"
#include "media/DecodedPicture.h"
#include "recordings/playback/FrameSink.h"

namespace fsv::client {

struct Picture {
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per line
    // The size of the picture this one was made from (as decoded and shown), which its place in
    // a panel follows; width × height is that picture fitted to the panel.
    int sourceWidth = 0;
    int sourceHeight = 0;
    std::vector<uint8_t> bits;

    uint8_t* line(int y) { return bits.data() + static_cast<size_t>(y) * stride; }
    const uint8_t* line(int y) const { return bits.data() + static_cast<size_t>(y) * stride; }
};

// The size a width × height picture is made at for a viewWidth × viewHeight panel: its place
// there (media/Placement), made one narrower when that is odd; its own size while the panel's
// size is unknown (0 × 0).
std::pair<int, int> fittedPictureSize(int width, int height, int viewWidth, int viewHeight);

class FrameSlot {
  public:
    // Producer side (producers may take turns; each call is whole). Converts the picture into
    // the back picture, fitted to the panel, and makes it the newest. nullopt when it cannot be
    // converted (nothing changes); else whether the slot was clean, i.e. the front end has
    // taken every earlier picture and needs to hear of this one.
    std::optional<bool> put(std::shared_ptr<const media::DecodedPicture> picture);
    // The same from a bottom-up 24-bit picture (lines padded to 4 bytes); nullopt also when
    // `bits` is too short for the size.
    std::optional<bool> putBottomUp24(int width, int height, std::span<const uint8_t> bits);

    // Front end: the size of the panel showing the slot (0 × 0, the start: unknown, and
    // pictures keep their own size). When it changes, the picture on show is made again at the
    // new size from the decoded picture it came from (if the slot has it; not for 24-bit
    // pictures, which the painter scales until the next one); true when that happened.
    bool setViewSize(int width, int height);

    // Front end side. Calls f(const Picture&) with the newest picture, under the slot's lock
    // (the producer meanwhile fills the other picture and waits only to swap). False, without
    // a call, before the first picture.
    template <class F>
    bool takeNewest(F&& f) {
        std::lock_guard lock(mutex_);
        if (published_ == 0) return false;
        dirty_ = false;
        f(static_cast<const Picture&>(pictures_[front_]));
        return true;
    }
    bool dirty() const;
    uint64_t published() const;

  private:
    // Under the producer lock. The picture to fill, sized width × height; its memory stays
    // where it is as long as the size does.
    Picture& back(int width, int height);
    // Under the producer lock: where a sourceWidth × sourceHeight picture goes.
    std::optional<bool> fillAndPublish(int sourceWidth, int sourceHeight, const auto& convert);
    bool publish();

    std::mutex produce_;
    media::PictureScaler scaler_;                        // producer lock
    std::shared_ptr<const media::DecodedPicture> last_;  // producer lock: the one on show
    int viewWidth_ = 0, viewHeight_ = 0;                 // producer lock

    mutable std::mutex mutex_;
    Picture pictures_[2];
    int front_ = 0;  // changed under both locks
    bool dirty_ = false;
    uint64_t published_ = 0;
};

// The slots of every panel, made once: a slot's address never changes.
class FrameSlots {
  public:
    explicit FrameSlots(int panels);
    int size() const { return static_cast<int>(slots_.size()); }
    // nullptr for a panel that does not exist.
    FrameSlot* slot(PanelId panel);

  private:
    std::vector<std::unique_ptr<FrameSlot>> slots_;
};

// The players' display over the slots: each picture goes into its panel's slot and the front
// end hears FrameReady once per batch of pictures it has not taken. Called on the players'
// threads; takes the slot's locks and then the queue's, nothing else.
class SlotDisplay : public playback::FrameSink {
  public:
    SlotDisplay(FrameSlots& slots, NotificationQueue& queue) : slots_(slots), queue_(queue) {}
    void show(int panel, std::shared_ptr<const media::DecodedPicture> picture) override;
    void draw(int panel, int width, int height, std::span<const uint8_t> bits) override;
    // A FrameReady without a new picture.
    void repaint(int panel) override;
    // A PlaybackPosition; the queue keeps only the latest of each panel.
    void moved(int panel, uint32_t position, uint32_t frameCount, int speed) override;

  private:
    FrameSlots& slots_;
    NotificationQueue& queue_;
};

}  // namespace fsv::client
