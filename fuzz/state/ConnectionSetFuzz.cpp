// The connection set reader on any bytes: it never reads past them, and the records it keeps
// survive a write and a second read unchanged.
#include <cstdlib>

#include "state/ConnectionSet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fsv::state;
    auto r = decodeConnectionSet({data, size});
    if (!r.usable() || r.value.empty()) return 0;
    auto again = decodeConnectionSet(encodeConnectionSet(r.value));
    if (again.status != ReadStatus::Ok || again.value.size() != r.value.size()) std::abort();
    for (size_t i = 0; i < r.value.size(); ++i) {
        const auto &a = r.value[i], &b = again.value[i];
        if (a.kind != b.kind || a.port != b.port || a.address != b.address || a.id != b.id ||
            a.password != b.password)
            std::abort();
    }
    return 0;
}
