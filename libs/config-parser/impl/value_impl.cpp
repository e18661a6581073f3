#include "value_impl.hpp"

#include <utility>

namespace tvk {
namespace libs {
namespace config {

value_impl::value_impl(Json::Value _value) : m_value(std::move(_value)) {}

value_impl::value_impl(const dictionary& _dictionary) : m_value(_dictionary) {}

value_impl::value_impl(array _array) : m_value(std::move(_array)) {}

const Json::Value* value_impl::json() const {
    return boost::get<Json::Value>(&m_value);
}

boost::optional<bool> value_impl::as_bool() const {
    const auto* json_value = json();
    if (json_value == nullptr || !json_value->isBool()) {
        return boost::none;
    }
    return json_value->asBool();
}

boost::optional<int> value_impl::as_int() const {
    const auto* json_value = json();
    if (json_value == nullptr || !json_value->isIntegral()) {
        return boost::none;
    }
    // Outside the int range asInt raises Json::LogicError; the look-up that asked names the key.
    return json_value->asInt();
}

boost::optional<double> value_impl::as_double() const {
    const auto* json_value = json();
    if (json_value == nullptr || !json_value->isDouble()) {
        return boost::none;
    }
    return json_value->asDouble();
}

boost::optional<std::string> value_impl::as_string() const {
    const auto* json_value = json();
    if (json_value == nullptr || !json_value->isString()) {
        return boost::none;
    }
    return json_value->asString();
}

boost::optional<const dictionary&> value_impl::as_object() const {
    if (const auto* held = boost::get<const dictionary&>(&m_value)) {
        return *held;
    }
    return boost::none;
}

boost::optional<value::array> value_impl::as_array() const {
    if (const auto* held = boost::get<value::array>(&m_value)) {
        return *held;
    }
    return boost::none;
}

}  // namespace config
}  // namespace libs
}  // namespace tvk
