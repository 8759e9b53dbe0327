#include "net/FrameReceiver.h"

#include <cstring>
#include <new>

#include "net/Messages.h"
#include "platform/Bytes.h"

namespace fsv::net {

bool FrameReceiver::fill(uint8_t* buf, size_t n, size_t extra, size_t* extraGot) {
    size_t got = 0;
    while (got < n) {
        long r = read_(buf + got, n + extra - got);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    if (extraGot) *extraGot = got - n;
    return true;
}

bool FrameReceiver::next(FrameSink& sink) {
    if (have_ == 0) {
        long r = read_(header_, kFrameHeaderSize);
        if (r <= 0) return false;
        have_ = static_cast<size_t>(r);
    }
    const uint8_t type = header_[0];
    if (type == kFrameKeepAlive) {
        // One byte without a length field; whatever followed it in the same read is the start
        // of the next frame.
        for (size_t i = 1; i < have_; ++i) header_[i - 1] = header_[i];
        --have_;
        return true;
    }
    if (!fill(header_ + have_, kFrameHeaderSize - have_, 0, nullptr)) return false;
    have_ = 0;
    if (type != kFrameData) {
        sink.control(type);
        return true;
    }
    uint32_t left = platform::getU32(header_ + 1);
    if (left == 0) return false;
    while (left > 0) {
        const uint32_t size = left < max_ ? left : max_;
        const bool last = size == left;
        const size_t extra = last ? kFrameHeaderSize : 0;
        const size_t need = size_t{size} + extra;
        // The buffer is kept for the next frames, unless it is far larger than they need.
        if (pieceSize_ < need || pieceSize_ > 4 * need + (1u << 20)) {
            piece_.reset();
            pieceSize_ = 0;
            piece_.reset(new (std::nothrow) uint8_t[need]);
            if (!piece_) return false;
            pieceSize_ = need;
        }
        size_t next = 0;
        if (!fill(piece_.get(), size, extra, &next)) return false;
        // The start of the next frame's header, when it came with this read.
        std::memcpy(header_, piece_.get() + size, next);
        have_ = next;
        sink.piece(piece_.get(), size);
        left -= size;
        if (left > 0 && sink.stopping()) return false;
    }
    return true;
}

}  // namespace fsv::net
