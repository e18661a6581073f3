#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "test_support/free_port.hpp"
#include "test_support/process.hpp"

using namespace std::chrono_literals;
using test_support::temporary_directory;

namespace {
// Waits until the child's standard error holds _text; false after ten seconds.
bool wait_for_error_output(const test_support::child_process& _child, const std::string& _text) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (_child.standard_error().find(_text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}
}  // namespace

// With no debug peer listening the logger holds its queued lines for up to 5 seconds at exit;
// signals that come after the first one stopped the loop, meanwhile, must not change the exit
// status.
TEST(e2e_signals, signals_after_the_first_leave_the_exit_status_0) {
    temporary_directory directory;
    Json::Value config;
    config["system"]["pidfile"] = directory.file("quillmere.pid");
    config["system"]["debug_port"] = test_support::free_tcp_endpoint();
    config["system"]["local_debug"] = true;  // lines are copied to standard error
    config["proxy"]["output_port"] = "tcp://127.0.0.1:1";
    config["server"]["url"] = "http://127.0.0.1:1";
    config["server"]["timeout"] = 5;
    config["redis"]["address"] = "127.0.0.1";
    config["redis"]["port"] = test_support::free_port();  // retried until a signal
    config["zone_types"] = Json::Value(Json::arrayValue);
    const auto file = directory.write_file("quillmere.json",
                                           Json::writeString(Json::StreamWriterBuilder(), config));

    test_support::child_process child(QUILLMERE_BINARY, {"-c", file});
    // Signals are watched once Redis is being tried.
    ASSERT_TRUE(wait_for_error_output(child, "Connection error: ")) << child.standard_error();
    child.send_signal(SIGTERM);
    ASSERT_TRUE(wait_for_error_output(child, " Interrupted\n")) << child.standard_error();
    // The loop has stopped and the logger is still flushing.
    ASSERT_FALSE(child.wait(0ms));
    child.send_signal(SIGTERM);
    std::this_thread::sleep_for(20ms);
    child.send_signal(SIGINT);
    ASSERT_TRUE(child.wait(15s));
    EXPECT_EQ(child.exit_code(), 0) << child.standard_error();
}
