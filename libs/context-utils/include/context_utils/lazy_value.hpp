#pragma once

#include <json/json.h>

#include <algorithm>
#include <boost/optional.hpp>
#include <string>
#include <utility>
#include <vector>

#include "context_utils/timestamp.hpp"
#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

struct utils {
    // The error of a required field: "\"<name>\" is not <type name>!", where the name is
    // _description when given, else _key. Built, not thrown.
    static tvk::libs::core::exception make_exception(const char* _key, const char* _description,
                                                     const char* _type_name) {
        return tvk::libs::core::exception(
            "\"" + field_name(_key, _description) + "\" is not " + _type_name + "!",
            TVK_SOURCE_LOCATION);
    }

    static std::string field_name(const char* _key, const char* _description) {
        return std::string(_description != nullptr ? _description : _key);
    }
};

namespace detail {

// The required form shared by the policies: the tolerant conversion or the field's error.
template <class Policy>
typename Policy::storage_type convert_or_throw(const Json::Value& _value, const char* _key,
                                               const char* _description, const char* _type_name) {
    auto value = Policy::try_convert(_value);
    if (!value) {
        throw utils::make_exception(_key, _description, _type_name);
    }
    return std::move(*value);
}

// A scalar policy: the jsoncpp test and accessor of one type, handed out by value.
template <class T, bool (Json::Value::*Test)() const, T (Json::Value::*Accessor)() const>
struct scalar_value {
    typedef T storage_type;
    typedef T return_type;

    static boost::optional<storage_type> try_convert(const Json::Value& _value) {
        if (!(_value.*Test)()) {
            return boost::none;
        }
        return (_value.*Accessor)();
    }
    static return_type get_from_storage(const boost::optional<storage_type>& _storage) {
        return *_storage;
    }
};

}  // namespace detail

// A JSON string, handed out as a reference into the cache.
struct string_value {
    typedef std::string storage_type;
    typedef const std::string& return_type;

    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        return detail::convert_or_throw<string_value>(_value, _key, _description, "a string");
    }
    static boost::optional<storage_type> try_convert(const Json::Value& _value) {
        if (!_value.isString()) {
            return boost::none;
        }
        return _value.asString();
    }
    static return_type get_from_storage(const boost::optional<storage_type>& _storage) {
        return *_storage;
    }
};

// true or false only.
struct bool_value : detail::scalar_value<bool, &Json::Value::isBool, &Json::Value::asBool> {
    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        return detail::convert_or_throw<bool_value>(_value, _key, _description, "a bool");
    }
};

// An integral number in the range of int (5.0 counts, 5.5 does not).
struct int_value : detail::scalar_value<int, &Json::Value::isInt, &Json::Value::asInt> {
    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        return detail::convert_or_throw<int_value>(_value, _key, _description, "an int");
    }
};

// An integral number in the range of unsigned int.
struct uint_value : detail::scalar_value<unsigned int, &Json::Value::isUInt, &Json::Value::asUInt> {
    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        return detail::convert_or_throw<uint_value>(_value, _key, _description, "an unsigned int");
    }
};

// Any JSON number, cut toward zero; one outside the range of int makes jsoncpp raise
// Json::LogicError.
struct numeric_value : detail::scalar_value<int, &Json::Value::isNumeric, &Json::Value::asInt> {
    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        return detail::convert_or_throw<numeric_value>(_value, _key, _description, "a number");
    }
};

// Any JSON number, cut toward zero; a negative one or one above the range of unsigned int
// makes jsoncpp raise Json::LogicError.
struct unumeric_value
    : detail::scalar_value<unsigned int, &Json::Value::isNumeric, &Json::Value::asUInt> {
    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        return detail::convert_or_throw<unumeric_value>(_value, _key, _description,
                                                        "an unsigned number");
    }
};

