// Frame slots: after a burst of frames the front end sees the last one, and neither the slot
// nor the display over it allocates per frame. This program counts every operator new of the
// process, which is why it is a test program of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "client/FrameSlot.h"

// The replacement pair below is malloc/free underneath; GCC sees free() where delete was
// written once the two are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<long> gNews{0};
}

void* operator new(std::size_t n) {
    ++gNews;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace fsv::client;

namespace {

constexpr int kW = 704, kH = 480;

// A bottom-up 24-bit picture whose first pixel (top-left) carries `n`.
std::vector<uint8_t> bottomUp24(int n) {
    const size_t stride = (kW * 3 + 3) & ~3;
    std::vector<uint8_t> bits(stride * kH, 0x40);
    uint8_t* topLeft = bits.data() + stride * (kH - 1);
    topLeft[0] = static_cast<uint8_t>(n);
    topLeft[1] = static_cast<uint8_t>(n >> 8);
    topLeft[2] = 0x7F;
    return bits;
}

int frameNumber(const Picture& p) { return p.line(0)[0] | p.line(0)[1] << 8; }

}  // namespace

TEST(FrameSlot, BurstFromAStreamThreadEndsWithTheLastPictureAndAllocatesNothingPerFrame) {
    constexpr int kFrames = 500;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < kFrames; ++i) frames.push_back(bottomUp24(i + 1));

    NotificationQueue queue;
    FrameSlots slots(4);
    SlotDisplay display(slots, queue);
    FrameSlot& slot = *slots.slot(2);
    // The first two frames size both pictures; from then on nothing may be allocated.
    display.draw(2, kW, kH, frames[0]);
    display.draw(2, kW, kH, frames[1]);
    const uint8_t* buffers[2] = {nullptr, nullptr};
    slot.takeNewest([&](const Picture& p) { buffers[0] = p.bits.data(); });

    std::atomic<bool> done{false};
    std::atomic<long> taken{0};
    long during = -1;  // counted from the stream thread's start (the thread itself allocates)
    std::thread stream([&] {
        const long before = gNews.load();
        for (int i = 2; i < kFrames; ++i) display.draw(2, kW, kH, frames[i]);
        during = gNews.load() - before;
        done = true;
    });
    // The front end takes pictures while they come; every one is whole and no older than the
    // one before.
    int last = 0;
    bool wentBack = false, torn = false, strayBuffer = false;
    auto take = [&] {
        slot.takeNewest([&](const Picture& p) {
            const int n = frameNumber(p);
            if (n < last) wentBack = true;
            last = n;
            if (p.line(kH - 1)[4] != 0x40 || p.line(0)[2] != 0x7F || p.line(0)[3] != 0xFF)
                torn = true;
            if (p.bits.data() != buffers[0]) {
                if (!buffers[1])
                    buffers[1] = p.bits.data();
                else if (p.bits.data() != buffers[1])
                    strayBuffer = true;
            }
            ++taken;
        });
    };
    while (!done) take();
    stream.join();
    take();

    EXPECT_EQ(during, 0) << "allocations while " << kFrames - 2 << " frames went through";
    EXPECT_EQ(last, kFrames);
    EXPECT_FALSE(wentBack);
    EXPECT_FALSE(torn);
    EXPECT_FALSE(strayBuffer);  // only ever the same two buffers
    EXPECT_EQ(slot.published(), static_cast<uint64_t>(kFrames));
    EXPECT_FALSE(slot.dirty());
    EXPECT_GT(taken, 0);

    // The front end heard of the pictures: one FrameReady for panel 2 waits (they coalesce).
    int ready = 0;
    queue.drain([&](Notification& n) {
        auto* f = std::get_if<FrameReady>(&n);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->panel, 2);
        ++ready;
    });
    EXPECT_EQ(ready, 1);
}

TEST(FrameSlot, ConversionAndRejectedInput) {
    FrameSlot slot;
    EXPECT_FALSE(slot.takeNewest([](const Picture&) {}));
    // 3 × 2, bottom-up, lines padded to 12 bytes: bottom line first.
    const std::vector<uint8_t> bits = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0,   // bottom line
                                       10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0};  // top line
    ASSERT_TRUE(slot.putBottomUp24(3, 2, bits));
    slot.takeNewest([](const Picture& p) {
        EXPECT_EQ(p.stride, 12);
        EXPECT_EQ(std::vector<uint8_t>(p.bits.begin(), p.bits.end()),
                  (std::vector<uint8_t>{10, 11, 12, 255, 13, 14, 15, 255, 16, 17, 18, 255,  //
                                        1,  2,  3,  255, 4,  5,  6,  255, 7,  8,  9,  255}));
    });
    // Too short for its size, or no size: nothing is drawn.
    EXPECT_FALSE(slot.putBottomUp24(3, 2, std::span(bits).first(23)));
    EXPECT_FALSE(slot.putBottomUp24(0, 2, bits));
    EXPECT_FALSE(slot.putBottomUp24(-3, 2, bits));
    EXPECT_FALSE(slot.put(nullptr));
    EXPECT_EQ(slot.published(), 1u);
    NotificationQueue queue;
    FrameSlots slots(1);
    SlotDisplay display(slots, queue);
    display.draw(1, 3, 2, bits);  // no such panel
    display.draw(0, 3, 2, std::span(bits).first(10));
    EXPECT_EQ(slots.slot(0)->published(), 0u);
    EXPECT_TRUE(queue.empty());
}
