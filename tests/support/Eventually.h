#pragma once
// Polls a condition from a test until it holds or a generous limit runs out: the machine
// running the tests may be loaded, and only a failing test waits that long.

#include <chrono>
#include <thread>

namespace fsv::test {

template <class F>
bool eventually(F done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace fsv::test
