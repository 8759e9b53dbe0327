#include "net/FrameReceiver.h"

#include <memory>
#include <new>

#include "net/Messages.h"
#include "platform/Bytes.h"

namespace fsv::net {

bool FrameReceiver::fill(uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        long r = read_(buf + got, n - got);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
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
    if (!fill(header_ + have_, kFrameHeaderSize - have_)) return false;
    have_ = 0;
    if (type != kFrameData) {
        sink.control(type);
        return true;
    }
    uint32_t left = platform::getU32(header_ + 1);
    if (left == 0) return false;
    while (left > 0) {
        const uint32_t size = left < max_ ? left : max_;
        std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[size]);
        if (!buf) return false;
        if (!fill(buf.get(), size)) return false;
        sink.piece(buf.get(), size);
        left -= size;
        if (left > 0 && sink.stopping()) return false;
    }
    return true;
}

}  // namespace fsv::net
