#include "value_impl.hpp"

#include <utility>

namespace tvk {
namespace libs {
namespace config {

namespace {
struct object_visitor : boost::static_visitor<boost::optional<const dictionary&>> {
    boost::optional<const dictionary&> operator()(const dictionary& _dictionary) const {
        return _dictionary;
    }
    template <class _Other>
    boost::optional<const dictionary&> operator()(const _Other&) const {
        return boost::none;
    }
};

struct array_visitor : boost::static_visitor<boost::optional<value::array>> {
    boost::optional<value::array> operator()(const value::array& _array) const { return _array; }
    template <class _Other>
    boost::optional<value::array> operator()(const _Other&) const {
        return boost::none;
    }
};

struct json_visitor : boost::static_visitor<const Json::Value*> {
    const Json::Value* operator()(const Json::Value& _json) const { return &_json; }
    template <class _Other>
    const Json::Value* operator()(const _Other&) const {
        return nullptr;
    }
};
}  // namespace

value_impl::value_impl(Json::Value _value) : m_value(std::move(_value)) {}

value_impl::value_impl(const dictionary& _dictionary) : m_value(_dictionary) {}

value_impl::value_impl(array _array) : m_value(std::move(_array)) {}

const Json::Value* value_impl::json() const {
    return boost::apply_visitor(json_visitor(), m_value);
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
    return boost::apply_visitor(object_visitor(), m_value);
}

boost::optional<value::array> value_impl::as_array() const {
    return boost::apply_visitor(array_visitor(), m_value);
}

}  // namespace config
}  // namespace libs
}  // namespace tvk
