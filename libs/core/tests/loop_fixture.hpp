#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "log_bodies.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "test_support/run_until.hpp"

namespace loop_test {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

// A root logger whose lines reach a collector, a core and one events loop.
class loop_fixture : public ::testing::Test {
protected:
    loop_fixture() {
        m_logger.connect(m_collector.endpoint());
        m_core = tvk::libs::core::core::create(m_logger);
        m_loop = m_core->create_events_loop("main loop");
    }

    ~loop_fixture() override {
        m_loop.reset();
        m_core.reset();
    }

    // A timer that stops the loop after _limit and then sets _fired.
    tvk::libs::core::timer::ptr guard(std::chrono::milliseconds _limit, bool& _fired) {
        return m_loop->get_timers().create_timer(
            _limit, "test guard",
            [this, &_fired](steady::time_point) {
                _fired = true;
                m_loop->stop();
            },
            TVK_SOURCE_LOCATION);
    }

    // The location that a loop run without one of its caller's reports. A function, since
    // the predefined function name has no value outside one.
    static tvk::libs::core::source_location run_location() { return TVK_SOURCE_LOCATION; }

    // Runs the loop until something stops it; false when _limit passed first.
    bool run_bounded(std::chrono::milliseconds _limit = 5s, bool _catch_exceptions = false,
                     tvk::libs::core::source_location _location = run_location()) {
        bool timed_out = false;
        const auto stopper = guard(_limit, timed_out);
        if (_catch_exceptions) {
            m_loop->run_catch_exceptions(_location);
        } else {
            m_loop->run();
        }
        return !timed_out;
    }

    // Runs the loop for _duration (it is expected to keep working meanwhile), then makes it
    // runnable again.
    void run_during(std::chrono::milliseconds _duration, bool _catch_exceptions = false) {
        EXPECT_FALSE(run_bounded(_duration, _catch_exceptions));
        m_loop->get_io_context().restart();
    }

    // Runs the loop's handlers until _done() holds; false when _limit passed first. An
    // exception from a handler leaves it.
    template <class Predicate>
    bool run_until(Predicate&& _done, std::chrono::milliseconds _limit = 5s) {
        return test_support::run_until(m_loop->get_io_context(), _done, _limit);
    }

    // Runs the loop's handlers for _duration, for what should not happen.
    void settle(std::chrono::milliseconds _duration = 50ms) {
        run_until([] { return false; }, _duration);
    }

    // The lines after the connection line, with the time replaced by "<t> ".
    std::vector<std::string> log_lines() const { return log_bodies::bodies(m_collector.lines()); }

    // Waits until at least _count lines besides the connection line arrived; returns them.
    std::vector<std::string> wait_for_log_lines(std::size_t _count) const {
        return log_bodies::wait_for_bodies(m_collector, _count);
    }

    test_support::debug_socket_collector m_collector;  // outlives the logger's linger
    tvk::libs::core::logger m_logger{"quillmere", "main"};
    tvk::libs::core::core::ptr m_core;
    tvk::libs::core::events_loop::ptr m_loop;
};

}  // namespace loop_test
