#pragma once
// Reassembly of incoming frames from a byte stream that arrives in reads of any size. Every
// frame but the keep-alive byte starts with a 5-byte header; a header split across reads is
// completed before it is looked at, and a data payload is handed on in pieces of at most the
// maximum delivery size, each piece received whole before it is delivered. The read that ends a
// payload also asks for the next frame's header (at most 5 bytes more), so that a stream of
// frames costs one read per frame; nothing beyond that header is taken early. The piece buffer
// grows as the bytes arrive (doubling from a small start), never to a size a peer merely
// announced: a frame that announces 100 MB and sends nothing holds only the first step.

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

    // `firstBuffer`: the piece buffer's first size; it doubles while a piece needs more.
    FrameReceiver(Read read, uint32_t maxDelivery, size_t firstBuffer = kFirstBuffer)
        : read_(std::move(read)), max_(maxDelivery), first_(firstBuffer ? firstBuffer : 1) {}
    static constexpr size_t kFirstBuffer = 64 * 1024;

    // Receives one frame and hands it to `sink`. False when the connection must end: the
    // stream ended or failed, a data header carried length 0, a piece buffer could not be
    // allocated, or the sink asked to stop between pieces.
    bool next(FrameSink& sink);

    // The piece buffer's size now (kept from frame to frame).
    size_t bufferSize() const { return pieceSize_; }

  private:
    // Reads `n` bytes into `buf`, and up to `extra` more; answers how many of those came.
    bool fill(uint8_t* buf, size_t n, size_t extra, size_t* extraGot);
    // Reads a piece of `n` bytes, and up to `extra` more, into the piece buffer, growing it as
    // the bytes come; answers how many of the extra came.
    bool fillPiece(size_t n, size_t extra, size_t* extraGot);
    // Makes the piece buffer `size` bytes, keeping its first `keep` bytes.
    bool resize(size_t size, size_t keep);

    Read read_;
    uint32_t max_;
    size_t first_;
    std::unique_ptr<uint8_t[]> piece_;  // kept from frame to frame
    size_t pieceSize_ = 0;
    uint8_t header_[5] = {};
    size_t have_ = 0;  // header bytes already received
};

}  // namespace fsv::net
