#pragma once
// AviReader: reads the AVI files of this system (and any AVI 1.0 or OpenDML file) with our own
// RIFF parser. A recording has one "vids" stream and normally one "txts" stream whose sample i
// is the time stamp of video frame i. Other streams are held but not used. At most 10 streams
// are kept; when a file has more than one stream of a kind, the last one wins.
//
// Samples are found through the OpenDML indexes ("indx" / "ix##", reaching into "AVIX" parts
// beyond 1 GB) when a stream has them, else through "idx1", else by walking the "movi" lists
// of a file that was cut before its index (key frames are then judged from the video data
// where the codec allows; otherwise only the first video sample counts as one). Damaged files never
// make the reader look past their end: chunk sizes that run past the file are cut to it, index
// entries that point outside it give samples that fail to read, and text samples are always
// terminated within the caller's buffer.
//
// One thread uses a reader at a time.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "media/AviTypes.h"
#include "media/VideoDecoder.h"

namespace fsv::media {

class VideoDecoder;

// Results of checkAviIndex.
inline constexpr uint8_t kIndexNotAvi = 0;
inline constexpr uint8_t kIndexComplete = 10;
inline constexpr uint8_t kIndexMissing = 11;

// A decoded picture is allocated from the size the file's header claims. A real recording
// compresses its pictures by far less than this many pixels per byte of file, so a header whose
// picture exceeds it (beyond a size any recorder uses) is not believed.
inline constexpr uint64_t kPixelsPerFileByte = 1024;
inline constexpr uint64_t kAlwaysPlausiblePixels = 4096ull * 2160ull;
bool plausiblePictureSize(int width, int height, uint64_t fileSize);

class AviReader {
  public:
    static constexpr int kMaxStreams = 10;

    AviReader();
    ~AviReader();
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    // Opens `path` and returns the frame count; 0 means the file cannot be used (not an AVI
    // file, no stream, or no usable video stream). With `decodeFrames`, a decoder is opened for
    // the video stream (a stream whose decoder cannot be opened is skipped); own handlers are
    // asked for 24-bit pictures at the stream's frame size, a field-only picture (640 wide or
    // more, more than twice as wide as high) at twice its height, and receive `credential`
    // ("?:" when null). Only regular files are opened (a FIFO is refused at once, never waited
    // on), and a stream whose claimed picture size fails plausiblePictureSize() is not decoded.
    // Re-opening releases the earlier file first.
    int open(const std::filesystem::path& path, bool decodeFrames = false,
             const char* credential = nullptr);
    void closeStreams();

    int frameCount() const { return frameCount_; }
    int streamCount() const { return static_cast<int>(streams_.size()); }
    int videoIndex() const { return videoIndex_; }  // -1: none
    int textIndex() const { return textIndex_; }    // -1: none
    // Stream information (140-byte record) and raw format block ("strf") of a slot.
    const AviStreamInfo& streamInfo(int slot) const;
    std::span<const uint8_t> streamFormat(int slot) const;
    int sampleCount(int slot) const;
    // The video stream's format as a bitmap header (nullopt without a video stream).
    std::optional<BitmapInfoHeader> videoFormat() const;

    // The decoded frame as a packed bitmap (40-byte header followed by the bottom-up 24-bit
    // bits), owned by the reader and valid until the next call; null when it cannot be decoded
    // or frames were not to be decoded.
    const uint8_t* getFrame(int index);
    // Planar frames: getPlanarFrame() hands out the decoded picture as 4:2:0 planes (for
    // re-encoding without a trip through RGB) and getFrame() returns null. False when the
    // decoder cannot (a plug-in); then nothing changes.
    bool setPlanarFrames(bool on);
    std::optional<PlanarPicture> getPlanarFrame(int index);
    // Picture frames: getPicture() hands out the decoded picture by reference, to be converted
    // once into whatever shows it, and getFrame() returns null. With a decoder that gives only
    // 24-bit pictures (a plug-in) getPicture() hands out a copy of those and getFrame() still
    // works. False when no decoder is open.
    bool setPictureFrames(bool on);
    std::shared_ptr<const DecodedPicture> getPicture(int index);
    // The header of the decoded picture (what getFrame() puts before the bits): the size
    // pictures are shown at. nullopt without a decoder.
    std::optional<BitmapInfoHeader> decodedFormat() const;

