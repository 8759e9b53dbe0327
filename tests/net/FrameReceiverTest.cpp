// Frame reassembly from reads of any size: what a frame announces is not what the receiver
// holds, and the buffer that grows as bytes come still hands on every piece whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "net/FrameReceiver.h"
#include "net/Messages.h"

using namespace fsv::net;

namespace {

std::vector<uint8_t> dataFrame(uint32_t announced, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out(kFrameHeaderSize);
    encodeFrameHeader(out.data(), kFrameData, announced);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// Hands out `bytes` in reads of at most `step`, then ends the stream.
FrameReceiver::Read reader(const std::vector<uint8_t>& bytes, size_t step, size_t* at) {
    return [&bytes, step, at](uint8_t* buf, size_t max) -> long {
        const size_t n = std::min({max, step, bytes.size() - *at});
        if (n == 0) return 0;
        std::memcpy(buf, bytes.data() + *at, n);
        *at += n;
        return static_cast<long>(n);
    };
}

struct Collect : FrameSink {
    std::vector<std::vector<uint8_t>> pieces;
    std::vector<uint8_t> controls;
    void control(uint8_t type) override { controls.push_back(type); }
    void piece(const uint8_t* data, uint32_t length) override {
        pieces.emplace_back(data, data + length);
    }
};

}  // namespace

TEST(FrameReceiver, AnnouncedButUnsentFrameDoesNotAllocateItsSize) {
    const std::vector<uint8_t> bytes = dataFrame(100'000'000, std::vector<uint8_t>(100, 1));
    size_t at = 0;
    FrameReceiver receiver(reader(bytes, 4096, &at), 100'000'000);
    Collect sink;
    EXPECT_FALSE(receiver.next(sink));  // the stream ended inside the payload
    EXPECT_TRUE(sink.pieces.empty());
    EXPECT_LE(receiver.bufferSize(), FrameReceiver::kFirstBuffer);
}

TEST(FrameReceiver, GrowingBufferHandsOnEveryPieceWhole) {
    struct Case {
        uint32_t payload;
        size_t step;        // largest read
        uint32_t delivery;  // largest piece
        size_t firstBuffer;
    };
    const Case cases[] = {
        {1, 1, 1000, 1},
        {1000, 1, 1000, 1},
        {70'000, 4096, 100'000, 16},
        {70'000, 100'000, 30'000, 3},
        {300'000, 65'536, 1'000'000, FrameReceiver::kFirstBuffer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "payload " << c.payload << " step " << c.step);
        std::vector<uint8_t> body(c.payload);
        for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 7 + i / 251);
        // The frame twice, a keep-alive between, a control frame at the end.
        std::vector<uint8_t> bytes = dataFrame(c.payload, body);
        bytes.push_back(kFrameKeepAlive);
        const auto again = dataFrame(c.payload, body);
        bytes.insert(bytes.end(), again.begin(), again.end());
        std::vector<uint8_t> control(kFrameHeaderSize);
        encodeFrameHeader(control.data(), 3, 0);
        bytes.insert(bytes.end(), control.begin(), control.end());

        size_t at = 0;
        FrameReceiver receiver(reader(bytes, c.step, &at), c.delivery, c.firstBuffer);
        Collect sink;
        while (receiver.next(sink)) {
        }
        EXPECT_EQ(at, bytes.size());
        EXPECT_EQ(sink.controls, std::vector<uint8_t>{3});
        std::vector<uint8_t> joined;
        for (auto& p : sink.pieces) {
            EXPECT_LE(p.size(), c.delivery);
            joined.insert(joined.end(), p.begin(), p.end());
        }
        std::vector<uint8_t> expected = body;
        expected.insert(expected.end(), body.begin(), body.end());
        EXPECT_TRUE(joined == expected);
        // Doubling: never more than twice a piece and its following header.
        EXPECT_LE(receiver.bufferSize(),
                  std::max<size_t>(c.firstBuffer,
                                   2 * (std::min(c.payload, c.delivery) + kFrameHeaderSize)));
    }
}
