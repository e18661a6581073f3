#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "core/pid_file.hpp"
#include "test_support/process.hpp"

using test_support::read_file;
using test_support::temporary_directory;
using tvk::libs::core::write_pid;

namespace {
std::string own_pid() {
    return std::to_string(getpid());
}

std::string error_of(const std::string& _file) {
    try {
        write_pid(_file);
    } catch (const tvk::libs::core::exception& e) {
        return e.get_string_error();
    }
    return std::string();
}
}  // namespace

TEST(pid_file, passing_contents_are_replaced_with_own_pid) {
    const temporary_directory directory;
    // A process that has ended: its pid names nothing.
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    for (const std::string& content :
         {std::string(), std::string("0"), std::string("abc"), std::string("-5"), own_pid(),
          std::to_string(child), std::string("99999999999")}) {
        const auto file = directory.write_file("pid", content);
        EXPECT_EQ(error_of(file), "") << content;
        EXPECT_EQ(read_file(file), own_pid()) << content;
    }
    const auto absent = directory.file("absent");
    EXPECT_EQ(error_of(absent), "");
    EXPECT_EQ(read_file(absent), own_pid());
}

TEST(pid_file, running_process_is_refused_and_file_kept) {
    const temporary_directory directory;
    test_support::child_process sleeper("/bin/sleep", {"30"});
    const auto file = directory.write_file("pid", std::to_string(sleeper.pid()));
    try {
        write_pid(file);
        FAIL() << "no exception";
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "Process is running");
        EXPECT_EQ(e.get_source_location().short_file(), "/libs/core/include/core/pid_file.hpp");
    }
    EXPECT_EQ(read_file(file), std::to_string(sleeper.pid()));
}

TEST(pid_file, unwritable_place_is_an_error) {
    const temporary_directory directory;
    EXPECT_EQ(error_of(directory.file("missing/dir/pid")), "Error opening pid-file!");
}
