// Decoded pictures go into a panel's frame slot in one conversion: the same picture the 24-bit
// path gave, the right way up, at the panel's size.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ReferenceFrame.h"
#include "client/FrameSlot.h"
#include "media/AviReader.h"
#include "media/DecodedPicture.h"
#include "media/Placement.h"
#include "media/VideoDecoder.h"
#include "media/VideoEncoder.h"
#include "sim/Generate.h"

using namespace fsv;
using fsv::playback::test::firstAvi;
namespace fs = std::filesystem;

namespace {

client::Picture newest(client::FrameSlot& slot) {
    client::Picture out;
    slot.takeNewest([&](const client::Picture& p) { out = p; });
    return out;
}

// How a frame reached the slot before: the decoder's bottom-up 24-bit picture, turned into
// top-down BGRX pixel by pixel. The largest difference of one colour byte from `p`; 255 when
// the sizes differ or an X byte is not 0xFF.
int largestDifference(const client::Picture& p, int width, int height, const uint8_t* bits) {
    if (p.width != width || p.height != height) return 255;
    const size_t stride = media::rgb24Stride(width);
    int worst = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = bits + static_cast<size_t>(height - 1 - y) * stride;
        const uint8_t* out = p.line(y);
        for (int x = 0; x < width; ++x, in += 3, out += 4) {
            if (out[3] != 0xFF) return 255;
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(in[c] - out[c]));
        }
    }
    return worst;
}

class SlotPictureTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::path(FSV_BINARY_DIR) / ("test-slot-picture-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        sim::GenerateOptions o;
        o.cameras = 2;  // Cam01 Motion JPEG 352 x 240, Cam02 MPEG-4 704 x 480
        o.days = 1;
        o.eventsPerDay = 1;
        o.secondsPerEvent = 2;
        o.audioChannels = 0;
        std::string error;
        ASSERT_TRUE(sim::generateRecordings(dir_, o, &error)) << error;
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static inline fs::path dir_;
};

// Every frame of both codecs: the slot's picture equals the two-step path's pixel for pixel,
// and the 24-bit picture made on demand (snapshots, clips) is exactly the
// decoder's 24-bit output.
TEST_F(SlotPictureTest, DecodedStraightIntoTheSlotMatchesTheTwoStepPath) {
    for (const char* camera : {"Cam01", "Cam02"}) {
        SCOPED_TRACE(camera);
        const fs::path file = firstAvi(dir_ / camera);
        media::AviReader old, now;
        const int count = old.open(file, true);
        ASSERT_GT(count, 10);
        ASSERT_EQ(now.open(file, true), count);
        ASSERT_TRUE(now.setPictureFrames(true));
        EXPECT_EQ(now.getFrame(0), nullptr);  // pictures only, no 24-bit copy per frame
        const auto format = *old.decodedFormat();
        client::FrameSlot slot;
        int worst = 0;
        for (int i = 0; i < count; ++i) {
            const uint8_t* frame = old.getFrame(i);
            auto picture = now.getPicture(i);
            ASSERT_TRUE(frame && picture) << i;
            ASSERT_TRUE(slot.put(picture)) << i;
            const client::Picture p = newest(slot);
            worst = std::max(worst, largestDifference(p, format.width, format.height,
                                                      frame + media::BitmapInfoHeader::kSize));
            EXPECT_EQ(p.sourceWidth, format.width);
            EXPECT_EQ(p.sourceHeight, format.height);
            if (i % 7 == 0) {
                const auto bits = picture->bottomUp24();
                ASSERT_EQ(bits.size(), format.sizeImage);
                EXPECT_TRUE(
                    std::equal(bits.begin(), bits.end(), frame + media::BitmapInfoHeader::kSize))
                    << i;
            }
        }
        EXPECT_EQ(worst, 0);  // libswscale converts to 24 and 32 bits alike
    }
}

