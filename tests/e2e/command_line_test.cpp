#include <gtest/gtest.h>
#include <syslog.h>

#include "test_support/process.hpp"
#include "test_support/syslog_capture.hpp"

using test_support::syslog_capture;
using test_support::syslog_line;

namespace {
// The error lines (besides the start line) that one run of the binary leaves in syslog.
std::vector<syslog_line> run_and_collect(syslog_capture& _capture,
                                         const std::vector<std::string>& _arguments,
                                         test_support::process_result& _result) {
    test_support::child_process child(QUILLMERE_BINARY, _arguments);
    _result.finished = child.wait(std::chrono::seconds(20));
    _result.exit_code = child.exit_code();
    _result.standard_output = child.standard_output();
    // The child has ended, so every datagram it sent is already queued at our socket.
    _capture.wait_for(child.pid(), [](const std::vector<syslog_line>& _lines) {
        for (const auto& line : _lines) {
            if (line.priority == LOG_ERR) {
                return true;
            }
        }
        return false;
    });
    return _capture.lines(child.pid());
}
}  // namespace

TEST(e2e_command_line, bad_command_lines_log_one_usage_error_and_exit_0) {
    syslog_capture capture;
    TEST_SUPPORT_REQUIRE_SYSLOG(capture);
    const std::string program = QUILLMERE_BINARY;
    const std::string file = "/libs/core/include/core/get_config_file_name.hpp:";
    struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{}, "The configuration file is not defined! Usage: " + program + " -c config_file"},
        {{"-x"}, "Usage: " + program + " -c config_file"},
        {{"-c"}, "Usage: " + program + " -c config_file"},
    };
    for (const auto& c : cases) {
        test_support::process_result result;
        const auto lines = run_and_collect(capture, c.arguments, result);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exit_code, 0);
        // Exactly two lines: the start line, then the error.
        ASSERT_EQ(lines.size(), 2u) << c.message;
        EXPECT_EQ(lines[0].priority, LOG_INFO);
        EXPECT_EQ(lines[0].message, "Starting quillmere");
        EXPECT_EQ(lines[1].priority, LOG_ERR);
        EXPECT_EQ(lines[1].ident, "quillmere");
        const auto& message = lines[1].message;
        EXPECT_EQ(message.rfind(file, 0), 0u) << message;
        const auto blank = message.find(' ');
        ASSERT_NE(blank, std::string::npos);
        // The line number between the file's ":" and the blank.
        const auto line = message.substr(file.size(), blank - file.size());
        EXPECT_FALSE(line.empty());
        EXPECT_EQ(line.find_first_not_of("0123456789"), std::string::npos) << message;
        EXPECT_EQ(message.substr(blank + 1), c.message);
        EXPECT_TRUE(result.standard_output.empty());
    }
}
