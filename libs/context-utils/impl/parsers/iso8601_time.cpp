#include "parsers/iso8601_time.hpp"

#include <time.h>

#include <cstdlib>

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

namespace {

constexpr std::size_t full_length = 24;  // "2023-05-04T12:34:56.789Z"
constexpr std::size_t milliseconds_offset = 20;
constexpr std::size_t milliseconds_digits = 3;

long read_number(const std::string& _text, std::size_t _offset) {
    return std::strtol(_text.c_str() + _offset, nullptr, 10);
}

// Exactly the three digits after the seconds' point: ".789123" is 789 ms, not 789123.
// Only digits count, so a sign or a blank cannot turn into a huge unsigned value.
unsigned int read_milliseconds(const std::string& _text) {
    unsigned int milliseconds = 0;
    for (std::size_t i = milliseconds_offset;
         i < milliseconds_offset + milliseconds_digits && i < _text.size(); ++i) {
        const char c = _text[i];
        if (c < '0' || c > '9') {
            break;
        }
        milliseconds = milliseconds * 10 + static_cast<unsigned int>(c - '0');
    }
    return milliseconds;
}

}  // namespace

boost::optional<iso8601_time::time> iso8601_time::parse_time(const std::string& _text) {
    if (_text.size() < full_length) {
        return boost::none;
    }
    struct tm broken_down {};
    broken_down.tm_year = static_cast<int>(read_number(_text, 0) - 1900);
    broken_down.tm_mon = static_cast<int>(read_number(_text, 5) - 1);
    broken_down.tm_mday = static_cast<int>(read_number(_text, 8));
    broken_down.tm_hour = static_cast<int>(read_number(_text, 11));
    broken_down.tm_min = static_cast<int>(read_number(_text, 14));
    broken_down.tm_sec = static_cast<int>(read_number(_text, 17));
    const unsigned int milliseconds = read_milliseconds(_text);
    const auto seconds = static_cast<unsigned int>(timegm(&broken_down));
    return time{seconds, milliseconds};
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
