#include "media/VideoDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "media/FfmpegLog.h"
#include "platform/Bytes.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace fsv::media {

namespace {

std::mutex& pluginLock() {
    static std::mutex m;
    return m;
}
std::map<uint32_t, DecoderPluginFactory>& plugins() {
    static std::map<uint32_t, DecoderPluginFactory> p;
    return p;
}

DecoderPluginFactory pluginFor(uint32_t handler) {
    std::lock_guard lock(pluginLock());
    auto it = plugins().find(handler);
    return it == plugins().end() ? DecoderPluginFactory{} : it->second;
}

}  // namespace

void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::getenv("FARSIGHT_DEBUG")) av_log_set_level(AV_LOG_QUIET);
    });
}

namespace {

AVCodecID codecFor(uint32_t handler) {
    const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(tables, handler);
}

}  // namespace

bool isStandardHandler(uint32_t handler) {
    static constexpr uint32_t standard[] = {fourcc("dmb1"), fourcc("IV50"), fourcc("Iv50"),
                                            fourcc("iv50"), fourcc("MPG4"), fourcc("Mpg4"),
                                            fourcc("mpg4")};
    return std::find(std::begin(standard), std::end(standard), handler) != std::end(standard);
}

std::array<uint8_t, 112> ownHandlerParameterBlock() {
    std::array<uint8_t, 112> block{};
    auto put = [&](size_t at, uint32_t v) { platform::putU32(block.data() + at, v); };
    put(0, 2000);
    put(4, 10);
    put(8, 20);
    put(12, 128);
    put(16, 5);
    put(20, 520);
    put(24, 5);
    put(36, 1);
    put(64, 12);
    put(68, 1);
    put(72, 900000);
    put(76, 3);
    put(80, 5);
    put(84, 0x3E4CCCCD);  // 0.2f
    put(88, 1000000000);
    put(92, 30);
    put(104, 1);
    put(108, 1);
    return block;
}

std::string credentialText(const std::string& id, const std::string& password) {
    return format("%s:%s", id.c_str(), password.c_str());
}

void installDecoderPlugin(uint32_t handler, DecoderPluginFactory factory) {
    std::lock_guard lock(pluginLock());
    if (factory)
        plugins()[handler] = std::move(factory);
    else
        plugins().erase(handler);
}

struct VideoDecoder::Ffmpeg {
    const AVCodec* codec = nullptr;
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* sws = nullptr;
    std::vector<uint8_t> padded;
    // Planar output: the decoder's own picture when it is already 4:2:0 at the output size,
    // else `converted`; `shown` points at the one that holds the latest picture.
    AVFrame* kept = nullptr;
    AVFrame* converted = nullptr;
    const AVFrame* shown = nullptr;
    // Picture output: the latest picture, by reference.
    std::shared_ptr<const DecodedPicture> latest;

    ~Ffmpeg() { close(); }
    void close() {
        latest.reset();
        sws_freeContext(sws);
        sws = nullptr;
        av_frame_free(&kept);
        av_frame_free(&converted);
        shown = nullptr;
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&ctx);
    }
};

VideoDecoder::VideoDecoder() { quietFfmpegLog(); }
VideoDecoder::~VideoDecoder() { end(); }

bool VideoDecoder::open(uint32_t handler, int /*mode*/, uint32_t type) {
    end();
    handler_ = handler;
    type_ = type;
    if (!isStandardHandler(handler)) {
        if (auto factory = pluginFor(handler)) {
            plugin_ = factory();
            if (!plugin_) return false;
            auto block = ownHandlerParameterBlock();
            plugin_->message(kParameterMessage, block);  // its result is not looked at
            opened_ = true;
            return true;
        }
    }
    AVCodecID id = codecFor(handler);
    if (id == AV_CODEC_ID_NONE) return false;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return false;
    ff_ = std::make_unique<Ffmpeg>();
    ff_->codec = codec;
    opened_ = true;
    return true;
}

bool VideoDecoder::isOpen() const { return opened_; }

bool VideoDecoder::begin(const BitmapInfoHeader& input, const BitmapInfoHeader& output,
                         const std::string& id, const std::string& password,
                         std::span<const uint8_t> extradata) {
    std::string credential = credentialText(id, password);
    bool ok = beginWithCredential(input, output, credential, extradata);
    std::fill(credential.begin(), credential.end(), '\0');
    return ok;
}

