#pragma once

#include <regex>
#include <string>
#include <vector>

#include "test_support/debug_socket_collector.hpp"

namespace log_bodies {

// The time at the start of a socket line: "%Y-%m-%d %H:%M:%S.mmm ".
const std::string time_pattern = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";

// The lines after the connection line, with the time replaced by "<t> ".
inline std::vector<std::string> bodies(const std::vector<std::string>& _lines) {
    static const std::regex time(time_pattern);
    std::vector<std::string> result;
    for (const auto& line : _lines) {
        if (line.find("Connected to socket") == std::string::npos) {
            result.push_back(
                std::regex_replace(line, time, "<t> ", std::regex_constants::format_first_only));
        }
    }
    return result;
}

// Waits until at least _count lines besides the connection line arrived; returns them.
inline std::vector<std::string> wait_for_bodies(
    const test_support::debug_socket_collector& _collector, std::size_t _count) {
    _collector.wait_for([_count](const std::vector<std::string>& _lines) {
        return bodies(_lines).size() >= _count;
    });
    return bodies(_collector.lines());
}

}  // namespace log_bodies
