// Frame reassembly over a byte stream cut into reads of varying size. The first byte sets the
// read sizes; the rest is the stream. Pieces are checked to be complete and bounded.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>

#include "net/FrameReceiver.h"

using namespace fsv::net;

namespace {

struct Sink : FrameSink {
    uint32_t max;
    explicit Sink(uint32_t m) : max(m) {}
    void control(uint8_t) override {}
    void piece(const uint8_t* data, uint32_t length) override {
        if (length == 0 || length > max) std::abort();
        volatile uint8_t x = data[0];
        x = data[length - 1];
        (void)x;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t step = (data[0] & 0x0F) + 1;
    const uint32_t maxDelivery = 1u + (data[0] >> 4) * 64u;
    const uint8_t* p = data + 1;
    size_t left = size - 1;
    FrameReceiver receiver(
        [&](uint8_t* buf, size_t max) -> long {
            size_t n = std::min({max, step, left});
            if (n == 0) return 0;
            for (size_t i = 0; i < n; ++i) buf[i] = p[i];
            p += n;
            left -= n;
            return static_cast<long>(n);
        },
        maxDelivery, step);  // a small first buffer: pieces grow it as they come
    Sink sink(maxDelivery);
    while (receiver.next(sink)) {
    }
    return 0;
}
