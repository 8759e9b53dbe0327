#include <mutex>

#include "media/StreamFile.h"
#include "recordings/download/PlayFile.h"

namespace fsv::download {

namespace {

class MediaPlayFile : public PlayFile {
  public:
    uint32_t setAside(const std::string& path, bool append, uint32_t firstFrame) override {
        const int first = firstFrame > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(firstFrame);
        const int from = file_.setAside(path, append, first);
        return from < 0 ? 0 : static_cast<uint32_t>(from);
    }
    int prepare(std::span<const uint8_t> header, uint32_t firstFrame, uint32_t lastFrame,
                const std::string& id, const std::string& password) override {
        // The writer looks at the range only to tell a part of a recording from a whole one.
        const int last = lastFrame > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(lastFrame);
        const int first = firstFrame > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(firstFrame);
        return file_.prepare(header, first, last, id, password);
    }
    int writeFrame(std::span<const uint8_t> record) override { return file_.writeFrame(record); }
    int decodeFrame(std::span<const uint8_t> record) override { return file_.decodeFrame(record); }
    void finish() override { file_.finish(); }
    std::string failureText(const std::string& caption) const override {
        return file_.failureText(caption);
    }
    bool picture(int* width, int* height, std::vector<uint8_t>* bits) override {
        std::lock_guard lock(file_.bitmapLock());
        const auto& f = file_.pictureFormat();
        if (file_.pictureBits().empty()) return false;
        *width = f.width;
        *height = f.height;
        *bits = file_.pictureBits();
        return true;
    }

  private:
    media::StreamFile file_;
};

class MediaPlayDecoder : public PlayDecoder {
  public:
    ~MediaPlayDecoder() override { decoder_.end(); }
    bool prepare(std::span<const uint8_t> header, const std::string& id,
                 const std::string& password) override {
        auto h = media::RecordingHeader::parse(header);
        if (!h) return false;
        media::RecordingHeader changed = *h;
        changed.applyFieldOnlyChange();
        picture_ = changed.decodedFormat();
        if (picture_.width <= 0 || picture_.height <= 0 || picture_.width > 16384 ||
            picture_.height > 16384)
            return false;
        std::lock_guard lock(lock_);
        bits_.assign(picture_.sizeImage, 0);
        media::BitmapInfoHeader input = picture_;
        input.compression = h->video.fccHandler;
        return decoder_.open(h->video.fccHandler, media::kFastDecompress,
                             media::kHandlerTypeVideo) &&
               decoder_.begin(input, picture_, id, password);
    }
    bool decode(std::span<const uint8_t> data, bool keyFrame) override {
        std::lock_guard lock(lock_);
        const uint32_t flags =
            media::kDecompressHurryUp | (keyFrame ? 0 : media::kDecompressNotKeyFrame);
        return decoder_.decompress(data, bits_.data(), flags);
    }
    bool picture(int* width, int* height, std::vector<uint8_t>* bits) override {
        std::lock_guard lock(lock_);
        if (bits_.empty()) return false;
        *width = picture_.width;
        *height = picture_.height;
        *bits = bits_;
        return true;
    }

  private:
    std::mutex lock_;
    media::VideoDecoder decoder_;
    media::BitmapInfoHeader picture_{};
    std::vector<uint8_t> bits_;
};

}  // namespace

std::unique_ptr<PlayFile> makePlayFile() { return std::make_unique<MediaPlayFile>(); }
std::unique_ptr<PlayDecoder> makePlayDecoder() { return std::make_unique<MediaPlayDecoder>(); }

}  // namespace fsv::download
