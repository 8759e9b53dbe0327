// The login log reader on any bytes: it never reads past them, and the lines it keeps survive
// a write and a second read (a line that itself ends in a carriage return loses it on the
// second read, as a carriage return before the line feed is dropped).
#include <cstdlib>

#include "state/LoginLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fsv::state;
    auto r = decodeLoginLog({data, size});
    if (!r.usable()) return 0;
    for (const auto& line : r.value)
        if (!line.empty() && line.back() == '\r') return 0;
    auto again = decodeLoginLog(encodeLoginLog(r.value));
    if (r.value.empty() ? again.value.size() != 0 : again.value != r.value) std::abort();
    return 0;
}
