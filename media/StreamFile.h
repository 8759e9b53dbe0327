#pragma once
// StreamFile: the AVI file that a download-and-play stream fills while its frames arrive, with
// the decoder that turns each frame into the picture shown in the channel's panel.
//
//   StreamFile f;
//   int first = f.setAside(path, append, requestedFirst);   // before the open request
//   ... send the open request from `first`, receive the stream header ...
//   int rc = f.prepare(headerBytes, first, last, id, password);   // kStreamOk or a failure
//   for each frame record: rc = f.writeFrame(record);             // kStreamOk or a failure
//   f.finish();
//
// Failure codes (what the stream thread ends with): kSetupFailed 0 ("Write file fail!" or
// "Unexpected file format!"), kNoMemory 3, kFrameWriteFailed 10 ("Write file fail!"),
// kFrameDecodeFailed 11 ("Unexpected file format!"), kContinueFailed 30 ("Write file fail!"),
// kStreamOk 1 (go on / normal end). failureText() gives the message box text.
//
// Continuing a file: setAside() moves the old file to "~<name>" in the same folder. With at
// least 2 frames there, the recorder is asked to start at P = old count - 1; prepare() copies
// frames 0 ... P-1 (video with its key flag, text) into the new file and decodes from the key
// frame at or before P up to P-1, so the decoder is ready for frame P, which the recorder sends
// again. The set-aside file is deleted afterwards in every case; a failed continuation also
// removes the new file, which would not be usable.
//
// The picture bits are shared with drawing and picture saving: they change only under
// bitmapLock().

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "media/RecordingAviWriter.h"
#include "media/VideoDecoder.h"

namespace fsv::media {

inline constexpr int kSetupFailed = 0;
inline constexpr int kStreamOk = 1;
inline constexpr int kNoMemory = 3;
inline constexpr int kFrameWriteFailed = 10;
inline constexpr int kFrameDecodeFailed = 11;
inline constexpr int kContinueFailed = 30;

inline constexpr char kWriteFileFail[] = "Write file fail!";
inline constexpr char kUnexpectedFormat[] = "Unexpected file format!";

// The set-aside name of a file being continued: "~" before its file name part.
std::filesystem::path setAsidePath(const std::filesystem::path& path);

class StreamFile {
  public:
    StreamFile();
    ~StreamFile();

    // Before the open request. With `append`, moves the existing file aside and returns the
    // frame to start from (old count - 1) when it can be continued; otherwise (or without
    // `append`) deletes any file of that name and returns `firstFrame`.
    int setAside(const std::filesystem::path& path, bool append, int firstFrame);
    bool continuing() const { return append_; }

    // After the stream header arrived: creates the file, opens the decoder, and continues the
    // old file when setAside() decided so.
    int prepare(std::span<const uint8_t> streamHeader, int firstFrame, int lastFrame,
                const std::string& id, const std::string& password);

    // One frame record as received, or its parts.
    int writeFrame(std::span<const uint8_t> record);
    int writeFrame(bool key, std::string_view timeText, std::span<const uint8_t> data);
    // A frame the file holds already, received again to be shown (a step back or a seek
    // behind the frames written): decoded into the picture, not written.
    int decodeFrame(std::span<const uint8_t> record);

    // Ends decoding and closes the file.
    void finish();

    // "%s\n%s": the last failure's message, then the output path ("Write file fail!") or the
    // given caption ("Unexpected file format!"). Empty without a failure.
    std::string failureText(const std::string& caption) const;

    std::mutex& bitmapLock() { return bitmapLock_; }
    const BitmapInfoHeader& pictureFormat() const { return picture_; }
    const std::vector<uint8_t>& pictureBits() const { return bits_; }
    // The time of the last frame written (its text parsed as a time stamp), and whether it
    // parsed.
    const SystemTime& frameTime() const { return frameTime_; }
    bool frameTimeValid() const { return frameTimeValid_; }
    const RecordingHeader& header() const { return writer_.header(); }
    int framesWritten() const { return writer_.frames(); }

  private:
    int fail(int code, const char* message);
    int continueOldFile();
    bool decode(std::span<const uint8_t> data, bool key);

    std::filesystem::path path_;
    std::filesystem::path aside_;
    bool append_ = false;
    RecordingAviWriter writer_;
    VideoDecoder decoder_;
    BitmapInfoHeader picture_{};
    std::vector<uint8_t> bits_;
    std::mutex bitmapLock_;
    SystemTime frameTime_{};
    bool frameTimeValid_ = false;
    const char* failure_ = nullptr;
};

}  // namespace fsv::media
