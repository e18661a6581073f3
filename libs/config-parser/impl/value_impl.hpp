#pragma once

#include <json/value.h>

#include <boost/variant.hpp>

#include "config_parser/dictionary.hpp"
#include "config_parser/value.hpp"

namespace tvk {
namespace libs {
namespace config {

// An entry of the tree: a scalar JSON value held by copy, or a reference to a dictionary or a
// range over an array that the document owns.
class value_impl : public value {
public:
    using data = boost::variant<Json::Value, const dictionary&, value::array>;

    explicit value_impl(Json::Value _value);
    explicit value_impl(const dictionary& _dictionary);
    explicit value_impl(array _array);
    value_impl(const value_impl& _other) = default;
    value_impl(value_impl&& _other) = default;

    boost::optional<bool> as_bool() const override;
    boost::optional<int> as_int() const override;
    boost::optional<double> as_double() const override;
    boost::optional<std::string> as_string() const override;
    boost::optional<const dictionary&> as_object() const override;
    boost::optional<array> as_array() const override;

private:
    // The scalar held; null for a dictionary or an array entry.
    const Json::Value* json() const;

    data m_value;
};

}  // namespace config
}  // namespace libs
}  // namespace tvk
