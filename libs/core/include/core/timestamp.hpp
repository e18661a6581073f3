#pragma once

#include <time.h>

#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {

// A point of wall-clock time: milliseconds since the Unix epoch, UTC.
class timestamp {
public:
    using time_point =
        std::chrono::time_point<std::chrono::system_clock, std::chrono::milliseconds>;

    timestamp() = default;
    // _milliseconds is not limited to 0..999: 1500 adds one and a half seconds.
    timestamp(time_t _seconds, unsigned int _milliseconds)
        : m_time_point(std::chrono::milliseconds(static_cast<std::int64_t>(_seconds) * 1000 +
                                                 static_cast<std::int64_t>(_milliseconds))) {}
    explicit timestamp(std::chrono::milliseconds _since_epoch) : m_time_point(_since_epoch) {}
    // Parses ISO 8601 text; raises exception when it is not a time.
    explicit timestamp(const boost::string_view& _text) : timestamp(parse_or_throw(_text)) {}
    timestamp(int) = delete;

    // "Y-M-D?h:m:s[.fff]" with anything after the seconds ignored; always read as UTC. Fields
    // out of their usual range are normalised (month 13 is January of the next year, second
    // 90 is a minute and a half); none when the time falls outside the millisecond count,
    // the seconds are not finite, or a number lies beyond 64 bits.
    static boost::optional<timestamp> try_parse(const boost::string_view& _text) {
        // The fields of scanf's "%d-%d-%d%c%d:%d:%f", read without its limits: an int there
        // would overflow, and what does not fit must give none, not a wrong time.
        const std::string text(_text.data(), _text.size());
        const char* position = text.c_str();
        std::int64_t year = 0, month = 0, day = 0, hours = 0, minutes = 0;
        if (!scan_integer(position, year) || !scan_literal(position, '-') ||
            !scan_integer(position, month) || !scan_literal(position, '-') ||
            !scan_integer(position, day) || !scan_literal(position, '\0') ||
            !scan_integer(position, hours) || !scan_literal(position, ':') ||
            !scan_integer(position, minutes) || !scan_literal(position, ':')) {
            return boost::none;
        }
        char* end = nullptr;
        const float seconds = std::strtof(position, &end);
        if (end == position || !std::isfinite(seconds)) {
            return boost::none;
        }
        // No other field can bring a time with this many seconds back into range.
        if (std::fabs(seconds) >= 1e30f) {
            return boost::none;
        }
        const float fraction = seconds - std::trunc(seconds);
        // Signed, so that a negative seconds field does not wrap around.
        const long milliseconds = std::lround(fraction * 1000.0f);

        // Wide enough for every field at its extreme; the result is checked at the end.
        const wide months = static_cast<wide>(month) - 1;
        const wide days = days_from_civil(static_cast<wide>(year) + floor_div(months, 12),
                                          months - floor_div(months, 12) * 12) +
                          (static_cast<wide>(day) - 1);
        const wide total_seconds = days * 86400 + static_cast<wide>(hours) * 3600 +
                                   static_cast<wide>(minutes) * 60 +
                                   static_cast<wide>(std::trunc(seconds));
        const wide total = total_seconds * 1000 + milliseconds;
        if (total < std::numeric_limits<std::int64_t>::min() ||
            total > std::numeric_limits<std::int64_t>::max()) {
            return boost::none;
        }
        return timestamp(std::chrono::milliseconds(static_cast<std::int64_t>(total)));
    }

    static timestamp current_time() {
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        return timestamp(now.tv_sec, static_cast<unsigned int>(now.tv_nsec / 1000000));
    }

    std::string to_iso_8601(bool _with_milleseconds, char _delimiter, bool _with_Z) const {
        const time_t seconds = get_ts();
        struct tm broken_down {};
        gmtime_r(&seconds, &broken_down);
        // Room for years of nine digits and a sign: the millisecond count reaches them.
        char buffer[32] = {};
        const auto length =
            std::strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S", &broken_down);
        std::string text(buffer, length);
        // The blank between date and time; at position 10 only for years of four digits.
        const auto blank = text.find(' ');
        if (blank != std::string::npos) {
            text[blank] = _delimiter;
        }
        if (_with_milleseconds) {
            char ms[8];
            std::snprintf(ms, sizeof(ms), ".%03u", get_ms());
            text += ms;
        }
        if (_with_Z) {
            text += 'Z';
        }
        return text;
    }

