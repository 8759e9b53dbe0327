#include "media/StampedAviWriter.h"

#include <ctime>

namespace fsv::media {

VideoCodec StampedAviWriter::codecFor(uint32_t inputCompression) {
    return inputCompression == fourcc("IV50") || inputCompression == fourcc("iv50")
               ? VideoCodec::Mpeg4
               : VideoCodec::MsMpeg4v2;
}

bool StampedAviWriter::open(const std::filesystem::path& path, int framesPerSecond,
                            const BitmapInfoHeader& frame, uint32_t inputCompression) {
    writer_.abandon();
    position_ = 0;
    frame_ = frame;
    const int w = frame.width, h = std::abs(frame.height);
    const VideoCodec codec = codecFor(inputCompression);
    const int gop = codec == VideoCodec::Mpeg4 ? 200 : 12;
    if (!encoder_.open(codec, w, h, framesPerSecond, gop, 3)) return false;

    AviStreamInfo text;
    text.fccType = kStreamText;
    text.fccHandler = fourcc("TSTP");
    text.scale = 1;
    text.rate = static_cast<uint32_t>(framesPerSecond);
    text.suggestedBufferSize = 256;
    AviStreamInfo video;
    video.fccType = kStreamVideo;
    video.fccHandler = codecFourcc(codec);
    video.scale = 1;
    video.rate = static_cast<uint32_t>(framesPerSecond);
    video.suggestedBufferSize = frame.sizeImage;
    video.quality = 0xFFFFFFFF;
    video.frameRight = w;
    video.frameBottom = h;
    BitmapInfoHeader format = BitmapInfoHeader::rgb24(w, h);
    format.compression = video.fccHandler;
    auto f = format.serialize();

    std::vector<AviWriter::StreamSetup> streams(2);
    streams[0].info = text;
    streams[0].format = {4, 0, 0, 0};
    streams[1].info = video;
    streams[1].format.assign(f.begin(), f.end());

    // The local time of the export.
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    SystemTime t;
    t.year = static_cast<uint16_t>(tm.tm_year + 1900);
    t.month = static_cast<uint16_t>(tm.tm_mon + 1);
    t.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    t.day = static_cast<uint16_t>(tm.tm_mday);
    t.hour = static_cast<uint16_t>(tm.tm_hour);
    t.minute = static_cast<uint16_t>(tm.tm_min);
    t.second = static_cast<uint16_t>(tm.tm_sec);
    AviWriter::ExtraChunk dt{fourcc("DT  "), std::vector<uint8_t>(SystemTime::kSize)};
    t.write(dt.data.data());
    return writer_.open(path, std::move(streams), {std::move(dt)});
}

bool StampedAviWriter::writeFrame(const uint8_t* bits, std::string_view timeText) {
    bool key = false;
    return writer_.isOpen() && encoder_.encodeBgr24(bits, packet_, key) &&
                   writeSamples(key, timeText)
               ? true
               : fail();
}

bool StampedAviWriter::writeFrameRows(const uint8_t* topRow, int stride,
                                      std::string_view timeText) {
    bool key = false;
    return writer_.isOpen() && encoder_.encodeBgr24Rows(topRow, stride, packet_, key) &&
                   writeSamples(key, timeText)
               ? true
               : fail();
}

bool StampedAviWriter::writePicture(std::string_view timeText) {
    bool key = false;
    return writer_.isOpen() && encoder_.encode(packet_, key) && writeSamples(key, timeText)
               ? true
               : fail();
}

bool StampedAviWriter::writePlanes(const VideoEncoder::Planes& planes, std::string_view timeText) {
    bool key = false;
    return writer_.isOpen() && encoder_.encodePlanes(planes, packet_, key) &&
                   writeSamples(key, timeText)
               ? true
               : fail();
}

bool StampedAviWriter::writeSamples(bool key, std::string_view timeText) {
    text_.assign(timeText.begin(), timeText.end());
    text_.push_back(0);
    if (!writer_.write(1, position_, packet_, key) || !writer_.write(0, position_, text_, true))
        return false;
    ++position_;
    return true;
}

bool StampedAviWriter::fail() {
    writer_.abandon();
    position_ = 0;
    return false;
}

void StampedAviWriter::skip() { ++position_; }

bool StampedAviWriter::close() {
    position_ = 0;
    return writer_.isOpen() && writer_.close();
}

}  // namespace fsv::media
