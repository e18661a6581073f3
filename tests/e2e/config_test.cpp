#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "service_run.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "test_support/process.hpp"
#include "test_support/syslog_capture.hpp"

using test_support::syslog_capture;
using test_support::temporary_directory;

namespace {
bool file_exists(const std::string& _path) {
    return std::ifstream(_path).is_open();
}

// A configuration that starts the service, with its pid file and debug socket in test places.
Json::Value valid_config(const temporary_directory& _directory, const std::string& _debug_port) {
    Json::Value config;
    config["system"]["pidfile"] = _directory.file("quillmere.pid");
    config["system"]["debug_port"] = _debug_port;
    config["system"]["local_debug"] = false;
    config["proxy"]["output_port"] = "tcp://127.0.0.1:1";
    config["server"]["url"] = "http://127.0.0.1:1";
    config["server"]["timeout"] = 5;
    config["redis"]["address"] = "127.0.0.1";
    config["redis"]["port"] = 1;
    config["zone_types"].append("restricted");
    return config;
}

std::string write_config(const temporary_directory& _directory, const Json::Value& _config) {
    return _directory.write_file("quillmere.json",
                                 Json::writeString(Json::StreamWriterBuilder(), _config));
}
}  // namespace

TEST(e2e_config, start_up_failures_log_one_error_and_write_no_pid_file) {
    syslog_capture capture;
    TEST_SUPPORT_REQUIRE_SYSLOG(capture);
    test_support::debug_socket_collector collector;
    struct {
        const char* name;
        // Changes the valid configuration; the returned text, when not empty, replaces the file.
        std::function<std::string(Json::Value&, const temporary_directory&)> change;
        std::string message;  // the error line holds it
        // Failures after the settings are read also reach the debug socket, and, in debug
        // mode, standard error.
        bool after_settings = false;
    } cases[] = {
        {"missing file",
         [](Json::Value&, const temporary_directory& d) { return d.file("absent.json"); },
         "std::exception::what(): Cannot parse json: * Line 1, Column 1\n"
         "  Syntax error: value, object or array expected."},
        {"broken JSON",
         [](Json::Value&, const temporary_directory& d) {
             return d.write_file("broken.json", "{\"system\": {\"pidfile\": }");
         },
         "std::exception::what(): Cannot parse json: * Line 1, Column 24\n"},
        {"zone type not a string",
         [](Json::Value& c, const temporary_directory&) {
             c["zone_types"].append("workshop");
             c["zone_types"].append(7);
             return std::string();
         },
         " Config file is invalid: zone_types: not a zone type: 2"},
        {"port outside the int range",
         [](Json::Value& c, const temporary_directory&) {
             c["redis"]["port"] = Json::Int64(1) << 40;
             return std::string();
         },
         ", path: redis.port"},
        {"pid file in a missing directory, debug mode",
         [](Json::Value& c, const temporary_directory& d) {
             c["system"]["pidfile"] = d.file("absent/quillmere.pid");
             c["system"]["local_debug"] = true;
             return std::string();
         },
         " Error opening pid-file!", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        temporary_directory directory;
        auto config = valid_config(directory, collector.endpoint());
        std::string file = c.change(config, directory);
        if (file.empty()) {
            file = write_config(directory, config);
        }
        const auto result = e2e::run_service(capture, {"-c", file});
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exit_code, 0);
        const auto& lines = result.lines;
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].message, "Starting quillmere");
        EXPECT_EQ(lines[1].priority, LOG_ERR);
        EXPECT_NE(lines[1].message.find(c.message), std::string::npos) << lines[1].message;
        EXPECT_FALSE(file_exists(directory.file("quillmere.pid")));
        if (c.after_settings) {
            EXPECT_NE(result.standard_error.find(c.message), std::string::npos);
            EXPECT_TRUE(collector.wait_for_line_containing(c.message));
        } else {
            EXPECT_TRUE(result.standard_error.empty()) << result.standard_error;
        }
    }
}

