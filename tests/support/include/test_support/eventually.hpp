#pragma once

#include <chrono>
#include <thread>

namespace test_support {

// Polls until _predicate holds; false at the deadline.
template <class Predicate>
bool eventually(Predicate&& _predicate,
                std::chrono::milliseconds _timeout = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + _timeout;
    while (!_predicate()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace test_support
