#pragma once
// Where players put their pictures: the display panels of a front end. A player names its panel
// by number (-1: shown in none) and never learns how the picture gets to the screen; the
// desktop program keeps a frame slot per panel behind this, fsv and most tests draw nothing.
//
// Every call comes from a player's thread (a stream's or a local channel's) and returns without
// waiting for the front end: at most the picture is converted into the panel's buffer and the
// front end is told there is something new to paint. An implementation takes no lock of the
// players, so a player may call it while holding its own picture locks.

#include <cstdint>
#include <memory>
#include <span>

#include "media/DecodedPicture.h"

namespace fsv::playback {

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // A decoded picture for `panel`; the sink may keep it by reference while it is on show.
    virtual void show(int panel, std::shared_ptr<const media::DecodedPicture> picture) = 0;
    // A bottom-up 24-bit picture for `panel` (lines padded to 4 bytes).
    virtual void draw(int panel, int width, int height, std::span<const uint8_t> bits) = 0;
    // `panel` should paint again without a new picture (what it draws over it changed).
    virtual void repaint(int /*panel*/) {}
    // The frame on show in `panel` changed: its 0-based position, the recording's frame count
    // and the speed (the fast factor, or minus the slow divisor).
    virtual void moved(int /*panel*/, uint32_t /*position*/, uint32_t /*frameCount*/,
                       int /*speed*/) {}
};

}  // namespace fsv::playback