TEST(e2e_config, missing_keys_are_listed_in_one_line) {
    syslog_capture capture;
    TEST_SUPPORT_REQUIRE_SYSLOG(capture);
    temporary_directory directory;
    const auto file = directory.write_file(
        "quillmere.json", R"({"system": {"pidfile": ")" + directory.file("quillmere.pid") +
                              R"(", "local_debug": 1}, "server": {"url": "http://s"},
                              "zone_types": ["a", 5]})");
    const auto result = e2e::run_service(capture, {"-c", file});
    EXPECT_EQ(result.exit_code, 0);
    const auto& lines = result.lines;
    ASSERT_EQ(lines.size(), 2u);
    const std::string expected =
        " Config file is invalid: Can not find field <string>: system.debug_port\n"
        "Can not find field <bool>: system.local_debug\n"
        "Can not find object <object>: proxy, path: proxy.output_port\n"
        "Can not find field <int>: server.timeout\n"
        "Can not find object <object>: redis, path: redis.address\n"
        "Can not find object <object>: redis, path: redis.port";
    const auto& message = lines[1].message;
    EXPECT_EQ(message.rfind("/src/config.cpp:", 0), 0u) << message;
    ASSERT_GT(message.size(), expected.size());
    EXPECT_EQ(message.substr(message.size() - expected.size()), expected);
    EXPECT_FALSE(file_exists(directory.file("quillmere.pid")));
}

TEST(e2e_config, pid_file_of_a_running_process_refuses_start) {
    syslog_capture capture;
    TEST_SUPPORT_REQUIRE_SYSLOG(capture);
    test_support::debug_socket_collector collector;
    temporary_directory directory;
    // This test's own process is running.
    const std::string running = std::to_string(::getpid());
    const auto pid_file = directory.write_file("quillmere.pid", running);
    const auto file = write_config(directory, valid_config(directory, collector.endpoint()));
    const auto result = e2e::run_service(capture, {"-c", file});
    EXPECT_EQ(result.exit_code, 0);
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.back().priority, LOG_ERR);
    EXPECT_NE(result.lines.back().message.find(" Process is running"), std::string::npos);
    EXPECT_TRUE(collector.wait_for_line_containing(" Process is running"));
    EXPECT_EQ(test_support::read_file(pid_file), running);
}

TEST(e2e_config, valid_file_connects_the_debug_socket_writes_the_pid_file_and_waits_for_redis) {
    syslog_capture capture;
    TEST_SUPPORT_REQUIRE_SYSLOG(capture);
    test_support::debug_socket_collector collector;
    temporary_directory directory;
    // Nothing listens on the configured Redis port 1.
    const auto file = write_config(directory, valid_config(directory, collector.endpoint()));
    test_support::child_process child(QUILLMERE_BINARY, {"-c", file});
    ASSERT_TRUE(capture.wait_for_message_containing(child.pid(), "Connection error: "));
    EXPECT_EQ(test_support::read_file(directory.file("quillmere.pid")),
              std::to_string(child.pid()));
    // The debug line is not in syslog outside debug mode, but every line goes to the socket.
    ASSERT_TRUE(collector.wait_for_line_containing("Connected to socket"));
    const auto lines = collector.lines();
    EXPECT_EQ(lines.front().rfind("&quillmere:main ", 0), 0u) << lines.front();

    // A signal while Redis is retried ends the start-up, after the attempt under way.
    child.send_signal(SIGTERM);
    ASSERT_TRUE(child.wait(std::chrono::seconds(10)));
    EXPECT_EQ(child.exit_code(), 0);
    ASSERT_TRUE(capture.wait_for_message_containing(child.pid(), "Interrupted"));
    const auto logged = capture.lines(child.pid());
    ASSERT_GE(logged.size(), 3u);
    EXPECT_EQ(logged.front().message, "Starting quillmere");
    for (std::size_t i = 1; i + 1 < logged.size(); ++i) {
        EXPECT_EQ(logged[i].priority, LOG_ERR);
        EXPECT_NE(logged[i].message.find("Connection error: "), std::string::npos)
            << logged[i].message;
    }
    const auto& interrupted = logged.back();
    EXPECT_EQ(interrupted.priority, LOG_ERR);
    EXPECT_EQ(interrupted.message.rfind("/src/application.cpp:", 0), 0u) << interrupted.message;
    EXPECT_EQ(interrupted.message.substr(interrupted.message.size() - 12), " Interrupted");
    EXPECT_TRUE(child.standard_error().empty()) << child.standard_error();
}
