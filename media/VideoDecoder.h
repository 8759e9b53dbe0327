#pragma once
// VideoDecoder: turns the compressed frames of one video stream into the decoded picture, a
// bottom-up 24-bit BI_RGB bitmap described by a 40-byte header.
//
// Handlers (FOURCC codes) come in two classes. The standard handlers "dmb1", "IV50", "Iv50",
// "iv50", "MPG4", "Mpg4" and "mpg4" (compared exactly, case matters) are decoded as they are.
// Every other code is an own handler of the recorder maker: right after opening, its decoder
// receives the private parameter message (0x5001 with a 112-byte block), and at begin the
// credential text "%s:%s" (login ID, password). Both reach a DecoderPlugin when one is installed
// for that FOURCC; otherwise the code is looked up in FFmpeg's RIFF tag table and decoded by
// libavcodec, and the parameter block and credential text have nobody to go to.
//
// Typical use (one thread):
//   VideoDecoder d;
//   if (!d.open(handler) || !d.begin(input, BitmapInfoHeader::rgb24(w, h), id, password)) ...
//   d.decompress(data, size, bits, key ? kDecompressHurryUp : kDecompressHurryUp |
//                                                             kDecompressNotKeyFrame);
//   d.end();

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "media/AviTypes.h"
#include "media/DecodedPicture.h"

namespace fsv::media {

inline constexpr uint32_t kDecompressHurryUp = 0x80000000;
inline constexpr uint32_t kDecompressNotKeyFrame = 0x08000000;
inline constexpr int kFastDecompress = 3;  // the mode every caller opens with
inline constexpr uint32_t kHandlerTypeVideo = fourcc("VIDC");
inline constexpr uint32_t kParameterMessage = 0x5001;  // ICM_USER + 0x1001

// True for the seven standard handlers; exact on the 32-bit code.
bool isStandardHandler(uint32_t handler);

// The 112-byte block of the private parameter message: 28 little-endian 32-bit values.
std::array<uint8_t, 112> ownHandlerParameterBlock();

// The credential text handed to own handlers: "%s:%s" of login ID and password.
std::string credentialText(const std::string& id, const std::string& password);

// A recorder maker's own decompressor for one FOURCC. What it does with the parameter block and
// the credential text is its own business; it must copy the credential text if it keeps it.
class DecoderPlugin {
  public:
    virtual ~DecoderPlugin() = default;
    // Driver message sent right after opening (kParameterMessage with the 112-byte block).
    virtual void message(uint32_t msg, std::span<const uint8_t> data) = 0;
    virtual bool begin(const BitmapInfoHeader& in, const BitmapInfoHeader& out,
                       const char* credential) = 0;
    // Decodes one frame into `bits` (out.sizeImage bytes, bottom-up 24-bit rows).
    virtual bool decompress(const BitmapInfoHeader& in, std::span<const uint8_t> data,
                            uint32_t flags, const BitmapInfoHeader& out, uint8_t* bits) = 0;
    virtual void end() = 0;
};
using DecoderPluginFactory = std::function<std::unique_ptr<DecoderPlugin>()>;

// Installs (or, with an empty factory, removes) the plug-in for one FOURCC, process-wide.
void installDecoderPlugin(uint32_t handler, DecoderPluginFactory factory);

// A decoded picture as 8-bit planar Y, U, V (4:2:0, limited range), owned by the decoder.
struct PlanarPicture {
    const uint8_t* data[3];
    int stride[3];
    int width, height;
};

class VideoDecoder {
  public:
    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens a decompressor for `handler`; false when none exists for that code. Remembers both
    // codes; an own handler's decompressor gets the private parameter message.
    bool open(uint32_t handler, int mode = kFastDecompress, uint32_t type = kHandlerTypeVideo);
    bool isOpen() const;

