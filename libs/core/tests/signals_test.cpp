#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "test_support/process.hpp"

using namespace std::chrono_literals;

namespace {
// Waits until the child has written a line holding _text; false after five seconds.
bool wait_for_output(const test_support::child_process& _child, const std::string& _text) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (_child.standard_output().find(_text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}
}  // namespace

TEST(signals_handle, sigterm_and_sigint_stop_the_loop_and_end_the_signal_thread) {
    for (const int signal : {SIGTERM, SIGINT}) {
        test_support::child_process child(SIGNALS_CHILD, {"wait"});
        ASSERT_TRUE(wait_for_output(child, "ready\n")) << child.standard_error();
        child.send_signal(signal);
        ASSERT_TRUE(child.wait(5s)) << signal;
        EXPECT_EQ(child.exit_code(), 0) << signal << "\n" << child.standard_error();
        EXPECT_EQ(child.standard_output(), "ready\nreceived\nthread ended\n") << signal;
    }
}

TEST(signals_handle, a_second_signal_is_no_longer_watched) {
    test_support::child_process child(SIGNALS_CHILD, {"twice"});
    ASSERT_TRUE(wait_for_output(child, "ready\n")) << child.standard_error();
    child.send_signal(SIGTERM);
    ASSERT_TRUE(wait_for_output(child, "unwatched\n")) << child.standard_output();
    child.send_signal(SIGTERM);
    ASSERT_TRUE(child.wait(5s));
    EXPECT_EQ(child.exit_code(), 128 + SIGTERM);
    EXPECT_EQ(child.standard_output(), "ready\nreceived\nthread ended\nunwatched\n");
}

TEST(signals_handle, destroying_the_handle_without_a_signal_keeps_the_loop_running) {
    test_support::child_process child(SIGNALS_CHILD, {"no_signal"});
    ASSERT_TRUE(child.wait(5s));
    EXPECT_EQ(child.exit_code(), 0) << child.standard_error();
    EXPECT_EQ(child.standard_output(), "running after handle\nok\n");
}

// A process that blocks SIGINT and SIGTERM from its start, as the service does.
TEST(signals_handle, a_signal_held_before_the_watch_has_stopped_the_loop_when_it_returns) {
    for (const int signal : {SIGTERM, SIGINT}) {
        test_support::child_process child(SIGNALS_CHILD, {"held_early", std::to_string(signal)});
        ASSERT_TRUE(wait_for_output(child, "held\n")) << child.standard_error();
        child.send_signal(signal);
        ASSERT_TRUE(child.wait(5s)) << signal;
        EXPECT_EQ(child.exit_code(), 0) << signal << "\n" << child.standard_error();
        EXPECT_EQ(child.standard_output(), "held\nstopped at once\n") << signal;
    }
}

TEST(signals_handle, held_signals_are_taken_by_the_watch_and_later_ones_stay_held) {
    test_support::child_process child(SIGNALS_CHILD, {"held"});
    ASSERT_TRUE(wait_for_output(child, "ready\n")) << child.standard_error();
    child.send_signal(SIGINT);
    ASSERT_TRUE(wait_for_output(child, "unwatched\n")) << child.standard_output();
    child.send_signal(SIGTERM);
    child.send_signal(SIGINT);
    ASSERT_TRUE(child.wait(10s));
    EXPECT_EQ(child.exit_code(), 0) << child.standard_error();
    EXPECT_EQ(child.standard_output(), "ready\nreceived\nthread ended\nunwatched\nstill held\n");
}
