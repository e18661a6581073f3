#include "core/logger.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "log_bodies.hpp"
#include "test_support/debug_socket_collector.hpp"

using tvk::libs::core::cut_for_log;
using tvk::libs::core::logger;
using tvk::libs::core::max_logged_text_size;
using tvk::libs::core::source_location;
using tvk::libs::core::timestamp;

using log_bodies::time_pattern;

namespace {
class logger_socket : public ::testing::Test {
protected:
    logger_socket() { m_logger.connect(m_collector.endpoint()); }

    // Waits until _count lines besides the connection line arrived; returns them.
    std::vector<std::string> received(std::size_t _count) {
        return log_bodies::wait_for_bodies(m_collector, _count);
    }

    test_support::debug_socket_collector m_collector;  // outlives the logger's linger
    logger m_logger{"quillmere", "main"};
};
}  // namespace

TEST_F(logger_socket, every_level_reaches_the_socket_with_prefix_and_time) {
    m_logger.debug("d %1%") % 1;
    m_logger.info("i %1%") % std::string("two");
    m_logger.warning("w %1% %2%") % boost::string_view("x") % 3u;
    m_logger.error("e %1%") % -4L;
    const auto lines = received(4);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"&quillmere:main <t> d 1", "&quillmere:main <t> i two",
                                        "&quillmere:main <t> w x 3", "&quillmere:main <t> e -4"}));
    // The raw line: prefix, then the time as "%Y-%m-%d %H:%M:%S.mmm".
    EXPECT_TRUE(std::regex_match(m_collector.lines().back(),
                                 std::regex("&quillmere:main " + time_pattern + "e -4")));
}

TEST_F(logger_socket, connection_line_is_sent_at_debug_level) {
    EXPECT_TRUE(m_collector.wait_for_line_containing("&quillmere:main "));
    EXPECT_TRUE(m_collector.wait_for_line_containing("Connected to socket"));
}

TEST_F(logger_socket, component_prefix_and_indentation) {
    const auto core = m_logger.component("core");
    {
        const auto outer = core->enter_scope("outer");
        const auto inner = core->enter_scope(source_location(12, __FILE__, "f"), "inner");
        core->info("x");
        m_logger.info("root is not indented");
    }
    core->info("back");
    const auto lines = received(5);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "&quillmere:core <t> outer",
                         "&quillmere:core <t>     | /libs/core/tests/logger_test.cpp:12 (inner)",
                         "&quillmere:core <t>         | x",
                         "&quillmere:main <t> root is not indented",
                         "&quillmere:core <t> back",
                     }));
}

TEST_F(logger_socket, scope_entry_texts) {
    const source_location location(7, __FILE__, "void tvk::a::b(int)");
    { const auto guard = m_logger.enter_function(location); }
    { const auto guard = m_logger.enter_function_short(location, "called"); }
    { const auto guard = m_logger.enter_scope(location); }
    const auto lines = received(3);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "&quillmere:main <t> void tvk::a::b(int)",
                         "&quillmere:main <t> tvk::a::b: called",
                         "&quillmere:main <t> /libs/core/tests/logger_test.cpp:7",
                     }));
}

TEST_F(logger_socket, location_function_and_time_of_a_line) {
    const source_location location(35, __FILE__, "void tvk::application::start_application()");
    m_logger.info("called").short_function(location);
    m_logger.info("called").location(location).short_function(location);
    m_logger.info("called").function(location);
    m_logger.info("at").date_time(timestamp(1714979289, 123));
    const auto lines = received(4);
    EXPECT_EQ(lines[0], "&quillmere:main <t> tvk::application::start_application: called");
    EXPECT_EQ(lines[1],
              "&quillmere:main <t> /libs/core/tests/logger_test.cpp:35 "
              "tvk::application::start_application: called");
    EXPECT_EQ(lines[2], "&quillmere:main <t> void tvk::application::start_application(): called");
    EXPECT_EQ(m_collector.lines().back(), "&quillmere:main 2024-05-06 07:08:09.123 at");
}

TEST_F(logger_socket, execute_logs_each_kind_of_exception) {
    EXPECT_TRUE(m_logger.execute([] {}));
    EXPECT_FALSE(m_logger.execute([] { throw std::logic_error("bad"); }));
    EXPECT_FALSE(m_logger.execute([] { throw 5; }));
    const source_location raised(88, __FILE__, "f");
    EXPECT_FALSE(m_logger.execute([&] { throw tvk::libs::core::exception("m", raised); }));
    const auto lines = received(3);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "&quillmere:main <t> std::exception::what(): bad",
                         "&quillmere:main <t> Unknown exception",
                         "&quillmere:main <t> /libs/core/tests/logger_test.cpp:88 m",
                     }));
}

