// Waiting on a condition with a generous bound: tests under Wine on a loaded machine never
// rely on a bare sleep being long enough.
#pragma once

#include <chrono>
#include <thread>

namespace corvane::peers::support {

// Polls `condition` every 20 ms until it holds or `bound` has passed; returns whether it held.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds bound = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace corvane::peers::support
