#pragma once

#include <boost/optional.hpp>
#include <string>
#include <vector>

#include "config_parser/value.hpp"

namespace tvk {
namespace libs {
namespace config {

// A JSON object of the configuration tree: keys to entries.
class dictionary {
public:
    virtual ~dictionary() = default;

    // The entry under _key, or nothing.
    virtual boost::optional<const value&> get_value(const std::string& _key) const = 0;
    // Every key, in ascending byte order.
    virtual std::vector<std::string> get_keys() const = 0;

    // The entry under _key read as _Type; nothing for a missing key and a wrong kind alike.
    template <class _Type>
    boost::optional<_Type> get(const std::string& _key) const {
        const auto found = get_value(_key);
        if (!found) {
            return boost::none;
        }
        return found->template get<_Type>();
    }
};

}  // namespace config
}  // namespace libs
}  // namespace tvk
