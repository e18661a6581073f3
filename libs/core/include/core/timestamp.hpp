#pragma once

#include <time.h>

#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

    // "Y-M-D?h:m:s[.fff]" with anything after the seconds ignored; always read as UTC.
    static boost::optional<timestamp> try_parse(const boost::string_view& _text) {
        // sscanf needs a terminated string; a view may not be one.
        const std::string text(_text.data(), _text.size());
        int year = 0, month = 0, day = 0, hours = 0, minutes = 0;
        char delimiter = 0;
        float seconds = 0;
        if (std::sscanf(text.c_str(), "%d-%d-%d%c%d:%d:%f", &year, &month, &day, &delimiter, &hours,
                        &minutes, &seconds) != 7) {
            return boost::none;
        }
        if (!std::isfinite(seconds) || std::fabs(seconds) > 1e9f) {
            return boost::none;
        }
        struct tm broken_down {};
        broken_down.tm_year = year - 1900;
        broken_down.tm_mon = month - 1;
        broken_down.tm_mday = day;
        broken_down.tm_hour = hours;
        broken_down.tm_min = minutes;
        broken_down.tm_sec = static_cast<int>(seconds);
        broken_down.tm_isdst = -1;
        const float fraction = seconds - std::trunc(seconds);
        // Signed, so that a negative seconds field does not wrap around.
        const long milliseconds = std::lround(fraction * 1000.0f);
        errno = 0;
        const time_t since_epoch = timegm(&broken_down);
        if (since_epoch == static_cast<time_t>(-1) && errno == EOVERFLOW) {
            return boost::none;
        }
        return timestamp(std::chrono::milliseconds(static_cast<std::int64_t>(since_epoch) * 1000 +
                                                   milliseconds));
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
        char buffer[25] = {};
        const auto length =
            std::strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S", &broken_down);
        std::string text(buffer, length);
        if (text.size() > 10) {
            text[10] = _delimiter;
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
    static timestamp parse_or_throw(const boost::string_view& _text) {
        auto parsed = try_parse(_text);
        if (!parsed) {
            TVK_THROW("timestamp: \"" + std::string(_text.data(), _text.size()) + "\" is invalid!");
        }
        return *parsed;
    }
    static std::int64_t floor_div(std::int64_t _value, std::int64_t _divisor) {
        const auto quotient = _value / _divisor;
        return (_value % _divisor < 0) ? quotient - 1 : quotient;
    }
    std::int64_t count() const { return m_time_point.time_since_epoch().count(); }

    time_point m_time_point{};
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
