// One frame record of a download-and-play stream: key-frame flag, time text, video data.
#include <cstdint>
#include <span>

#include "media/AviTypes.h"
#include "media/RecordingAviWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> record(data, size);
    auto f = fsv::media::FrameRecord::parse(record);
    if (!f) return 0;
    // Flag, text, its zero and the data cover the record exactly, and stay inside it.
    const auto* text = reinterpret_cast<const uint8_t*>(f->text.data());
    if (4 + f->text.size() + 1 + f->data.size() != size) __builtin_trap();
    if (text != data + 4 || text[f->text.size()] != 0) __builtin_trap();
    if (!f->data.empty() && f->data.data() != text + f->text.size() + 1) __builtin_trap();
    fsv::SystemTime t{};
    fsv::media::parseTimeStamp(f->text, t);
    return 0;
}
