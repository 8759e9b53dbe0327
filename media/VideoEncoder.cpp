#include "media/VideoEncoder.h"

#include <algorithm>

#include "media/AviTypes.h"
#include "media/FfmpegLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace fsv::media {

uint32_t codecFourcc(VideoCodec codec) {
    switch (codec) {
        case VideoCodec::Mjpeg:
            return fourcc("MJPG");
        case VideoCodec::MsMpeg4v2:
            return fourcc("MP42");
        case VideoCodec::Mpeg4:
            return fourcc("FMP4");
    }
    return 0;
}

struct VideoEncoder::Impl {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    int64_t pts = 0;
    ~Impl() {
        sws_freeContext(sws);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
};

VideoEncoder::VideoEncoder() { quietFfmpegLog(); }
VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::open(VideoCodec codec, int width, int height, int framesPerSecond, int gop,
                        int qscale) {
    d_.reset();
    if (width <= 0 || height <= 0 || width % 2 || height % 2 || framesPerSecond <= 0) return false;
    AVCodecID id = codec == VideoCodec::Mjpeg       ? AV_CODEC_ID_MJPEG
                   : codec == VideoCodec::MsMpeg4v2 ? AV_CODEC_ID_MSMPEG4V2
                                                    : AV_CODEC_ID_MPEG4;
    const AVCodec* enc = avcodec_find_encoder(id);
    if (!enc) return false;
    auto d = std::make_unique<Impl>();
    d->ctx = avcodec_alloc_context3(enc);
    if (!d->ctx) return false;
    AVCodecContext* c = d->ctx;
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, framesPerSecond};
    c->framerate = AVRational{framesPerSecond, 1};
    c->pix_fmt = codec == VideoCodec::Mjpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    c->gop_size = codec == VideoCodec::Mjpeg ? 1 : std::max(gop, 1);
    c->max_b_frames = 0;
    c->thread_count = 1;
    c->codec_tag = codecFourcc(codec);
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * qscale;
    c->color_range = codec == VideoCodec::Mjpeg ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    if (avcodec_open2(c, enc, nullptr) < 0) return false;
    d->frame = av_frame_alloc();
    d->packet = av_packet_alloc();
    if (!d->frame || !d->packet) return false;
    d->frame->format = c->pix_fmt;
    d->frame->width = width;
    d->frame->height = height;
    if (av_frame_get_buffer(d->frame, 0) < 0) return false;
    d_ = std::move(d);
    return true;
}

int VideoEncoder::width() const { return d_ ? d_->ctx->width : 0; }
int VideoEncoder::height() const { return d_ ? d_->ctx->height : 0; }

VideoEncoder::Planes VideoEncoder::picture() {
    Planes p{};
    if (!d_ || av_frame_make_writable(d_->frame) < 0) return p;
    for (int i = 0; i < 3; ++i) {
        p.data[i] = d_->frame->data[i];
        p.stride[i] = d_->frame->linesize[i];
    }
    return p;
}

namespace {
void keepBuffer(void*, uint8_t*) {}  // the caller owns the planes
}  // namespace

bool VideoEncoder::encodePlanes(const Planes& planes, std::vector<uint8_t>& out, bool& key) {
    if (!d_ || !planes.data[0] || !planes.data[1] || !planes.data[2]) return false;
    AVFrame* f = av_frame_alloc();
    if (!f) return false;
    f->format = d_->ctx->pix_fmt;
    f->width = d_->ctx->width;
    f->height = d_->ctx->height;
    bool ok = true;
    for (int k = 0; k < 3 && ok; ++k) {
        const int rows = k ? (f->height + 1) / 2 : f->height;
        f->data[k] = planes.data[k];
        f->linesize[k] = planes.stride[k];
        // Counted references, so that the encoder takes the planes as they are.
        f->buf[k] = av_buffer_create(planes.data[k], static_cast<size_t>(planes.stride[k]) * rows,
                                     keepBuffer, nullptr, AV_BUFFER_FLAG_READONLY);
        ok = f->buf[k] != nullptr;
    }
    ok = ok && send(f, out, key);
    av_frame_free(&f);
    return ok;
}

bool VideoEncoder::encode(std::vector<uint8_t>& out, bool& key) {
    if (!d_) return false;
    return send(d_->frame, out, key);
}

bool VideoEncoder::send(AVFrame* frame, std::vector<uint8_t>& out, bool& key) {
    frame->pts = d_->pts++;
    if (avcodec_send_frame(d_->ctx, frame) < 0) return false;
    out.clear();
    key = false;
    bool got = false;
    for (;;) {
        int rc = avcodec_receive_packet(d_->ctx, d_->packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
        if (rc < 0) return false;
        out.insert(out.end(), d_->packet->data, d_->packet->data + d_->packet->size);
        key = key || (d_->packet->flags & AV_PKT_FLAG_KEY);
        got = true;
        av_packet_unref(d_->packet);
    }
    return got;
}

bool VideoEncoder::encodeBgr24(const uint8_t* bits, std::vector<uint8_t>& out, bool& key) {
    if (!d_ || !bits) return false;
    // Bottom-up rows: begin at the last row and walk backwards.
    const int stride = static_cast<int>(rgb24Stride(d_->ctx->width));
    return encodeBgr24Rows(bits + static_cast<size_t>(stride) * (d_->ctx->height - 1), -stride, out,
                           key);
}

bool VideoEncoder::encodeBgr24Rows(const uint8_t* topRow, int stride, std::vector<uint8_t>& out,
                                   bool& key) {
    if (!d_ || !topRow) return false;
    const int w = d_->ctx->width, h = d_->ctx->height;
    d_->sws = sws_getCachedContext(d_->sws, w, h, AV_PIX_FMT_BGR24, w, h, d_->ctx->pix_fmt,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!d_->sws || av_frame_make_writable(d_->frame) < 0) return false;
    const uint8_t* src[4] = {topRow, nullptr, nullptr, nullptr};
    int srcStride[4] = {stride, 0, 0, 0};
    sws_scale(d_->sws, src, srcStride, 0, h, d_->frame->data, d_->frame->linesize);
    return encode(out, key);
}

}  // namespace fsv::media
