#include "media/RecordingAviWriter.h"

#include <algorithm>
#include <cstring>

namespace fsv::media {

std::optional<RecordingHeader> RecordingHeader::parse(std::span<const uint8_t> bytes) {
    if (bytes.size() < kSize) return std::nullopt;
    auto v = AviStreamInfo::parse(bytes.subspan(0, AviStreamInfo::kSize));
    auto t = AviStreamInfo::parse(bytes.subspan(AviStreamInfo::kSize, AviStreamInfo::kSize));
    if (!v || !t) return std::nullopt;
    RecordingHeader h;
    h.video = *v;
    h.text = *t;
    return h;
}

std::array<uint8_t, RecordingHeader::kSize> RecordingHeader::serialize() const {
    std::array<uint8_t, kSize> out{};
    auto v = video.serialize(), t = text.serialize();
    std::copy(v.begin(), v.end(), out.begin());
    std::copy(t.begin(), t.end(), out.begin() + AviStreamInfo::kSize);
    return out;
}

bool RecordingHeader::isFieldOnly() const {
    const int w = video.width(), h = video.height();
    return w >= 640 && h > 0 && static_cast<double>(w) / h > 2.0 && video.name.ends_with("_FSV");
}

void RecordingHeader::applyFieldOnlyChange() {
    if (!isFieldOnly()) return;
    video.frameBottom *= 2;
    for (size_t at; (at = video.name.find("_FSV")) != std::string::npos;) video.name.erase(at, 4);
    fieldOnlyChanged = true;
}

BitmapInfoHeader RecordingHeader::decodedFormat() const {
    int h = video.height();
    if (fieldOnlyChanged) h /= 2;
    return BitmapInfoHeader::rgb24(video.width(), h);
}

std::optional<FrameRecord> FrameRecord::parse(std::span<const uint8_t> record) {
    if (record.size() < 4) return std::nullopt;
    FrameRecord f;
    f.key = (record[0] | record[1] | record[2] | record[3]) != 0;
    auto rest = record.subspan(4);
    const void* nul = std::memchr(rest.data(), 0, rest.size());
    if (!nul) return std::nullopt;  // a text that is not terminated inside the record
    size_t n = static_cast<const uint8_t*>(nul) - rest.data();
    f.text = std::string_view(reinterpret_cast<const char*>(rest.data()), n);
    f.data = rest.subspan(n + 1);
    return f;
}

bool RecordingAviWriter::open(const std::filesystem::path& path, const RecordingHeader& header,
                              Options options) {
    header_ = header;
    if (options.fieldOnlyChange) header_.applyFieldOnlyChange();
    if (header_.video.width() <= 0 || header_.video.height() <= 0) return false;
    if (options.partial)
        header_.text.suggestedBufferSize = std::max<uint32_t>(header_.text.suggestedBufferSize, 29);
    AviStreamInfo video = header_.video;
    AviStreamInfo text = header_.text;
    video.fccType = kStreamVideo;
    text.fccType = kStreamText;
    video.length = text.length = 0;

    BitmapInfoHeader format = header_.decodedFormat();
    format.compression = header_.video.fccHandler;
    auto f = format.serialize();
    std::vector<AviWriter::StreamSetup> streams(2);
    streams[0].info = video;
    streams[0].format.assign(f.begin(), f.end());
    streams[1].info = text;
    streams[1].format = {4, 0, 0, 0};
    return writer_.open(path, std::move(streams));
}

bool RecordingAviWriter::addFrame(std::span<const uint8_t> data, bool key,
                                  std::string_view timeText) {
    std::vector<uint8_t> text(timeText.begin(), timeText.end());
    text.push_back(0);
    return writer_.append(0, data, key) && writer_.append(1, text, true);
}

bool RecordingAviWriter::close() { return writer_.close(); }

}  // namespace fsv::media
