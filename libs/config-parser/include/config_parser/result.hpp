#pragma once

#include <boost/optional.hpp>
#include <boost/variant.hpp>
#include <string>
#include <tuple>
#include <utility>

namespace tvk {
namespace libs {
namespace config {

struct error_reason {
    std::string reason;
};

// A look-up's outcome: the value, or the text of why there is none.
template <class _type>
class result {
public:
    using value_type = boost::variant<_type, error_reason>;
    using result_type = _type;

    result(result_type _value) : m_value(std::move(_value)) {}
    result(error_reason _reason) : m_value(std::move(_reason)) {}

    bool ok() const { return m_value.which() == 0; }

    boost::optional<result_type> try_get() const {
        if (const auto* held = boost::get<result_type>(&m_value)) {
            return *held;
        }
        return boost::none;
    }

    // Raises boost::bad_optional_access on a failed result: check ok() first.
    result_type value() const { return try_get().value(); }

    // "" for a good result.
    std::string reason() const {
        if (const auto* held = boost::get<error_reason>(&m_value)) {
            return held->reason;
        }
        return std::string();
    }

private:
    value_type m_value;
};

template <class _type>
std::tuple<_type> ensure_tuple(_type _value) {
    return std::tuple<_type>(std::move(_value));
}

template <class... _types>
std::tuple<_types...> ensure_tuple(std::tuple<_types...> _value) {
    return _value;
}

// Appends r's value to l's values; a failure keeps every reason, one per line, in order.
template <class _ltype, class _rtype>
auto operator+(const result<_ltype>& _l, const result<_rtype>& _r)
    -> result<decltype(std::tuple_cat(ensure_tuple(std::declval<_ltype>()),
                                      std::make_tuple(std::declval<_rtype>())))> {
    using joined = decltype(std::tuple_cat(ensure_tuple(std::declval<_ltype>()),
                                           std::make_tuple(std::declval<_rtype>())));
    if (_l.ok() && _r.ok()) {
        return result<joined>(
            std::tuple_cat(ensure_tuple(_l.value()), std::make_tuple(_r.value())));
    }
    if (!_l.ok() && !_r.ok()) {
        return result<joined>(error_reason{_l.reason() + "\n" + _r.reason()});
    }
    return result<joined>(error_reason{_l.ok() ? _r.reason() : _l.reason()});
}

}  // namespace config
}  // namespace libs
}  // namespace tvk
