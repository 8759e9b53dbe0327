#pragma once
// Reassembly of incoming frames from a byte stream that arrives in reads of any size. Every
// frame but the keep-alive byte starts with a 5-byte header; a header split across reads is
// completed before it is looked at, and a data payload is handed on in pieces of at most the
// maximum delivery size, each piece received whole before it is delivered. The read that ends a
// payload also asks for the next frame's header (at most 5 bytes more), so that a stream of
// frames costs one read per frame; nothing beyond that header is taken early.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

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
    // Reads `n` bytes into `buf`, and up to `extra` more; answers how many of those came.
    bool fill(uint8_t* buf, size_t n, size_t extra, size_t* extraGot);

    Read read_;
    uint32_t max_;
    std::unique_ptr<uint8_t[]> piece_;  // kept from frame to frame
    size_t pieceSize_ = 0;
    uint8_t header_[5] = {};
    size_t have_ = 0;  // header bytes already received
};

}  // namespace fsv::net
