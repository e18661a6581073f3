#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/get_config_file_name.hpp"

using tvk::libs::core::get_config_file_name;

namespace {
// Runs get_config_file_name over words as a command line; the error text when it raises.
struct outcome {
    std::string name;
    std::string error;
    std::string file;
};

outcome run(std::vector<std::string> _words) {
    std::vector<char*> argv;
    for (auto& word : _words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    outcome result;
    try {
        result.name = get_config_file_name(static_cast<int>(_words.size()), argv.data());
    } catch (const tvk::libs::core::exception& e) {
        result.error = e.get_string_error();
        result.file = std::string(e.get_source_location().short_file());
    }
    return result;
}
}  // namespace

TEST(get_config_file_name, table_of_command_lines) {
    const std::string not_defined =
        "The configuration file is not defined! Usage: prog -c config_file";
    const std::string usage = "Usage: prog -c config_file";
    struct {
        std::vector<std::string> words;
        std::string name;
        std::string error;
    } cases[] = {
        {{"prog", "-c", "a.json"}, "a.json", ""},
        {{"prog", "-ca.json"}, "a.json", ""},
        {{"prog", "-c", "a", "-c", "b"}, "b", ""},
        {{"prog", "extra", "-c", "a", "more"}, "a", ""},
        {{"prog"}, "", not_defined},
        {{"prog", "-c", ""}, "", not_defined},
        {{"prog", "-c"}, "", usage},
        {{"prog", "-x"}, "", usage},
    };
    // Several calls in one process: each starts from a fresh getopt state.
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            const auto result = run(c.words);
            EXPECT_EQ(result.name, c.name) << c.words.size();
            EXPECT_EQ(result.error, c.error) << c.words.size();
            if (!c.error.empty()) {
                EXPECT_EQ(result.file, "/libs/core/include/core/get_config_file_name.hpp");
            }
        }
    }
}
