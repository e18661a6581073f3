#include <gtest/gtest.h>
#include <syslog.h>

#include "service_run.hpp"
#include "test_support/syslog_capture.hpp"

using test_support::syslog_capture;

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
        const auto result = e2e::run_service(capture, c.arguments);
        const auto& lines = result.lines;
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