    // One raw (compressed) video sample. With a null buffer only the size is stored. False when
    // the sample does not exist, cannot be read, or does not fit.
    bool readVideoSample(int index, void* buffer, size_t bufferSize, size_t* bytesRead);
    std::optional<std::vector<uint8_t>> videoSample(int index);
    // Size of a video sample without reading it (nullopt when it does not exist).
    std::optional<uint32_t> videoSampleSize(int index) const;

    // True when the nearest key frame at or before `index` is `index` itself.
    bool isKeyFrame(int index) const;
    // The nearest key frame at or before `index`, -1 when there is none.
    int keyFrameAtOrBefore(int index) const;
    // The key frame strictly before `index`, -1 when there is none.
    int previousKeyFrame(int index) const;

    // One text sample into `buffer`, always terminated within `bufferSize` (a longer sample is
    // cut). False without a text stream or when the sample cannot be read.
    bool readTextSample(int index, char* buffer, size_t bufferSize);
    // The frame's time stamp (at most 256 bytes of its text sample are read). False when the
    // sample cannot be read or is not a time stamp; the fields not in the text stay as given.
    bool readTimeStamp(int index, SystemTime& time);

    // Whether a (partly downloaded) file already ends in a complete index: kIndexNotAvi when
    // the file cannot be opened or is not a RIFF "AVI " file; kIndexComplete when it holds an
    // "idx1" chunk that ends within `knownSize` (and within the file on disk); kIndexMissing
    // otherwise.
    static uint8_t checkAviIndex(const std::filesystem::path& path, uint32_t knownSize);

  private:
    struct Sample {
        uint64_t offset = 0;  // of the data
        uint32_t size = 0;
        bool key = false;
        bool valid = true;  // false: the index points outside the file
    };
    struct Stream {
        AviStreamInfo info;
        std::vector<uint8_t> format;
        std::vector<Sample> samples;
        std::vector<int> keys;             // sorted sample numbers of key frames
        std::vector<uint64_t> superIndex;  // offsets of "ix##" chunks
    };
    class File;
    struct Layout;

    // Reading a file's structure, step by step (parse() runs them in order).
    bool parse();
    bool readTopLevel(Layout& layout);
    void addLaterParts(std::vector<std::pair<uint64_t, uint64_t>>& movis);
    void readHeaderList(const std::vector<uint8_t>& hdrl);
    Stream readStreamList(const std::vector<uint8_t>& hdrl, uint64_t begin, uint64_t end);
    void addSample(int stream, uint64_t offset, uint32_t size, bool key);
    bool readSuperIndexes();
    bool readChunkIndex(int stream, std::span<const uint8_t> body);
    void readIdx1(const Layout& layout);
    void walkMovi(const std::vector<std::pair<uint64_t, uint64_t>>& movis);
    void judgeKeyFrames();
    bool readSample(const Stream& s, int index, uint8_t* out, size_t size);
    bool openDecoder(Stream& s, const char* credential);
    bool decodeUpTo(int index);

    std::unique_ptr<File> file_;
    uint64_t riffEnd_ = 0;  // end of the first RIFF part, cut to the file
    std::vector<Stream> streams_;
    int frameCount_ = 0;
    int videoIndex_ = -1;
    int textIndex_ = -1;
    std::unique_ptr<VideoDecoder> decoder_;
    std::vector<uint8_t> frame_;  // header + bits
    std::vector<uint8_t> sampleBuffer_;
    int lastDecoded_ = -1;
};

}  // namespace fsv::media
