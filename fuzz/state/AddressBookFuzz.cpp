// The address book reader on any bytes: it never reads past them, and whatever it keeps
// survives a write and a second read unchanged.
#include <cstdlib>

#include "state/AddressBook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fsv::state;
    auto r = AddressBook::decode({data, size});
    if (!r.usable()) return 0;
    auto again = AddressBook::decode(r.value.encode());
    if (again.status != ReadStatus::Ok || again.value.groups() != r.value.groups()) std::abort();
    return 0;
}
