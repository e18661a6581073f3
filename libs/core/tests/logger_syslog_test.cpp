#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>

#include "core/logger.hpp"
#include "test_support/syslog_capture.hpp"

using test_support::syslog_capture;
using test_support::syslog_line;
using tvk::libs::core::logger;

namespace {
const syslog_line* find(const std::vector<syslog_line>& _lines, const std::string& _text) {
    for (const auto& line : _lines) {
        if (line.message.find(_text) != std::string::npos) {
            return &line;
        }
    }
    return nullptr;
}
}  // namespace

TEST(logger_syslog, normal_mode_drops_debug_and_writes_the_body_alone) {
    syslog_capture capture;
    TEST_SUPPORT_REQUIRE_SYSLOG(capture);
    logger log("quillmere", "main");
    log.debug("hidden debug");
    log.info("plain %1%") % 1;
    log.warning("warned");
    log.error("failed");
    ASSERT_TRUE(capture.wait_for_message_containing(getpid(), "failed"));
    const auto lines = capture.lines(getpid());
    EXPECT_EQ(find(lines, "hidden debug"), nullptr);
    const auto* starting = find(lines, "Starting quillmere");
    ASSERT_NE(starting, nullptr);
    EXPECT_EQ(starting->priority, LOG_INFO);
    const auto* info = find(lines, "plain 1");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->message, "plain 1");
    EXPECT_EQ(info->ident, "quillmere");
    EXPECT_EQ(info->facility, LOG_USER);
    EXPECT_EQ(find(lines, "warned")->priority, LOG_WARNING);
    EXPECT_EQ(find(lines, "failed")->priority, LOG_ERR);
}

TEST(logger_syslog, debug_mode_writes_every_level_with_time_and_indentation) {
    syslog_capture capture;
    TEST_SUPPORT_REQUIRE_SYSLOG(capture);
    logger log("quillmere", "main");
    log.set_debug(true);
    EXPECT_TRUE(log.is_debug());
    const auto guard = log.enter_scope("scope");
    log.debug("shown debug");
    log.error("failed");
    ASSERT_TRUE(capture.wait_for_message_containing(getpid(), "failed"));
    const auto lines = capture.lines(getpid());
    const auto* debug = find(lines, "shown debug");
    ASSERT_NE(debug, nullptr);
    EXPECT_EQ(debug->priority, LOG_DEBUG);
    EXPECT_TRUE(std::regex_match(
        debug->message, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}     \| shown debug)")))
        << debug->message;
    log.set_debug(false);
    log.debug("hidden again");
    log.info("marker");
    ASSERT_TRUE(capture.wait_for_message_containing(getpid(), "marker"));
    EXPECT_EQ(find(capture.lines(getpid()), "hidden again"), nullptr);
    // Outside debug mode syslog gets the body alone, without indentation.
    EXPECT_EQ(find(capture.lines(getpid()), "marker")->message, "marker");
}