    // Whole seconds since the epoch, rounded down (so times before 1970 stay consistent
    // with get_ms).
    time_t get_ts() const { return static_cast<time_t>(floor_div(count(), 1000)); }
    // Milliseconds within the second, 0..999.
    unsigned int get_ms() const {
        return static_cast<unsigned int>(count() - floor_div(count(), 1000) * 1000);
    }
    std::chrono::milliseconds get_time_since_epoch() const {
        return m_time_point.time_since_epoch();
    }

    friend bool operator==(const timestamp& _a, const timestamp& _b) {
        return _a.m_time_point == _b.m_time_point;
    }
    friend bool operator!=(const timestamp& _a, const timestamp& _b) { return !(_a == _b); }
    friend bool operator<(const timestamp& _a, const timestamp& _b) {
        return _a.m_time_point < _b.m_time_point;
    }
    friend bool operator>(const timestamp& _a, const timestamp& _b) { return _b < _a; }
    friend bool operator<=(const timestamp& _a, const timestamp& _b) { return !(_b < _a); }
    friend bool operator>=(const timestamp& _a, const timestamp& _b) { return !(_a < _b); }

    friend std::chrono::milliseconds operator-(const timestamp& _a, const timestamp& _b) {
        return _a.m_time_point - _b.m_time_point;
    }
    timestamp& operator+=(std::chrono::milliseconds _duration) {
        m_time_point += _duration;
        return *this;
    }
    timestamp& operator-=(std::chrono::milliseconds _duration) {
        m_time_point -= _duration;
        return *this;
    }
    friend timestamp operator+(timestamp _t, std::chrono::milliseconds _duration) {
        return _t += _duration;
    }
    friend timestamp operator-(timestamp _t, std::chrono::milliseconds _duration) {
        return _t -= _duration;
    }

    // The millisecond count in decimal; deserialize() reads it back.
    std::string serialize() const { return std::to_string(count()); }
    static timestamp deserialize(boost::string_view _text) {
        const std::string text(_text.data(), _text.size());
        std::size_t used = 0;
        long long value = 0;
        try {
            value = std::stoll(text, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != text.size()) {
            TVK_THROW("timestamp: \"" + text + "\" cannot be deserialized!");
        }
        return timestamp(std::chrono::milliseconds(value));
    }
    std::string to_string() const { return to_iso_8601(true, ' ', false); }
    std::string to_json_string() const { return "\"" + to_iso_8601(true, 'T', true) + "\""; }
    std::string to_iso_8601_string(bool _with_milleseconds) const {
        return to_iso_8601(_with_milleseconds, 'T', true);
    }

private:
    __extension__ typedef __int128 wide;

    // What scanf's %d accepts: blanks, a sign, then at least one digit. False when there is
    // no number or it lies beyond 64 bits.
    static bool scan_integer(const char*& _position, std::int64_t& _value) {
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(_position, &end, 10);
        if (end == _position || errno == ERANGE) {
            return false;
        }
        _position = end;
        _value = value;
        return true;
    }
    // _expected, or any one character when it is the NUL character (scanf's %c).
    static bool scan_literal(const char*& _position, char _expected) {
        if (*_position == '\0' || (_expected != '\0' && *_position != _expected)) {
            return false;
        }
        ++_position;
        return true;
    }
    // Days from 1970-01-01 to the first day of _month (0 to 11) of _year, in the proleptic
    // Gregorian calendar that timegm uses.
    static wide days_from_civil(wide _year, wide _month) {
        const wide year = _month < 2 ? _year - 1 : _year;
        const wide era = floor_div(year, 400);
        const wide year_of_era = year - era * 400;
        const wide day_of_year = (153 * (_month < 2 ? _month + 10 : _month - 2) + 2) / 5;
        const wide day_of_era =
            year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
        return era * 146097 + day_of_era - 719468;
    }

    static timestamp parse_or_throw(const boost::string_view& _text) {
        auto parsed = try_parse(_text);
        if (!parsed) {
            TVK_THROW("timestamp: \"" + std::string(_text.data(), _text.size()) + "\" is invalid!");
        }
        return *parsed;
    }
    template <class I>
    static I floor_div(I _value, std::int64_t _divisor) {
        const I quotient = _value / _divisor;
        return (_value % _divisor < 0) ? quotient - 1 : quotient;
    }
    std::int64_t count() const { return m_time_point.time_since_epoch().count(); }

    time_point m_time_point{};
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