bool VideoDecoder::beginWithCredential(const BitmapInfoHeader& input,
                                       const BitmapInfoHeader& output,
                                       const std::string& credential,
                                       std::span<const uint8_t> extradata) {
    formats_ = false;
    if (!opened_ && !open(fourcc("iv50"))) return false;
    if (input.width <= 0 || input.height == 0 || input.width > 16384 ||
        std::abs(input.height) > 16384)
        return false;
    input_ = input;
    output_ = output;
    if (output_.width <= 0 || output_.height == 0) {
        output_ = BitmapInfoHeader::rgb24(input.width, std::abs(input.height));
    } else {
        // The picture always comes out bottom-up, 24-bit BI_RGB.
        if (output_.width > 16384 || std::abs(output_.height) > 16384) return false;
        output_ = BitmapInfoHeader::rgb24(output_.width, std::abs(output_.height));
    }

    if (plugin_) {
        // The credential text lives only for the duration of the call.
        formats_ = plugin_->begin(input_, output_, credential.c_str());
        return formats_;
    }

    ff_->close();
    AVCodecContext* ctx = avcodec_alloc_context3(ff_->codec);
    if (!ctx) return false;
    ff_->ctx = ctx;
    ctx->width = input.width;
    ctx->height = std::abs(input.height);
    ctx->coded_width = ctx->width;
    ctx->coded_height = ctx->height;
    ctx->codec_tag = handler_;
    ctx->bits_per_coded_sample = input.bitCount;
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (!extradata.empty() && extradata.size() < (1u << 20)) {
        ctx->extradata =
            static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!ctx->extradata) return false;
        std::memcpy(ctx->extradata, extradata.data(), extradata.size());
        ctx->extradata_size = static_cast<int>(extradata.size());
    }
    if (avcodec_open2(ctx, ff_->codec, nullptr) < 0) {
        ff_->close();
        return false;
    }
    ff_->packet = av_packet_alloc();
    ff_->frame = av_frame_alloc();
    if (!ff_->packet || !ff_->frame) {
        ff_->close();
        return false;
    }
    formats_ = true;
    return true;
}

namespace {

// Keeps the decoded picture `fr` as 4:2:0 planes at `out`'s size: by reference when it already
// is one, else converted.
bool keepPlanarPicture(AVFrame*& kept, AVFrame*& converted, SwsContext*& sws, const AVFrame*& shown,
                       AVFrame* fr, const BitmapInfoHeader& out) {
    if (fr->format == AV_PIX_FMT_YUV420P && fr->width == out.width && fr->height == out.height) {
        if (!kept && !(kept = av_frame_alloc())) return false;
        av_frame_unref(kept);
        av_frame_move_ref(kept, fr);
        shown = kept;
        return true;
    }
    if (!converted || converted->width != out.width || converted->height != out.height) {
        av_frame_free(&converted);
        converted = av_frame_alloc();
        if (!converted) return false;
        converted->format = AV_PIX_FMT_YUV420P;
        converted->width = out.width;
        converted->height = out.height;
        if (av_frame_get_buffer(converted, 0) < 0) {
            av_frame_free(&converted);
            return false;
        }
    }
    sws = sws_getCachedContext(sws, fr->width, fr->height, static_cast<AVPixelFormat>(fr->format),
                               out.width, out.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                               nullptr, nullptr);
    if (!sws) {
        av_frame_unref(fr);
        return false;
    }
    sws_scale(sws, fr->data, fr->linesize, 0, fr->height, converted->data, converted->linesize);
    av_frame_unref(fr);
    shown = converted;
    return true;
}

}  // namespace

bool VideoDecoder::setPlanarOutput(bool on) {
    planar_ = on && !plugin_;
    if (planar_) pictures_ = false;
    if (ff_) {
        ff_->latest.reset();
        av_frame_free(&ff_->kept);
        av_frame_free(&ff_->converted);
        ff_->shown = nullptr;
        sws_freeContext(ff_->sws);
        ff_->sws = nullptr;
    }
    return planar_ == on;
}

bool VideoDecoder::setPictureOutput(bool on) {
    if (on && !plugin_ && planar_) setPlanarOutput(false);
    pictures_ = on && !plugin_;
    if (ff_) ff_->latest.reset();
    return pictures_ == on;
}

std::shared_ptr<const DecodedPicture> VideoDecoder::latestPicture() const {
    if (!pictures_ || !ff_) return nullptr;
    return ff_->latest;
}

std::optional<PlanarPicture> VideoDecoder::planarPicture() const {
    if (!planar_ || !ff_ || !ff_->shown) return std::nullopt;
    const AVFrame* f = ff_->shown;
    return PlanarPicture{{f->data[0], f->data[1], f->data[2]},
                         {f->linesize[0], f->linesize[1], f->linesize[2]},
                         f->width,
                         f->height};
}