    // Starts decoding from `input` (the compressed format: width, height, biCompression) into
    // `output`. An output with width 0 asks for the decoder's own choice: 24-bit RGB at the
    // input's size. The output's size may differ from the input's (a field-only picture shown
    // at twice its height); the picture is scaled to it. `extradata` is what follows the
    // 40-byte header in a stream format, if anything. Opens "iv50" when nothing is open.
    bool begin(const BitmapInfoHeader& input, const BitmapInfoHeader& output,
               const std::string& id = {}, const std::string& password = {},
               std::span<const uint8_t> extradata = {});
    // The same with the credential text already formed (the AVI reader passes "?:" when it was
    // given none). Only an own handler's plug-in receives it.
    bool beginWithCredential(const BitmapInfoHeader& input, const BitmapInfoHeader& output,
                             const std::string& credential,
                             std::span<const uint8_t> extradata = {});

    // Decodes one compressed frame into `bits` (output().sizeImage bytes). An empty frame (a
    // dropped position) keeps the picture as it was and succeeds. False on a decode error or
    // without begin.
    bool decompress(std::span<const uint8_t> data, uint8_t* bits, uint32_t flags);
    // Planar output: decompress() keeps the picture as 4:2:0 planes at the output size instead
    // of writing the 24-bit bitmap (`bits` may then be null). For callers that re-encode the
    // picture and would only convert the bitmap back. False (and off) with a plug-in.
    bool setPlanarOutput(bool on);
    bool planarOutput() const { return planar_; }
    // The latest planar picture, valid until the next decompress() or end(); nullopt before
    // the first picture or without planar output.
    std::optional<PlanarPicture> planarPicture() const;

    // Picture output: decompress() keeps the decoded picture by reference, as the decoder made
    // it, instead of writing the 24-bit bitmap (`bits` may then be null): whoever shows it
    // converts it once into what it needs. False (and off) with a plug-in. Planar and picture
    // output exclude each other; turning one on turns the other off.
    bool setPictureOutput(bool on);
    bool pictureOutput() const { return pictures_; }
    // The latest picture (shown at the output size); null before the first one or without
    // picture output. It stays valid and unchanged after later calls.
    std::shared_ptr<const DecodedPicture> latestPicture() const;

    // Forgets reference pictures, before decoding from a key frame after a jump.
    void flush();

    // Ends decoding and closes the decompressor.
    void end();

    uint32_t handler() const { return handler_; }
    uint32_t handlerType() const { return type_; }
    const BitmapInfoHeader& input() const { return input_; }
    const BitmapInfoHeader& output() const { return output_; }
    bool hasPlugin() const { return plugin_ != nullptr; }

  private:
    struct Ffmpeg;
    uint32_t handler_ = fourcc("iv50");
    uint32_t type_ = kHandlerTypeVideo;
    bool formats_ = false;
    BitmapInfoHeader input_{};
    BitmapInfoHeader output_{};
    std::unique_ptr<DecoderPlugin> plugin_;
    std::unique_ptr<Ffmpeg> ff_;
    bool opened_ = false;
    bool planar_ = false;
    bool pictures_ = false;
};

// The FOURCC codes that decode here: every video code of FFmpeg's RIFF table whose codec has a
// decoder in this build, plus the installed plug-ins. Sorted, without duplicates.
std::vector<uint32_t> decodableHandlers();
// True when open() would succeed for `handler`.
bool canDecode(uint32_t handler);

// Whether a compressed frame of `handler` is a key frame, judged from its first bytes, for
// files whose index is lost: Motion JPEG frames always are; MPEG-4 part 2 and the Microsoft
// MPEG-4 versions tell it in their picture header. nullopt for other codecs or unclear data.
std::optional<bool> isKeyFrameData(uint32_t handler, std::span<const uint8_t> data);

// The handlers the recorders deliver, which must decode from start-up on.
inline constexpr std::array<uint32_t, 5> kStartupHandlers = {
    fourcc("MPG4"), fourcc("MP42"), fourcc("MP43"), fourcc("IV50"), fourcc("dmb1")};
// Those of kStartupHandlers that cannot be decoded (empty when all can).
std::vector<uint32_t> missingStartupDecoders();

}  // namespace fsv::media
