// The recorder's stream reply bodies and the frame records inside them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "recordings/download/StreamReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fsv::download;
    std::span<const uint8_t> body(data, size);
    parseHeaderReply(body);
    parseFileHeaderReply(body);
    if (auto block = parseBlockReply(body)) {
        parseTimedFrame(block->data);
        if (auto frame = parseTextFrame(block->data)) parseFrameTimeText(frame->text);
    }
    for (uint8_t mode : {10, 11, 12}) parseStatusReply(body, mode);
    return 0;
}
