// The resume file reader on any bytes: it never reads past them, and a value it reads that
// the writer accepts reads back the same.
#include <algorithm>
#include <cstdlib>

#include "state/ResumeFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fsv::state;
    auto r = readResumeData({data, size});
    if (!r.usable()) return 0;
    auto bytes = writeResumeData(r.value);
    if (!bytes) return 0;  // a field filled to its end without a terminator
    auto again = readResumeData(*bytes);
    auto kept = r.value.records;
    std::erase_if(kept, [](const ResumeRecord& x) { return x.type == kPlayOnlyType; });
    if (again.status != ReadStatus::Ok || !(again.value.header == r.value.header) ||
        again.value.records != kept)
        std::abort();
    return 0;
}
