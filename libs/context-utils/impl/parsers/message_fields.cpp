#include "parsers/message_fields.hpp"

#include <boost/range/adaptor/transformed.hpp>
#include <stdexcept>

#include "parsers/parser_utils.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

namespace {

// A named function object: any_range copies and assigns its iterators, which a lambda's
// closure type does not allow.
struct as_string {
    std::string operator()(const Json::Value& _value) const { return _value.asString(); }
};

timestamp updated_at(const Json::Value& _object) {
    return parser_utils::get_iso8601_timestamp(_object, "updated_at");
}

}  // namespace

string_list make_string_list(const Json::Value& _array) {
    return _array | boost::adaptors::transformed(as_string());
}

unsigned int change_seconds(const Json::Value& _object,
                            const boost::optional<const Json::Value&>& _notify) {
    if (_notify) {
        return parser_utils::get_uint(*_notify, "ts");
    }
    return static_cast<unsigned int>(updated_at(_object).get_ts());
}

unsigned int change_milliseconds(const Json::Value& _object,
                                 const boost::optional<const Json::Value&>& _notify) {
    if (_notify) {
        return parser_utils::get_uint(*_notify, "ms");
    }
    return updated_at(_object).get_ms();
}

boost::optional<unsigned int> non_negative(const boost::optional<int>& _value) {
    if (!_value || *_value < 0) {
        return boost::none;
    }
    return static_cast<unsigned int>(*_value);
}

std::string required_string(const Json::Value& _object, const char* _key) {
    const Json::Value& value = _object[_key];
    if (!value.isString()) {
        throw std::logic_error(std::string("context-utils: ") + _key + " is not a string!");
    }
    return value.asString();
}

int required_int(const Json::Value& _object, const char* _key) {
    const Json::Value& value = _object[_key];
    if (!value.isInt()) {
        throw std::logic_error(std::string("context-utils: ") + _key + " is not an int!");
    }
    return value.asInt();
}

timestamp envelope_time(const Json::Value& _message) {
    const int seconds = required_int(_message, "ts");
    required_int(_message, "ms");
    return timestamp(static_cast<time_t>(seconds), _message["ms"].asUInt());
}

iso8601_time::time required_iso8601_fields(const Json::Value& _object, const char* _key) {
    const auto time = iso8601_time::parse_time(required_string(_object, _key));
    if (!time) {
        throw std::logic_error(std::string("context-utils: failed to parse timestamp: \"") + _key +
                               "\"");
    }
    return *time;
}

timestamp required_iso8601_time(const Json::Value& _object, const char* _key) {
    const iso8601_time::time time = required_iso8601_fields(_object, _key);
    return timestamp(static_cast<time_t>(time.ts), time.ms);
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
