#pragma once
// Helpers of the Framestamp tests: small recordings with chosen frame times, the sample
// recordings of recorder-sim, and a picture comparison.

#include <QImage>
#include <QRect>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "media/AviReader.h"
#include "media/AviTypes.h"
#include "media/AviWriter.h"
#include "media/VideoEncoder.h"
#include "sim/Generate.h"

namespace fsv::framestamp::test {

// A Motion JPEG recording with one frame per text; an empty text leaves an empty position.
// `handler` names the stream's codec (the bits stay Motion JPEG).
inline bool writeRecording(const std::filesystem::path& file, const std::vector<std::string>& texts,
                           int w = 64, int h = 48, uint32_t handler = media::fourcc("MJPG")) {
    media::VideoEncoder enc;
    if (!enc.open(media::VideoCodec::Mjpeg, w, h, 10, 1)) return false;
    media::AviStreamInfo video;
    video.fccType = media::kStreamVideo;
    video.fccHandler = handler;
    video.scale = 1;
    video.rate = 10;
    video.frameRight = w;
    video.frameBottom = h;
    media::AviStreamInfo text;
    text.fccType = media::kStreamText;
    text.scale = 1;
    text.rate = 10;
    auto format = media::BitmapInfoHeader::rgb24(w, h);
    format.compression = video.fccHandler;
    auto f = format.serialize();
    std::vector<media::AviWriter::StreamSetup> streams(2);
    streams[0].info = video;
    streams[0].format.assign(f.begin(), f.end());
    streams[1].info = text;
    streams[1].format = {4, 0, 0, 0};
    media::AviWriter writer;
    if (!writer.open(file, std::move(streams))) return false;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].empty()) continue;
        auto p = enc.picture();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) p.data[0][y * p.stride[0] + x] = uint8_t(40 + 10 * i);
        for (int k = 1; k < 3; ++k)
            for (int y = 0; y < h / 2; ++y)
                for (int x = 0; x < w / 2; ++x) p.data[k][y * p.stride[k] + x] = 128;
        std::vector<uint8_t> data;
        bool key = false;
        if (!enc.encode(data, key)) return false;
        std::vector<uint8_t> t(texts[i].begin(), texts[i].end());
        t.push_back(0);
        const auto at = static_cast<int64_t>(i);
        if (!writer.write(0, at, data, key) || !writer.write(1, at, t, true)) return false;
    }
    return writer.close();
}

// recorder-sim's sample recordings (one day, one event per camera) below `dir`; returns the
// 704 x 480 MS-MPEG-4 v2 one.
inline std::filesystem::path sampleRecording(const std::filesystem::path& dir,
                                             double seconds = 3.0) {
    sim::GenerateOptions o;
    o.cameras = 2;
    o.days = 1;
    o.eventsPerDay = 1;
    o.audioChannels = 0;
    o.secondsPerEvent = seconds;
    std::string error;
    if (!sim::generateRecordings(dir, o, &error)) return {};
    for (auto& e : std::filesystem::recursive_directory_iterator(dir / "Cam02"))
        if (e.path().extension() == ".avi") return e.path();
    return {};
}

// The decoded frame `index` of a file as a top-down picture (null when it cannot be decoded).
inline QImage decodedFrame(const std::filesystem::path& file, int index) {
    media::AviReader r;
    if (r.open(file, true) <= index) return {};
    const uint8_t* f = r.getFrame(index);
    if (!f) return {};
    auto h = media::BitmapInfoHeader::parse({f, media::BitmapInfoHeader::kSize});
    QImage img(h->width, h->height, QImage::Format_BGR888);
    const size_t stride = media::rgb24Stride(h->width);
    for (int y = 0; y < h->height; ++y)
        std::memcpy(img.scanLine(y),
                    f + media::BitmapInfoHeader::kSize + stride * size_t(h->height - 1 - y),
                    size_t(h->width) * 3);
    return img;
}

// PSNR in dB of two pictures of the same size, inside `area` or (with `outside`) everywhere
// else.
inline double psnr(const QImage& a, const QImage& b, QRect area, bool outside) {
    double sum = 0;
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uint8_t* pa = a.constScanLine(y);
        const uint8_t* pb = b.constScanLine(y);
        for (int x = 0; x < a.width(); ++x) {
            if (area.contains(x, y) == outside) continue;
            for (int c = 0; c < 3; ++c) {
                const double d = double(pa[3 * x + c]) - pb[3 * x + c];
                sum += d * d;
            }
            count += 3;
        }
    }
    if (count == 0) return 0;
    const double mse = sum / double(count);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace fsv::framestamp::test
