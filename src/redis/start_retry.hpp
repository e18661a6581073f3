#pragma once

#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "core/events_loop.hpp"
#include "core/exception.hpp"
#include "core/logger.hpp"
#include "core/source_location.hpp"

namespace tvk {
namespace redis {

// Runs _attempt until it completes, as the start-up does with a Redis that may be restarting,
// reloading its data or cut off for a while: a failure for which _passing holds is logged and
// tried again _period later; any other failure raises. Raises "Interrupted", located at
// _location (the caller's step of the start-up), once _loop has been stopped, looked at after
// every attempt: the loop does not run yet, so only a signal, which stops it, ends the wait.
template <class Attempt, class Passing>
void retry_at_start(const libs::core::events_loop& _loop, const libs::core::logger& _logger,
                    std::chrono::milliseconds _period, const libs::core::source_location& _location,
                    Attempt&& _attempt, Passing&& _passing) {
    for (;;) {
        bool done = false;
        try {
            _attempt();
            done = true;
        } catch (...) {
            if (!_passing(std::current_exception())) {
                throw;
            }
            _logger.log_exception();
        }
        if (!done) {
            std::this_thread::sleep_for(_period);
        }
        if (_loop.is_stopped()) {
            throw libs::core::exception("Interrupted", _location);
        }
        if (done) {
            return;
        }
    }
}

// The same, every failure tried again.
template <class Attempt>
void retry_at_start(const libs::core::events_loop& _loop, const libs::core::logger& _logger,
                    std::chrono::milliseconds _period, const libs::core::source_location& _location,
                    Attempt&& _attempt) {
    retry_at_start(_loop, _logger, _period, _location, std::forward<Attempt>(_attempt),
                   [](const std::exception_ptr&) { return true; });
}

}  // namespace redis
}  // namespace tvk
