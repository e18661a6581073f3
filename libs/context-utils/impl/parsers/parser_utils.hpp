#pragma once

#include <json/json.h>

#include <boost/optional.hpp>
#include <stdexcept>
#include <string>

#include "core/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// Eager readers of one member of a JSON object for the message parsers. The get_ forms
// raise std::logic_error "context-utils: \"<name>\" is not <kind>!", where the name is
// _description when it is given, else _key; the try_get_ forms give none instead.
// A holder that is neither an object nor null makes jsoncpp raise its own error.
class parser_utils {
public:
    static std::string get_string(const Json::Value& _object, const char* _key,
                                  const char* _description = nullptr);
    static boost::optional<std::string> try_get_string(const Json::Value& _object,
                                                       const char* _key);

    static bool get_bool(const Json::Value& _object, const char* _key,
                         const char* _description = nullptr);
    static boost::optional<bool> try_get_bool(const Json::Value& _object, const char* _key);

    // Integral numbers within the range of int only (5.0 counts).
    static int get_int(const Json::Value& _object, const char* _key,
                       const char* _description = nullptr);
    static boost::optional<int> try_get_int(const Json::Value& _object, const char* _key);

    // Any number, cut toward zero; one outside the range of int makes jsoncpp raise.
    static int get_number(const Json::Value& _object, const char* _key,
                          const char* _description = nullptr);
    static boost::optional<int> try_get_number(const Json::Value& _object, const char* _key);

    // Integral numbers within the range of unsigned int only.
    static unsigned int get_uint(const Json::Value& _object, const char* _key,
                                 const char* _description = nullptr);
    static boost::optional<unsigned int> try_get_uint(const Json::Value& _object, const char* _key);

    // A "YYYY-MM-DDThh:mm:ss.fffZ" text; an unreadable one raises
    // "context-utils: failed to parse timestamp: \"<name>\"".
    static core::timestamp get_iso8601_timestamp(const Json::Value& _object, const char* _key,
                                                 const char* _description = nullptr);
    static boost::optional<core::timestamp> try_get_iso8601_timestamp(const Json::Value& _object,
                                                                      const char* _key);

private:
    static std::logic_error make_exception(const char* _key, const char* _description,
                                           const char* _type_name);
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