bool VideoDecoder::decompress(std::span<const uint8_t> data, uint8_t* bits, uint32_t flags) {
    if (!formats_ || (!bits && !planar_ && !pictures_)) return false;
    input_.sizeImage = static_cast<uint32_t>(data.size());
    if (plugin_) return plugin_->decompress(input_, data, flags, output_, bits);
    if (data.empty()) return true;  // a dropped position: the picture stays as it was

    Ffmpeg& f = *ff_;
    f.padded.assign(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(f.padded.data(), data.data(), data.size());
    av_packet_unref(f.packet);
    f.packet->data = f.padded.data();
    f.packet->size = static_cast<int>(data.size());
    if (!(flags & kDecompressNotKeyFrame)) f.packet->flags |= AV_PKT_FLAG_KEY;
    int rc = avcodec_send_packet(f.ctx, f.packet);
    f.packet->data = nullptr;
    f.packet->size = 0;
    if (rc < 0 && rc != AVERROR(EAGAIN)) return false;

    bool gotPicture = false;
    for (;;) {
        rc = avcodec_receive_frame(f.ctx, f.frame);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
        if (rc < 0) return false;
        AVFrame* fr = f.frame;
        if (fr->width <= 0 || fr->height <= 0) {
            av_frame_unref(fr);
            return false;
        }
        if (planar_) {
            if (!keepPlanarPicture(f.kept, f.converted, f.sws, f.shown, fr, output_)) return false;
            gotPicture = true;
            continue;
        }
        if (pictures_) {
            // Kept as it is; shown at the output size (a field-only picture at twice its
            // height) by whoever converts it.
            auto picture = DecodedPicture::take(fr, output_.width, output_.height);
            av_frame_unref(fr);
            if (!picture) return false;
            f.latest = std::move(picture);
            gotPicture = true;
            continue;
        }
        f.sws = sws_getCachedContext(
            f.sws, fr->width, fr->height, static_cast<AVPixelFormat>(fr->format), output_.width,
            output_.height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!f.sws) {
            av_frame_unref(fr);
            return false;
        }
        // Bottom-up rows: start at the last row and walk backwards.
        const int stride = static_cast<int>(rgb24Stride(output_.width));
        uint8_t* dst[4] = {bits + static_cast<size_t>(stride) * (output_.height - 1), nullptr,
                           nullptr, nullptr};
        int dstStride[4] = {-stride, 0, 0, 0};
        sws_scale(f.sws, fr->data, fr->linesize, 0, fr->height, dst, dstStride);
        av_frame_unref(fr);
        gotPicture = true;
    }
    (void)gotPicture;  // a decoder that holds a frame back keeps the last picture for now
    return true;
}

void VideoDecoder::flush() {
    if (ff_ && ff_->ctx) avcodec_flush_buffers(ff_->ctx);
}

void VideoDecoder::end() {
    if (plugin_) {
        if (formats_) plugin_->end();
        plugin_.reset();
    }
    ff_.reset();
    formats_ = false;
    opened_ = false;
}

namespace {

// libavformat keeps the layout of its tag table entries private; it has been a codec id and
// a 32-bit tag, ending with AV_CODEC_ID_NONE, since the table exists. The first entry is
// checked against the public look-up before the table is walked.
struct RiffTagEntry {
    AVCodecID id;
    unsigned int tag;
};

}  // namespace

std::vector<uint32_t> decodableHandlers() {
    std::vector<uint32_t> out;
    const AVCodecTag* table = avformat_get_riff_video_tags();
    const auto* entries = reinterpret_cast<const RiffTagEntry*>(table);
    const AVCodecTag* tables[] = {table, nullptr};
    if (entries && entries[0].id != AV_CODEC_ID_NONE &&
        av_codec_get_id(tables, entries[0].tag) == entries[0].id) {
        for (const RiffTagEntry* t = entries; t->id != AV_CODEC_ID_NONE; ++t)
            if (avcodec_find_decoder(t->id)) out.push_back(t->tag);
    }
    {
        std::lock_guard lock(pluginLock());
        for (auto& [code, factory] : plugins()) out.push_back(code);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

bool canDecode(uint32_t handler) {
    if (!isStandardHandler(handler) && pluginFor(handler)) return true;
    AVCodecID id = codecFor(handler);
    return id != AV_CODEC_ID_NONE && avcodec_find_decoder(id) != nullptr;
}

std::optional<bool> isKeyFrameData(uint32_t handler, std::span<const uint8_t> data) {
    if (data.empty()) return std::nullopt;
    switch (codecFor(handler)) {
        case AV_CODEC_ID_MJPEG:
            return true;
        case AV_CODEC_ID_MSMPEG4V2:
        case AV_CODEC_ID_MSMPEG4V3:
            // The picture type is the first two bits: 0 is an intra picture.
            return (data[0] >> 6) == 0;
        case AV_CODEC_ID_MSMPEG4V1:
            // A start code 00 00 01 00, five bits of frame number, then the picture type.
            if (data.size() < 5 || data[0] || data[1] || data[2] != 1 || data[3]) break;
            return ((data[4] >> 1) & 3) == 0;
        case AV_CODEC_ID_MPEG4:
            // The picture type follows the first picture start code 00 00 01 B6.
            for (size_t i = 0; i + 4 < data.size(); ++i)
                if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6)
                    return (data[i + 4] >> 6) == 0;
            break;
        default:
            break;
    }
    return std::nullopt;
}

std::vector<uint32_t> missingStartupDecoders() {
    std::vector<uint32_t> missing;
    for (uint32_t h : kStartupHandlers)
        if (!canDecode(h)) missing.push_back(h);
    return missing;
}

}  // namespace fsv::media
