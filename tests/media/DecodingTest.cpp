#include <gtest/gtest.h>

#include "TestSupport.h"
#include "media/AviReader.h"
#include "media/AviWriter.h"
#include "media/Placement.h"
#include "media/VideoDecoder.h"
#include "platform/Bytes.h"

using namespace fsv;
using namespace fsv::media;

namespace {

TEST(HandlerClass, SevenStandardCodesCaseMatters) {
    for (const char* code : {"dmb1", "IV50", "Iv50", "iv50", "MPG4", "Mpg4", "mpg4"})
        EXPECT_TRUE(isStandardHandler(fourcc(code))) << code;
    for (const char* code : {"iV50", "DMB1", "MP42", "MP43", "mPG4", "XVID", "\0\0\0\0"})
        EXPECT_FALSE(isStandardHandler(fourcc(code))) << code;
}

TEST(HandlerClass, PrivateParameterBlock) {
    auto b = ownHandlerParameterBlock();
    const std::pair<size_t, uint32_t> set[] = {
        {0, 2000}, {4, 10},          {8, 20},          {12, 128}, {16, 5},      {20, 520},
        {24, 5},   {36, 1},          {64, 12},         {68, 1},   {72, 900000}, {76, 3},
        {80, 5},   {84, 0x3E4CCCCD}, {88, 1000000000}, {92, 30},  {104, 1},     {108, 1}};
    for (size_t at = 0; at < b.size(); at += 4) {
        uint32_t want = 0;
        for (auto [o, v] : set)
            if (o == at) want = v;
        EXPECT_EQ(fsv::platform::getU32(&b[at]), want) << "offset " << at;
    }
    float f;
    uint32_t bits = fsv::platform::getU32(&b[84]);
    std::memcpy(&f, &bits, 4);
    EXPECT_FLOAT_EQ(f, 0.2f);
}

TEST(HandlerClass, RecordersCodecsAllDecode) {
    EXPECT_TRUE(missingStartupDecoders().empty());
    auto all = decodableHandlers();
    for (const char* code : {"MPG4", "MP42", "MP43", "DIV3", "IV50", "dmb1", "MJPG", "XVID"})
        EXPECT_TRUE(std::binary_search(all.begin(), all.end(), fourcc(code))) << code;
    EXPECT_FALSE(canDecode(fourcc("Q?Z!")));
}

TEST(Placement, ScaleFactors) {
    struct Case {
        int w, h;
        float horizontal, vertical;
    } cases[] = {
        {320, 240, 1, 1},         {640, 480, 1, 1},         {640, 240, 1, 1},
        {352, 288, 11.f / 12, 1}, {704, 576, 11.f / 12, 1}, {704, 288, 11.f / 12, 1},
        {352, 240, 1, 10.f / 11}, {720, 480, 1, 8.f / 9},   {704, 240, 1, 0.909091f},
    };
    for (auto c : cases) {
        auto f = scaleFactors(c.w, c.h);
        EXPECT_NEAR(f.horizontal, c.horizontal, 1e-4) << c.w << "x" << c.h;
        EXPECT_NEAR(f.vertical, c.vertical, 1e-4) << c.w << "x" << c.h;
    }
}

TEST(Placement, InA400x300Panel) {
    auto field = placePicture(400, 300, scaleFactors(640, 240));
    EXPECT_EQ(field.x, 1);
    EXPECT_EQ(field.y, 1);
    EXPECT_EQ(field.width, 398);
    EXPECT_EQ(field.height, 298);
    EXPECT_FALSE(field.paintBackground);

    auto cif = placePicture(400, 300, scaleFactors(352, 288));
    EXPECT_EQ(cif.x, 17);
    EXPECT_EQ(cif.y, 1);
    EXPECT_EQ(cif.width, 365);
    EXPECT_EQ(cif.height, 298);
    EXPECT_TRUE(cif.paintBackground);

    // No frame yet: nothing to place.
    EXPECT_EQ(placePicture(400, 300, ScaleFactors{}).width, 0);
}

// A recorder maker's decompressor: remembers what it was handed and paints a grey picture.
struct FakePlugin : DecoderPlugin {
    static inline std::vector<uint8_t> block;
    static inline std::string credential;
    static inline BitmapInfoHeader out;
    void message(uint32_t msg, std::span<const uint8_t> data) override {
        EXPECT_EQ(msg, kParameterMessage);
        block.assign(data.begin(), data.end());
    }
    bool begin(const BitmapInfoHeader&, const BitmapInfoHeader& o, const char* c) override {
        credential = c;
        out = o;
        return true;
    }
    bool decompress(const BitmapInfoHeader&, std::span<const uint8_t> data, uint32_t,
                    const BitmapInfoHeader& o, uint8_t* bits) override {
        std::memset(bits, data.empty() ? 0 : data[0], o.sizeImage);
        return true;
    }
    void end() override {}
};

class OwnHandler : public test::TempDir {
  protected:
    // A stream of handler `code` (704 x 240 unless told) with three one-byte samples.
    std::filesystem::path write(const char* code, int width = 704, int height = 240) {
        AviWriter w;
        AviWriter::StreamSetup v;
        v.info.fccType = kStreamVideo;
        v.info.fccHandler = fourcc(code);
        v.info.scale = 1;
        v.info.rate = 10;
        v.info.frameRight = width;
        v.info.frameBottom = height;
        BitmapInfoHeader f = BitmapInfoHeader::rgb24(width, height);
        f.compression = fourcc(code);
        auto fb = f.serialize();
        v.format.assign(fb.begin(), fb.end());
        auto file = path(std::string(code) + std::to_string(width) + ".avi");
        EXPECT_TRUE(w.open(file, {v}));
        for (uint8_t i = 1; i <= 3; ++i) EXPECT_TRUE(w.append(0, std::vector<uint8_t>{i}, true));
        EXPECT_TRUE(w.close());
        return file;
    }
};

TEST_F(OwnHandler, PluginGetsBlockCredentialAndTheDoubledFieldPicture) {
    installDecoderPlugin(fourcc("KTC1"), [] { return std::make_unique<FakePlugin>(); });
    auto file = write("KTC1");
    AviReader r;
    ASSERT_EQ(r.open(file, true, "guest:secret"), 3);
    auto block = ownHandlerParameterBlock();
    EXPECT_EQ(FakePlugin::block, std::vector<uint8_t>(block.begin(), block.end()));
    EXPECT_EQ(FakePlugin::credential, "guest:secret");
    // A field-only picture is asked for at twice its height, 24-bit.
    EXPECT_EQ(FakePlugin::out, BitmapInfoHeader::rgb24(704, 480));
    const uint8_t* frame = r.getFrame(1);
    ASSERT_NE(frame, nullptr);
    auto h = BitmapInfoHeader::parse(std::span(frame, 40));
    EXPECT_EQ(*h, BitmapInfoHeader::rgb24(704, 480));
    EXPECT_EQ(frame[40], 2);

    // Without a credential text the reader passes "?:".
    ASSERT_EQ(r.open(file, true, nullptr), 3);
    EXPECT_EQ(FakePlugin::credential, "?:");

    // Exactly twice as wide as high is not a field-only picture.
    auto wide = write("KTC1", 640, 320);
    ASSERT_EQ(r.open(wide, true), 3);
    EXPECT_EQ(FakePlugin::out, BitmapInfoHeader::rgb24(640, 320));

    // The decoder passes "%s:%s" of ID and password.
    VideoDecoder d;
    ASSERT_TRUE(d.open(fourcc("KTC1")));
    EXPECT_TRUE(d.hasPlugin());
    ASSERT_TRUE(d.begin(BitmapInfoHeader::rgb24(352, 240), BitmapInfoHeader::rgb24(352, 240),
                        "admin", "pw"));
    EXPECT_EQ(FakePlugin::credential, "admin:pw");
    installDecoderPlugin(fourcc("KTC1"), {});
}

TEST_F(OwnHandler, NoDecoderGivesZeroFramesOnlyWhenDecoding) {
    auto file = write("Q?Z!");
    AviReader r;
    EXPECT_EQ(r.open(file, true), 0);
    EXPECT_EQ(r.open(file, false), 3);
    EXPECT_EQ(r.getFrame(0), nullptr);
}

TEST(VideoDecoder, StandardHandlerGetsNoPluginEvenWhenOneIsInstalled) {
    installDecoderPlugin(fourcc("MPG4"), [] { return std::make_unique<FakePlugin>(); });
    VideoDecoder d;
    ASSERT_TRUE(d.open(fourcc("MPG4")));
    EXPECT_FALSE(d.hasPlugin());
    installDecoderPlugin(fourcc("MPG4"), {});
}

TEST(VideoDecoder, DecompressWithoutBeginFails) {
    VideoDecoder d;
    std::vector<uint8_t> bits(100);
    uint8_t data[4] = {};
    EXPECT_FALSE(d.decompress(data, bits.data(), kDecompressHurryUp));
    EXPECT_EQ(d.handler(), fourcc("iv50"));
    EXPECT_EQ(d.handlerType(), fourcc("VIDC"));
}

}  // namespace
