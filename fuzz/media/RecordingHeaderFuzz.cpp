// The stream header of a download-and-play stream, as the recorder sends it.
#include <cstdint>
#include <span>

#include "media/RecordingAviWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fsv::media::RecordingHeader;
    auto h = RecordingHeader::parse(std::span<const uint8_t>(data, size));
    if (!h) {
        if (size >= RecordingHeader::kSize) __builtin_trap();  // every 280 bytes are a header
        return 0;
    }
    // What is written back reads back the same.
    const auto bytes = h->serialize();
    auto again = RecordingHeader::parse(bytes);
    if (!again || again->serialize() != bytes) __builtin_trap();
    h->applyFieldOnlyChange();
    h->decodedFormat();
    return 0;
}