// A JSON string holding an ISO 8601 time.
struct timestamp_value {
    typedef timestamp storage_type;
    typedef timestamp return_type;

    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        const std::string text = string_value::convert(_value, _key, _description);
        auto parsed = timestamp::try_parse(text);
        if (!parsed) {
            TVK_THROW("failed to parse timestamp: \"" + utils::field_name(_key, _description) +
                      "\"");
        }
        return *parsed;
    }
    static boost::optional<storage_type> try_convert(const Json::Value& _value) {
        if (!_value.isString()) {
            return boost::none;
        }
        return timestamp::try_parse(_value.asString());
    }
    static return_type get_from_storage(const boost::optional<storage_type>& _storage) {
        return *_storage;
    }
};

// A nested JSON object, seen through Implementation, which is built over a reference to that
// very JSON object and must not outlive it.
template <class Interface, class Implementation>
struct object_value {
    typedef Implementation storage_type;
    typedef const Interface& return_type;

    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        return detail::convert_or_throw<object_value>(_value, _key, _description, "an object");
    }
    static boost::optional<storage_type> try_convert(const Json::Value& _value) {
        boost::optional<storage_type> result;
        if (_value.isObject()) {
            result.emplace(_value);
        }
        return result;
    }
    static return_type get_from_storage(const boost::optional<storage_type>& _storage) {
        return *_storage;
    }
};

// Sorts with the elements' operator<; equal elements all stay.
struct sort_values {
    template <class T>
    static void sort(T&& _values) {
        std::sort(_values.begin(), _values.end());
    }
};

// Keeps the order of the JSON array.
struct do_not_sort_values {
    template <class T>
    static void sort(T&&) {}
};

// A JSON array whose elements StoredValuePolicy accepts; the others are dropped silently.
template <class StoredValuePolicy, class SortPolicy>
struct array_value {
    typedef std::vector<typename StoredValuePolicy::storage_type> _type;
    typedef _type storage_type;
    typedef const _type& return_type;

    static storage_type convert(const Json::Value& _value, const char* _key,
                                const char* _description) {
        return detail::convert_or_throw<array_value>(_value, _key, _description, "an array");
    }
    static boost::optional<storage_type> try_convert(const Json::Value& _value) {
        boost::optional<storage_type> result;
        if (!_value.isArray()) {
            return result;
        }
        result.emplace();
        result->reserve(_value.size());
        for (const Json::Value& element : _value) {
            auto converted = StoredValuePolicy::try_convert(element);
            if (converted) {
                result->push_back(std::move(*converted));
            }
        }
        SortPolicy::sort(*result);
        return result;
    }
    static return_type get_from_storage(const boost::optional<storage_type>& _storage) {
        return *_storage;
    }
};

// Makes a field optional: a missing key, null or a value of the wrong type give an empty
// optional, which is cached like any value.
template <class InnerValuePolicy>
struct optional_value {
    typedef boost::optional<typename InnerValuePolicy::storage_type> storage_type;
    typedef boost::optional<typename InnerValuePolicy::return_type> return_type;

    static storage_type convert(const Json::Value& _value, const char* /*_key*/,
                                const char* /*_description*/) {
        return InnerValuePolicy::try_convert(_value);
    }
    static return_type get_from_storage(const boost::optional<storage_type>& _storage) {
        const storage_type& inner = *_storage;
        if (!inner) {
            return return_type();
        }
        return return_type(InnerValuePolicy::get_from_storage(inner));
    }
};

// One field of a location object, converted on the first successful read and cached for
// the lifetime of the object. A failed conversion is not cached: every read fails again.
template <class ValuePolicy>
class lazy_value {
public:
    typedef typename ValuePolicy::return_type return_type;

    // _object holds the field under _key; _description, when not null, names the field in
    // error messages. A holder that is neither an object nor null makes jsoncpp raise
    // Json::LogicError.
    return_type get(const Json::Value& _object, const char* _key, const char* _description) const {
        if (!m_value) {
            m_value.emplace(ValuePolicy::convert(_object[_key], _key, _description));
        }
        return ValuePolicy::get_from_storage(m_value);
    }

private:
    mutable boost::optional<typename ValuePolicy::storage_type> m_value;
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
