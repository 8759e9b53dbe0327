#pragma once
// The AVI file of a download-and-play stream and the decoder of its pictures, as the stream
// thread drives it. Built over the media layer's stream file when that is part of the build.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Shared.h"

namespace fsv::download {

inline constexpr int kPlayFileOk = 1;

class PlayFile {
  public:
    virtual ~PlayFile() = default;
    // Before the open request: continue `path` (append) or delete it; the frame to ask from.
    virtual uint32_t setAside(const std::string& path, bool append, uint32_t firstFrame) = 0;
    // With the stream header: create the file and the decoder. kPlayFileOk or a failure code.
    virtual int prepare(std::span<const uint8_t> header, uint32_t firstFrame, uint32_t lastFrame,
                        const std::string& id, const std::string& password) = 0;
    virtual int writeFrame(std::span<const uint8_t> record) = 0;
    // A frame the file holds already, received again to be shown: decoded, not written.
    virtual int decodeFrame(std::span<const uint8_t> record) = 0;
    virtual void finish() = 0;
    // "%s\n%s" of the last failure; empty without one.
    virtual std::string failureText(const std::string& caption) const = 0;
    // The picture of the last frame (bottom-up 24-bit), for drawing.
    virtual bool picture(int* width, int* height, std::vector<uint8_t>* bits) = 0;
};

// nullptr when this build has no AVI writer.
std::unique_ptr<PlayFile> makePlayFile();

// The decoder of a play-only stream: the pictures without a file.
class PlayDecoder {
  public:
    virtual ~PlayDecoder() = default;
    // From the stream header (two 140-byte stream records); false: "Unexpected file format!".
    virtual bool prepare(std::span<const uint8_t> header, const std::string& id,
                         const std::string& password) = 0;
    virtual bool decode(std::span<const uint8_t> data, bool keyFrame) = 0;
    virtual bool picture(int* width, int* height, std::vector<uint8_t>* bits) = 0;
};

// nullptr when this build has no decoder.
std::unique_ptr<PlayDecoder> makePlayDecoder();

}  // namespace fsv::download
