#pragma once
// AviWriter: writes an AVI 1.0 file with our own RIFF code: the header list with one stream
// list per stream, optional extra header chunks, the "movi" list of samples, and the "idx1"
// index written at close (offsets counted from the "movi" type field, AVIIF_KEYFRAME 0x10 on
// key samples). Sample positions that are skipped hold an empty chunk in the index, so later
// samples keep their positions (a gap in time). Sizes are 32-bit: a file that would pass 4 GB
// refuses further samples. Until close, the header's sizes are 0, which readers take as
// "runs to the end of the file".

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "media/AviTypes.h"

namespace fsv::media {

class AviWriter {
  public:
    struct StreamSetup {
        AviStreamInfo info;           // length and buffer size are filled in at close
        std::vector<uint8_t> format;  // the "strf" block
    };
    struct ExtraChunk {
        uint32_t id = 0;
        std::vector<uint8_t> data;
    };

    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates (or replaces) the file and writes its header; false when it cannot.
    bool open(const std::filesystem::path& path, std::vector<StreamSetup> streams,
              std::vector<ExtraChunk> extra = {});
    bool isOpen() const { return file_ != nullptr; }

    // Appends one sample at the stream's next position.
    bool append(int stream, std::span<const uint8_t> data, bool key);
    // Writes a sample at `position`; positions between the stream's end and it stay empty.
    bool write(int stream, int64_t position, std::span<const uint8_t> data, bool key);
    int64_t length(int stream) const;

    // Writes the index and the final sizes and closes the file; false when any write failed.
    bool close();
    // Closes without the index (the file stays as a cut recording).
    void abandon();

  private:
    struct IndexEntry {
        uint32_t ckid, flags, offset, size;
    };
    std::vector<uint8_t> headerBytes() const;
    bool put(const void* data, size_t n);

    std::FILE* file_ = nullptr;
    std::vector<StreamSetup> streams_;
    std::vector<ExtraChunk> extra_;
    std::vector<int64_t> lengths_;
    std::vector<uint32_t> maxSample_;
    std::vector<IndexEntry> index_;
    uint64_t moviType_ = 0;  // offset of the "movi" type field
    uint64_t pos_ = 0;
    bool failed_ = false;
};

}  // namespace fsv::media
