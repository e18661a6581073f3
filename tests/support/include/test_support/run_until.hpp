#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <thread>

namespace test_support {

// Runs _io_context's handlers on this thread until _done() holds or the deadline passes;
// true when _done() held. An exception from a handler leaves this function.
template <class Predicate>
bool run_until(boost::asio::io_context& _io_context, Predicate&& _done,
               std::chrono::milliseconds _timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + _timeout;
    while (!_done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        _io_context.restart();
        if (_io_context.run_one_for(std::chrono::milliseconds(10)) == 0) {
            // Nothing to wait on at all: do not spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

// Runs the handlers that are ready now, and those they make ready, without waiting.
inline void run_ready(boost::asio::io_context& _io_context) {
    _io_context.restart();
    _io_context.poll();
}

}  // namespace test_support