TEST_F(logger_socket, execute_with_location_logs_caught_exeption_through_root) {
    const auto core = m_logger.component("core");
    const auto root_guard = m_logger.enter_scope("root scope");
    const source_location at(33, __FILE__, "main(int, char**)::<lambda()>");
    EXPECT_FALSE(core->execute(at, [] { throw std::runtime_error("boom"); }));
    const auto lines = received(3);
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "&quillmere:main <t> root scope",
                  "&quillmere:main <t>     | /libs/core/tests/logger_test.cpp:33 Caught exeption",
                  "&quillmere:core <t> std::exception::what(): boom",
              }));
}

TEST_F(logger_socket, log_error_and_located_exception) {
    m_logger.log_error(boost::system::errc::make_error_code(boost::system::errc::timed_out),
                       source_location(9, __FILE__, "f"));
    m_logger.log_exception(tvk::libs::core::exception("gone", source_location(3, __FILE__, "f")));
    const auto lines = received(2);
    EXPECT_EQ(lines[0],
              "&quillmere:main <t> /libs/core/tests/logger_test.cpp:9: Connection timed out");
    EXPECT_EQ(lines[1], "&quillmere:main <t> /libs/core/tests/logger_test.cpp:3 gone");
}

TEST_F(logger_socket, mismatched_arguments_never_end_the_process) {
    m_logger.info("missing %1% and %2%") % 1;
    EXPECT_THROW(m_logger.info("surplus %1%") % 1 % 2, boost::io::too_many_args);
    m_logger.info("after");
    const auto lines = received(3);
    EXPECT_EQ(lines[0], "&quillmere:main <t> missing 1 and ");
    EXPECT_EQ(lines[1], "&quillmere:main <t> surplus 1");
    EXPECT_EQ(lines[2], "&quillmere:main <t> after");
}

TEST_F(logger_socket, socket_copy_can_be_switched_off) {
    EXPECT_TRUE(m_logger.is_writing_to_socket());
    m_logger.set_writing_to_socket(false);
    m_logger.info("hidden");
    m_logger.set_writing_to_socket(true);
    m_logger.info("shown");
    const auto lines = received(1);
    EXPECT_EQ(lines, std::vector<std::string>{"&quillmere:main <t> shown"});
}

TEST(logger, lines_before_connect_and_a_bad_endpoint) {
    logger log("quillmere", "main");
    EXPECT_TRUE(log.is_logger_enabled());
    EXPECT_FALSE(log.is_debug());
    log.info("nobody listens");
    EXPECT_THROW(log.connect("nonsense://x"), zmq::error_t);
    log.info("still fine");
}

TEST(logger_close, lines_logged_just_before_destruction_reach_the_socket) {
    test_support::debug_socket_collector collector;
    for (int round = 0; round < 5; ++round) {
        const std::string last = "last words " + std::to_string(round);
        {
            // The start line was refused (no connection yet); then connect, log and close at once.
            logger log("quillmere", "main");
            log.connect(collector.endpoint());
            log.error("%1%") % last;
        }
        EXPECT_TRUE(collector.wait_for_line_containing(last, std::chrono::seconds(2))) << last;
    }
}

TEST(cut_for_log, texts_over_one_kib_keep_their_first_kib_and_tell_their_size) {
    const std::string kib(1024, 'a');
    const std::string e_acute = "\xC3\xA9";       // two bytes
    const std::string euro = "\xE2\x82\xAC";      // three bytes
    const std::string clef = "\xF0\x9D\x84\x9E";  // four bytes
    struct cut_case {
        const char* name;
        std::string text;
        std::string logged;
    };
    const cut_case cases[] = {
        {"empty", "", ""},
        {"short", "T1", "T1"},
        {"exactly the limit", kib, kib},
        {"one byte over", kib + "b", kib + "... (1025 bytes)"},
        {"a megabyte", std::string(1 << 20, 'u'), std::string(1024, 'u') + "... (1048576 bytes)"},
        {"a character ending at the limit", kib.substr(2) + e_acute + "z",
         kib.substr(2) + e_acute + "... (1025 bytes)"},
        {"two bytes across the limit", kib.substr(1) + e_acute, kib.substr(1) + "... (1025 bytes)"},
        {"three bytes across the limit", kib.substr(2) + euro, kib.substr(2) + "... (1025 bytes)"},
        {"four bytes across the limit", kib.substr(1) + clef, kib.substr(1) + "... (1027 bytes)"},
        {"bytes that are no UTF-8", std::string(2000, '\x80'),
         std::string(1021, '\x80') + "... (2000 bytes)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cut_for_log(c.text), c.logged) << c.name;
        EXPECT_LE(cut_for_log(c.text).size(), max_logged_text_size + 32) << c.name;
    }
}
