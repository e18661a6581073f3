#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "service_site.hpp"
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

int thread_count(pid_t _pid) {
    int count = 0;
    if (DIR* tasks = ::opendir(("/proc/" + std::to_string(_pid) + "/task").c_str())) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        ::closedir(tasks);
    }
    return count;
}

// Waits until the process runs a second thread, the first the logger makes at the start of
// main; false after ten seconds.
bool wait_until_in_main(pid_t _pid) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (thread_count(_pid) < 2) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(100us);
    }
    return true;
}

bool file_exists(const std::string& _path) {
    struct stat status;
    return ::stat(_path.c_str(), &status) == 0;
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

// A signal while the service still reads its settings, before its loop exists, ends the start
// as one while Redis is tried does: "Interrupted" and status 0. A large configuration keeps
// the service reading for a while (about 200 ms here).
TEST(e2e_signals, a_signal_before_the_loop_exists_ends_the_start_with_status_0) {
    e2e::service_site world;
    Json::Value& zone_types = world.config["zone_types"];
    for (int i = 0; i < 200000; ++i) {
        zone_types.append("zone type " + std::to_string(i));
    }
    const std::string pid_file = world.config["system"]["pidfile"].asString();
    struct early_signal {
        int signal;
        std::chrono::milliseconds delay;  // after main began
    };
    const early_signal cases[] = {{SIGTERM, 0ms},  {SIGINT, 0ms},  {SIGTERM, 1ms}, {SIGINT, 5ms},
                                  {SIGTERM, 10ms}, {SIGINT, 20ms}, {SIGTERM, 50ms}};
    for (const auto& c : cases) {
        SCOPED_TRACE("signal " + std::to_string(c.signal) + " after " +
                     std::to_string(c.delay.count()) + " ms");
        std::remove(pid_file.c_str());
        const auto interrupted = e2e::lines_containing(world.log, " Interrupted").size();
        const auto service = world.start();
        ASSERT_TRUE(wait_until_in_main(service->pid()));
        std::this_thread::sleep_for(c.delay);
        // The pid file is written right after the loop is made.
        ASSERT_FALSE(file_exists(pid_file)) << "the loop existed before the signal";
        ASSERT_TRUE(service->stop(c.signal, 15s));
        EXPECT_EQ(service->exit_code(), 0) << service->standard_error();
        EXPECT_TRUE(e2e::wait_for_count(world.log, " Interrupted", interrupted + 1));
    }
    EXPECT_TRUE(e2e::lines_containing(world.log, " exit").empty());
}
