#pragma once

#include <json/json.h>

#include <boost/optional.hpp>
#include <string>

#include "context_utils/parsers/string_list.hpp"
#include "context_utils/timestamp.hpp"
#include "parsers/iso8601_time.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// Field readers that the message parsers share beside parser_utils. They raise
// std::logic_error with the texts the parsers' users see.

// A range over _array's elements, each converted with asString when the range is read.
string_list make_string_list(const Json::Value& _array);

// The time of a zone's or trackable object's change: with a message, its envelope's "ts"
// (respectively "ms"); without, the seconds (respectively milliseconds) of _object's
// "updated_at".
unsigned int change_seconds(const Json::Value& _object,
                            const boost::optional<const Json::Value&>& _notify);
unsigned int change_milliseconds(const Json::Value& _object,
                                 const boost::optional<const Json::Value&>& _notify);

// A count that the server sends as a signed number: a negative one is no count at all.
boost::optional<unsigned int> non_negative(const boost::optional<int>& _value);

// _object's member _key when it is a string; else "context-utils: <_key> is not a string!".
std::string required_string(const Json::Value& _object, const char* _key);
// _object's member _key when it is an int; else "context-utils: <_key> is not an int!".
int required_int(const Json::Value& _object, const char* _key);

// The envelope's "ts" seconds and "ms" milliseconds, both ints.
timestamp envelope_time(const Json::Value& _message);

// _object's member _key, a string, read as "YYYY-MM-DDThh:mm:ss.fffZ"; a text that cannot be
// read raises "context-utils: failed to parse timestamp: \"<_key>\"".
iso8601_time::time required_iso8601_fields(const Json::Value& _object, const char* _key);
timestamp required_iso8601_time(const Json::Value& _object, const char* _key);

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
