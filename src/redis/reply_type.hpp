#pragma once

#include <map>
#include <string>

namespace tvk {
namespace redis {

// The kinds of a Redis reply, numbered as hiredis numbers them.
enum class reply_type : int {
    STRING = 1,
    ARRAY = 2,
    INTEGER = 3,
    NIL = 4,
    STATUS = 5,
    ERROR = 6,
    UNKNOWN = 7,
};

// The text of every kind, "string" to "unknown".
extern const std::map<reply_type, std::string> reply_types_strings;

// The kind's text; a value outside the enumeration raises std::out_of_range.
std::string to_string(reply_type _type);

}  // namespace redis
}  // namespace tvk
