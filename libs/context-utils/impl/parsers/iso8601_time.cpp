#include "parsers/iso8601_time.hpp"

#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

namespace {

constexpr std::size_t full_length = 24;  // "2023-05-04T12:34:56.789Z"
constexpr std::size_t milliseconds_offset = 20;
constexpr std::size_t milliseconds_digits = 3;

// The number strtol reads at _offset, or none when it lies outside the range of long.
boost::optional<long> read_number(const std::string& _text, std::size_t _offset) {
    errno = 0;
    const long value = std::strtol(_text.c_str() + _offset, nullptr, 10);
    if (errno == ERANGE) {
        return boost::none;
    }
    return value;
}

// _value less _base as a broken-down time field, or none when it does not fit one.
boost::optional<int> to_field(const boost::optional<long>& _value, long _base = 0) {
    if (!_value || *_value < std::numeric_limits<int>::min() + _base ||
        *_value > std::numeric_limits<int>::max() + _base) {
        return boost::none;
    }
    return static_cast<int>(*_value - _base);
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
    const auto year = to_field(read_number(_text, 0), 1900);
    const auto month = to_field(read_number(_text, 5), 1);
    const auto day = to_field(read_number(_text, 8));
    const auto hour = to_field(read_number(_text, 11));
    const auto minute = to_field(read_number(_text, 14));
    const auto second = to_field(read_number(_text, 17));
    if (!year || !month || !day || !hour || !minute || !second) {
        return boost::none;
    }
    struct tm broken_down {};
    broken_down.tm_year = *year;
    broken_down.tm_mon = *month;
    broken_down.tm_mday = *day;
    broken_down.tm_hour = *hour;
    broken_down.tm_min = *minute;
    broken_down.tm_sec = *second;
    const unsigned int milliseconds = read_milliseconds(_text);
    errno = 0;
    const time_t since_epoch = timegm(&broken_down);
    if (since_epoch == static_cast<time_t>(-1) && errno == EOVERFLOW) {
        return boost::none;
    }
    // A timestamp counts milliseconds in 64 bits: a year far beyond that is not a time.
    constexpr std::int64_t max_seconds = std::numeric_limits<std::int64_t>::max() / 1000 - 1;
    if (since_epoch > max_seconds || since_epoch < -max_seconds) {
        return boost::none;
    }
    return time{static_cast<std::int64_t>(since_epoch), milliseconds};
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
