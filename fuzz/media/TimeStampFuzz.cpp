// The frame time parser over arbitrary text.
#include <cstdint>
#include <string_view>

#include "media/AviTypes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fsv::SystemTime t{};
    fsv::media::parseTimeStamp(std::string_view(reinterpret_cast<const char*>(data), size), t);
    return 0;
}
