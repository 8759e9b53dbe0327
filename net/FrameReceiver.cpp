#include "net/FrameReceiver.h"

#include <algorithm>
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

bool FrameReceiver::resize(size_t size, size_t keep) {
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[size]);
    if (!bigger) return false;
    if (keep) std::memcpy(bigger.get(), piece_.get(), keep);
    piece_ = std::move(bigger);
    pieceSize_ = size;
    return true;
}

bool FrameReceiver::fillPiece(size_t n, size_t extra, size_t* extraGot) {
    const size_t need = n + extra;
    size_t got = 0;
    while (got < n) {
        if (got == pieceSize_) {
            // Full: twice the size, at most what the piece can still use.
            const size_t grown = std::min(need, std::max(first_, 2 * pieceSize_));
            if (!resize(grown, got)) return false;
        }
        const long r = read_(piece_.get() + got, std::min(pieceSize_, need) - got);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    *extraGot = got - n;
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
        if (pieceSize_ > 4 * need + (1u << 20)) {
            piece_.reset();
            pieceSize_ = 0;
        }
        size_t next = 0;
        if (!fillPiece(size, extra, &next)) return false;
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
