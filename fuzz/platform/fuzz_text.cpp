// The text conversions on any bytes: the result is UTF-8, converting twice changes nothing, and
// terminal text holds no control character.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::string utf8 = fsv::platform::toUtf8(in);
    if (!fsv::platform::isUtf8(utf8) || fsv::platform::toUtf8(utf8) != utf8) std::abort();
    if (fsv::platform::isUtf8(in) ? utf8 != in : utf8.size() < in.size()) std::abort();
    for (bool keep : {false, true}) {
        const std::string shown = fsv::platform::terminalText(in, keep);
        if (!fsv::platform::isUtf8(shown)) std::abort();
        for (size_t i = 0; i < shown.size(); ++i) {
            const auto b = static_cast<uint8_t>(shown[i]);
            if ((b < 0x20 && !(keep && b == '\n')) || b == 0x7F) std::abort();
            if (b == 0xC2 && i + 1 < shown.size() && static_cast<uint8_t>(shown[i + 1]) < 0xA0)
                std::abort();
        }
    }
    return 0;
}
