#include <gtest/gtest.h>

#include <stdexcept>

#include "core/constants.hpp"
#include "core/exception.hpp"

using tvk::libs::core::check_failed_exception;
using tvk::libs::core::located_exception;
using tvk::libs::core::source_location;
namespace constants = tvk::libs::core::constants;

TEST(source_location, short_file_is_path_below_source_root) {
    const auto here = TVK_SOURCE_LOCATION;
    EXPECT_EQ(here.short_file(), "/libs/core/tests/exception_test.cpp");
    EXPECT_EQ(here.line(), __LINE__ - 2);
}

TEST(source_location, short_file_cuts_by_length_only) {
    const std::string path = std::string(constants::source_directory.size(), 'x') + "/a/b.cpp";
    EXPECT_EQ(source_location(1, path, "f").short_file(), "/a/b.cpp");
    EXPECT_EQ(source_location(1, constants::source_directory, "f").short_file(), "");
}

TEST(source_location, short_file_of_short_path_does_not_fault) {
    const source_location unknown;
    EXPECT_EQ(unknown.line(), 0);
    EXPECT_EQ(unknown.file(), "unknown file");
    EXPECT_EQ(unknown.function(), "unknown function");
    // Shorter than the source root: given back whole.
    EXPECT_EQ(source_location(1, "x", "f").short_file(), "x");
}

TEST(source_location, short_function_table) {
    struct {
        const char* function;
        const char* expected;
    } cases[] = {
        {"void tvk::libs::core::detail::check_pid(const string&)",
         "tvk::libs::core::detail::check_pid"},
        {"tvk::libs::core::timer_impl::reset_impl(tvk::libs::core::timer::time_point)::<lambda("
         "const boost::system::error_code&)>",
         "tvk::libs::core::timer_impl::reset_impl"},
        {"main(int, char**)::<lambda()>", "main(int, char**)::<lambda()>"},
        {"no parenthesis tvk::x", "no parenthesis tvk::x"},
        {"void tvk::a::tvk::b()", "tvk::b"},
        {"tvk::(", "tvk::"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(source_location(1, __FILE__, c.function).short_function(), c.expected)
            << c.function;
    }
}

TEST(exception, what_is_short_file_line_and_message) {
    const auto location = source_location(64, __FILE__, "f");
    const tvk::libs::core::exception e("Process is running", location);
    EXPECT_STREQ(e.what(), "/libs/core/tests/exception_test.cpp:64 Process is running");
    EXPECT_EQ(e.get_string_error(), "Process is running");
    EXPECT_EQ(e.get_source_location().line(), 64);
    const tvk::libs::core::exception empty("", location);
    EXPECT_STREQ(empty.what(), "/libs/core/tests/exception_test.cpp:64 ");
}

TEST(exception, located_exception_describes_location_only) {
    const located_exception e(source_location(7, __FILE__, "f"));
    EXPECT_STREQ(e.what(), "/libs/core/tests/exception_test.cpp:7");
}

TEST(exception, check_failed_is_caught_as_each_base) {
    const auto raise = [] { TVK_CHECK(1 + 1 == 3); };
    EXPECT_THROW(raise(), check_failed_exception);
    EXPECT_THROW(raise(), tvk::libs::core::exception);
    EXPECT_THROW(raise(), located_exception);
    EXPECT_THROW(raise(), std::exception);
    try {
        raise();
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "check failed: 1 + 1 == 3");
    }
    const check_failed_exception x("x", source_location(131, __FILE__, "f"));
    EXPECT_STREQ(x.what(), "/libs/core/tests/exception_test.cpp:131 check failed: x");
}