// A picture whose top quarter is white and the rest black, through the encoder and back: the
// white stays on top in the slot at every panel size and in the 24-bit picture (whose top line
// comes last), and the slot's picture has the size of its place in the panel.
TEST_F(SlotPictureTest, TopStaysOnTopAtEveryPanelSize) {
    constexpr int kW = 704, kH = 480;
    media::VideoEncoder encoder;
    ASSERT_TRUE(encoder.open(media::VideoCodec::Mpeg4, kW, kH, 25, 1, 2));
    auto planes = encoder.picture();
    for (int y = 0; y < kH; ++y)
        std::fill_n(planes.data[0] + y * planes.stride[0], kW, y < kH / 4 ? 235 : 16);
    for (int c = 1; c < 3; ++c)
        for (int y = 0; y < kH / 2; ++y)
            std::fill_n(planes.data[c] + y * planes.stride[c], kW / 2, 128);
    std::vector<uint8_t> sample;
    bool key = false;
    ASSERT_TRUE(encoder.encode(sample, key));
    ASSERT_TRUE(key);

    media::VideoDecoder decoder;
    media::BitmapInfoHeader input;
    input.width = kW;
    input.height = kH;
    input.bitCount = 24;
    input.compression = media::codecFourcc(media::VideoCodec::Mpeg4);
    ASSERT_TRUE(decoder.open(input.compression));
    ASSERT_TRUE(decoder.begin(input, media::BitmapInfoHeader{}));
    ASSERT_TRUE(decoder.setPictureOutput(true));
    ASSERT_TRUE(decoder.decompress(sample, nullptr, 0));
    const auto picture = decoder.latestPicture();
    ASSERT_TRUE(picture);

    auto bright = [](const uint8_t* px) { return px[0] > 220 && px[1] > 220 && px[2] > 220; };
    auto dark = [](const uint8_t* px) { return px[0] < 30 && px[1] < 30 && px[2] < 30; };
    struct View {
        int width, height;
    };
    for (const View view : {View{0, 0}, View{255, 191}, View{400, 300}, View{1280, 1024}}) {
        SCOPED_TRACE(testing::Message() << view.width << " x " << view.height);
        client::FrameSlot slot;
        slot.setViewSize(view.width, view.height);
        ASSERT_TRUE(slot.put(picture));
        const client::Picture p = newest(slot);
        int w = kW, h = kH;
        if (view.width > 0) {
            const auto place =
                media::placePicture(view.width, view.height, media::scaleFactors(kW, kH));
            w = place.width & ~1;  // made even, for the scaler's fast paths
            h = place.height;
        }
        EXPECT_EQ(p.width, w);
        EXPECT_EQ(p.height, h);
        EXPECT_EQ(p.sourceWidth, kW);
        EXPECT_EQ(p.sourceHeight, kH);
        for (int x : {0, w / 2, w - 1}) {
            EXPECT_TRUE(bright(p.line(0) + 4 * x)) << x;
            EXPECT_TRUE(bright(p.line(h / 4 - 3) + 4 * x)) << x;
            EXPECT_TRUE(dark(p.line(h / 4 + 3) + 4 * x)) << x;
            EXPECT_TRUE(dark(p.line(h - 1) + 4 * x)) << x;
        }
    }
    const auto bits = picture->bottomUp24();
    ASSERT_EQ(bits.size(), media::rgb24Stride(kW) * kH);
    EXPECT_TRUE(dark(bits.data()));                                        // bottom line first
    EXPECT_TRUE(bright(bits.data() + media::rgb24Stride(kW) * (kH - 1)));  // top line last
}

// A new panel size makes the picture on show again at that size from the decoded picture; a
// 24-bit picture (a stream's) stays as it is until the next one.
TEST_F(SlotPictureTest, ANewPanelSizeRemakesThePictureOnShow) {
    media::AviReader reader;
    ASSERT_GT(reader.open(firstAvi(dir_ / "Cam02"), true), 5);
    ASSERT_TRUE(reader.setPictureFrames(true));
    client::FrameSlot slot;
    EXPECT_FALSE(slot.setViewSize(400, 300));  // nothing to remake yet
    ASSERT_TRUE(slot.put(reader.getPicture(5)));
    const auto small = newest(slot);
    EXPECT_FALSE(slot.setViewSize(400, 300));  // the same size
    EXPECT_TRUE(slot.setViewSize(800, 600));
    EXPECT_EQ(slot.published(), 2u);
    const auto large = newest(slot);
    EXPECT_GT(large.width, small.width);
    EXPECT_GT(large.height, small.height);
    EXPECT_EQ(large.sourceWidth, 704);
    const auto reference = playback::test::referenceFrame(firstAvi(dir_ / "Cam02"), 5, 800, 600);
    EXPECT_TRUE(large.width == reference.width && large.bits == reference.bits);

    const std::vector<uint8_t> bits(media::rgb24Stride(32) * 16, 0x80);
    ASSERT_TRUE(slot.putBottomUp24(32, 16, bits));
    EXPECT_FALSE(slot.setViewSize(400, 300));
    EXPECT_EQ(slot.published(), 3u);
}

}  // namespace
