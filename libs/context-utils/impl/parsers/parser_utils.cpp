#include "parsers/parser_utils.hpp"

#include "parsers/iso8601_time.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

namespace {

const char* name_of(const char* _key, const char* _description) {
    return _description != nullptr ? _description : _key;
}

template <class T, class Accepts, class Convert>
boost::optional<T> try_get(const Json::Value& _object, const char* _key, Accepts _accepts,
                           Convert _convert) {
    const Json::Value& member = _object[_key];
    if (!(member.*_accepts)()) {
        return boost::none;
    }
    return (member.*_convert)();
}

boost::optional<core::timestamp> to_timestamp(const boost::optional<std::string>& _text) {
    if (!_text) {
        return boost::none;
    }
    const auto time = iso8601_time::parse_time(*_text);
    if (!time) {
        return boost::none;
    }
    return core::timestamp(static_cast<time_t>(time->ts), time->ms);
}

}  // namespace

std::logic_error parser_utils::make_exception(const char* _key, const char* _description,
                                              const char* _type_name) {
    return std::logic_error(std::string("context-utils: \"") + name_of(_key, _description) +
                            "\" is not " + _type_name + "!");
}

boost::optional<std::string> parser_utils::try_get_string(const Json::Value& _object,
                                                          const char* _key) {
    return try_get<std::string>(_object, _key, &Json::Value::isString, &Json::Value::asString);
}

std::string parser_utils::get_string(const Json::Value& _object, const char* _key,
                                     const char* _description) {
    auto value = try_get_string(_object, _key);
    return value ? std::move(*value) : throw make_exception(_key, _description, "a string");
}

boost::optional<bool> parser_utils::try_get_bool(const Json::Value& _object, const char* _key) {
    return try_get<bool>(_object, _key, &Json::Value::isBool, &Json::Value::asBool);
}

bool parser_utils::get_bool(const Json::Value& _object, const char* _key,
                            const char* _description) {
    auto value = try_get_bool(_object, _key);
    return value ? std::move(*value) : throw make_exception(_key, _description, "a bool");
}

boost::optional<int> parser_utils::try_get_int(const Json::Value& _object, const char* _key) {
    return try_get<int>(_object, _key, &Json::Value::isInt, &Json::Value::asInt);
}

int parser_utils::get_int(const Json::Value& _object, const char* _key, const char* _description) {
    auto value = try_get_int(_object, _key);
    return value ? std::move(*value) : throw make_exception(_key, _description, "an int");
}

boost::optional<int> parser_utils::try_get_number(const Json::Value& _object, const char* _key) {
    return try_get<int>(_object, _key, &Json::Value::isNumeric, &Json::Value::asInt);
}

int parser_utils::get_number(const Json::Value& _object, const char* _key,
                             const char* _description) {
    auto value = try_get_number(_object, _key);
    return value ? std::move(*value) : throw make_exception(_key, _description, "a number");
}

boost::optional<unsigned int> parser_utils::try_get_uint(const Json::Value& _object,
                                                         const char* _key) {
    return try_get<unsigned int>(_object, _key, &Json::Value::isUInt, &Json::Value::asUInt);
}

unsigned int parser_utils::get_uint(const Json::Value& _object, const char* _key,
                                    const char* _description) {
    auto value = try_get_uint(_object, _key);
    return value ? std::move(*value) : throw make_exception(_key, _description, "an uint");
}

core::timestamp parser_utils::get_iso8601_timestamp(const Json::Value& _object, const char* _key,
                                                    const char* _description) {
    const auto time = to_timestamp(get_string(_object, _key, _description));
    if (!time) {
        throw std::logic_error(std::string("context-utils: failed to parse timestamp: \"") +
                               name_of(_key, _description) + "\"");
    }
    return *time;
}

boost::optional<core::timestamp> parser_utils::try_get_iso8601_timestamp(const Json::Value& _object,
                                                                         const char* _key) {
    return to_timestamp(try_get_string(_object, _key));
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
