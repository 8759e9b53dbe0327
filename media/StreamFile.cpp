#include "media/StreamFile.h"

#include <system_error>

#include "media/AviReader.h"

namespace fsv::media {

std::filesystem::path setAsidePath(const std::filesystem::path& path) {
    return path.parent_path() / ("~" + path.filename().string());
}

StreamFile::StreamFile() = default;
StreamFile::~StreamFile() { finish(); }

int StreamFile::fail(int code, const char* message) {
    failure_ = message;
    return code;
}

std::string StreamFile::failureText(const std::string& caption) const {
    if (!failure_) return {};
    const std::string detail = failure_ == kWriteFileFail ? path_.string() : caption;
    return format("%s\n%s", failure_, detail.c_str());
}

int StreamFile::setAside(const std::filesystem::path& path, bool append, int firstFrame) {
    std::error_code ec;
    path_ = path;
    append_ = false;
    aside_.clear();
    if (append) {
        aside_ = setAsidePath(path);
        std::filesystem::remove(aside_, ec);
        std::filesystem::rename(path, aside_, ec);
        int count = 0;
        if (!ec) {
            AviReader old;
            count = old.open(aside_, false);
        }
        if (ec || count < 2) {
            std::filesystem::remove(aside_, ec);
            aside_.clear();
        } else {
            append_ = true;
            return count - 1;
        }
    }
    std::filesystem::remove(path, ec);
    return firstFrame;
}

int StreamFile::prepare(std::span<const uint8_t> streamHeader, int firstFrame, int lastFrame,
                        const std::string& id, const std::string& password) {
    auto cleanAside = [&] {
        std::error_code ec;
        if (!aside_.empty()) std::filesystem::remove(aside_, ec);
        aside_.clear();
    };
    failure_ = nullptr;
    auto header = RecordingHeader::parse(streamHeader);
    if (!header) {
        cleanAside();
        return fail(kSetupFailed, kUnexpectedFormat);
    }
    RecordingAviWriter::Options options;
    options.partial = !append_ && (firstFrame != 0 || lastFrame < 8999);
    RecordingHeader changed = *header;
    changed.applyFieldOnlyChange();
    picture_ = changed.decodedFormat();
    if (picture_.width <= 0 || picture_.height <= 0 || picture_.width > 16384 ||
        picture_.height > 16384) {
        cleanAside();
        return fail(kSetupFailed, kUnexpectedFormat);
    }
    {
        std::lock_guard lock(bitmapLock_);
        try {
            bits_.assign(picture_.sizeImage, 0);
        } catch (const std::bad_alloc&) {
            cleanAside();
            return fail(kNoMemory, nullptr);
        }
    }
    if (!writer_.open(path_, *header, options)) {
        cleanAside();
        return fail(kSetupFailed, kWriteFileFail);
    }
    BitmapInfoHeader input = picture_;
    input.compression = header->video.fccHandler;
    input.bitCount = 24;
    if (!decoder_.open(header->video.fccHandler, kFastDecompress, kHandlerTypeVideo) ||
        !decoder_.begin(input, picture_, id, password)) {
        cleanAside();
        return fail(kSetupFailed, kUnexpectedFormat);
    }
    if (append_) return continueOldFile();
    return kStreamOk;
}

int StreamFile::continueOldFile() {
    std::error_code ec;
    AviReader old;
    const int n = old.open(aside_, false);
    int rc = kStreamOk;
    const int p = n - 1;
    if (p < 1) {
        rc = kContinueFailed;
    } else {
        int start = old.isKeyFrame(p) ? p : std::max(old.previousKeyFrame(p), 0);
        std::vector<uint8_t> sample;
        for (int i = 0; i < p && rc == kStreamOk; ++i) {
            auto data = old.videoSample(i);
            char text[30];
            if (!data || !old.readTextSample(i, text, sizeof text)) {
                rc = kContinueFailed;
                break;
            }
            bool key = old.isKeyFrame(i);
            if (!writer_.addFrame(*data, key, text))
                rc = kContinueFailed;
            else if (i >= start && !decode(*data, true))
                rc = kContinueFailed;
        }
    }
    old.closeStreams();
    std::filesystem::remove(aside_, ec);
    aside_.clear();
    if (rc != kStreamOk) {
        writer_.close();
        decoder_.end();
        std::filesystem::remove(path_, ec);
        return fail(rc, kWriteFileFail);
    }
    return kStreamOk;
}

bool StreamFile::decode(std::span<const uint8_t> data, bool key) {
    std::lock_guard lock(bitmapLock_);
    uint32_t flags = kDecompressHurryUp | (key ? 0 : kDecompressNotKeyFrame);
    return decoder_.decompress(data, bits_.data(), flags);
}

int StreamFile::writeFrame(std::span<const uint8_t> record) {
    auto f = FrameRecord::parse(record);
    if (!f) return fail(kFrameDecodeFailed, kUnexpectedFormat);
    return writeFrame(f->key, f->text, f->data);
}

int StreamFile::writeFrame(bool key, std::string_view timeText, std::span<const uint8_t> data) {
    if (!writer_.isOpen() || !writer_.addFrame(data, key, timeText))
        return fail(kFrameWriteFailed, kWriteFileFail);
    frameTimeValid_ = parseTimeStamp(timeText, frameTime_);
    if (!data.empty() && !decode(data, key)) return fail(kFrameDecodeFailed, kUnexpectedFormat);
    return kStreamOk;
}

int StreamFile::decodeFrame(std::span<const uint8_t> record) {
    auto f = FrameRecord::parse(record);
    if (!f) return fail(kFrameDecodeFailed, kUnexpectedFormat);
    frameTimeValid_ = parseTimeStamp(f->text, frameTime_);
    if (!f->data.empty() && !decode(f->data, f->key))
        return fail(kFrameDecodeFailed, kUnexpectedFormat);
    return kStreamOk;
}

void StreamFile::finish() {
    decoder_.end();
    if (writer_.isOpen()) writer_.close();
}

}  // namespace fsv::media
