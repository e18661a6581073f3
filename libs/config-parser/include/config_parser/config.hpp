#pragma once

#include <json/value.h>

#include <boost/optional.hpp>
#include <boost/type_index.hpp>
#include <initializer_list>
#include <istream>
#include <memory>
#include <string>

#include "config_parser/dictionary.hpp"
#include "config_parser/result.hpp"
#include "config_parser/value.hpp"

namespace tvk {
namespace libs {
namespace config {

enum class type : int { json = 0 };

// The name of a type in look-up failure texts.
template <class _type>
std::string get_type_name() {
    return boost::typeindex::type_id<_type>().pretty_name();
}

template <>
inline std::string get_type_name<std::string>() {
    return "string";
}

template <>
inline std::string get_type_name<array>() {
    return "array";
}

// A parsed configuration document. Every reference and range it hands out points into it and
// is valid only while it lives.
class config {
public:
    virtual ~config() = default;

    // Parses the whole stream; raises std::runtime_error "Cannot parse json: ..." when it is
    // not a JSON document.
    template <type _Type>
    static std::unique_ptr<config> create(std::istream& _stream);

    // The root entry under _key read as _Type; nothing for a missing key and a wrong kind alike.
    template <class _Type>
    boost::optional<_Type> get(const std::string& _key) const {
        return get_root().template get<_Type>(_key);
    }

    // Follows the keys of _path (at least one) through nested objects and reads the last one
    // as _Type. A whole number outside the int range read as int raises Json::LogicError, its
    // text followed by ", path: " and the keys joined with ".".
    template <class _Type>
    result<_Type> get_by_path(const std::initializer_list<std::string>& _path) const;

private:
    virtual object get_root() const = 0;
};

template <class _Type>
result<_Type> config::get_by_path(const std::initializer_list<std::string>& _path) const {
    std::string full_path;
    for (auto key = _path.begin(); key != _path.end(); ++key) {
        if (key != _path.begin()) {
            full_path += '.';
        }
        full_path += *key;
    }
    boost::optional<_Type> found;
    // Nothing to read in an empty path: a failure like any missing field.
    if (_path.size() != 0) {
        try {
            // Every key but the last names an object; the walk stops at the first one missing.
            const dictionary* section = &get_root();
            const auto last = _path.end() - 1;
            std::string walked;
            for (auto key = _path.begin(); key != last; ++key) {
                walked += (key == _path.begin() ? "" : ".") + *key;
                const auto next = section->template get<const dictionary&>(*key);
                if (!next) {
                    return error_reason{"Can not find object <object>: " + walked +
                                        ", path: " + full_path};
                }
                section = &*next;
            }
            found = section->template get<_Type>(*last);
        } catch (const Json::LogicError& e) {
            // jsoncpp's own text does not say which setting held the number.
            throw Json::LogicError(std::string(e.what()) + ", path: " + full_path);
        }
    }
    if (!found) {
        return error_reason{"Can not find field <" + get_type_name<_Type>() + ">: " + full_path};
    }
    return *found;
}

template <>
std::unique_ptr<config> config::create<type::json>(std::istream& _stream);

}  // namespace config
}  // namespace libs
}  // namespace tvk
