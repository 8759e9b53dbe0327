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

}  // namespace

std::unique_ptr<PlayFile> makePlayFile() { return std::make_unique<MediaPlayFile>(); }

}  // namespace fsv::download
