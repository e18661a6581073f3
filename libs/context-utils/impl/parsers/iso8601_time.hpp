#pragma once

#include <boost/optional.hpp>
#include <cstdint>
#include <string>

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A fixed-position reader of "YYYY-MM-DDThh:mm:ss.fffZ" times, always taken as UTC.
class iso8601_time {
public:
    struct time {
        // Seconds since the epoch, negative before 1970; a getter that gives them as an
        // unsigned int narrows them itself.
        std::int64_t ts;
        unsigned int ms;
    };

    // None for a text shorter than 24 characters or a field out of range; otherwise the fields
    // read at their offsets, normalised. Never raises.
    static boost::optional<time> parse_time(const std::string& _text);
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
