#pragma once
// Reassembly of incoming frames from a byte stream that arrives in reads of any size. Every
// frame but the keep-alive byte starts with a 5-byte header; a header split across reads is
// completed before it is looked at, and a data payload is handed on in pieces of at most the
// maximum delivery size, each piece received whole before it is delivered. The reader never
// asks for more bytes than the frame it is in still needs, so nothing of the next frame is
// consumed early.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace fsv::net {

class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual void control(uint8_t type) = 0;
    virtual void piece(const uint8_t* data, uint32_t length) = 0;
    // Checked between pieces of one payload: true ends the receiving.
    virtual bool stopping() { return false; }
};

class FrameReceiver {
  public:
    // Reads up to `max` bytes into `buf`; answers the count, or 0 or less when the stream ended
    // or failed.
    using Read = std::function<long(uint8_t* buf, size_t max)>;

    FrameReceiver(Read read, uint32_t maxDelivery) : read_(std::move(read)), max_(maxDelivery) {}

    // Receives one frame and hands it to `sink`. False when the connection must end: the
    // stream ended or failed, a data header carried length 0, a piece buffer could not be
    // allocated, or the sink asked to stop between pieces.
    bool next(FrameSink& sink);

  private:
    bool fill(uint8_t* buf, size_t n);

    Read read_;
    uint32_t max_;
    uint8_t header_[5] = {};
    size_t have_ = 0;  // header bytes already received
};

}  // namespace fsv::net
