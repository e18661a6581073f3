#pragma once

#include <boost/optional.hpp>
#include <boost/range/any_range.hpp>
#include <string>

namespace tvk {
namespace libs {
namespace config {

class dictionary;

// One entry of a configuration tree. Each accessor gives the entry in that kind, or nothing
// when the entry is of another kind (null included).
class value {
public:
    using array = boost::any_range<value, boost::bidirectional_traversal_tag, value&, long>;

    virtual ~value() = default;

    // true and false only.
    virtual boost::optional<bool> as_bool() const = 0;
    // Any whole number, 8080.0 included; raises Json::LogicError outside the int range.
    virtual boost::optional<int> as_int() const = 0;
    // Any number.
    virtual boost::optional<double> as_double() const = 0;
    // Strings only: a number is not a string.
    virtual boost::optional<std::string> as_string() const = 0;
    virtual boost::optional<const dictionary&> as_object() const = 0;
    virtual boost::optional<array> as_array() const = 0;

    // The accessor of _Type: bool, int, std::string, const dictionary& or array.
    template <class _Type>
    boost::optional<_Type> get() const;
};

using array = value::array;
using object = const dictionary&;

template <>
inline boost::optional<bool> value::get<bool>() const {
    return as_bool();
}

template <>
inline boost::optional<int> value::get<int>() const {
    return as_int();
}

template <>
inline boost::optional<std::string> value::get<std::string>() const {
    return as_string();
}

template <>
inline boost::optional<const dictionary&> value::get<const dictionary&>() const {
    return as_object();
}

template <>
inline boost::optional<array> value::get<array>() const {
    return as_array();
}

}  // namespace config
}  // namespace libs
}  // namespace tvk
