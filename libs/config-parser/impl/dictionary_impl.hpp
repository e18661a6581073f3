#pragma once

#include <map>
#include <string>
#include <vector>

#include "config_parser/dictionary.hpp"
#include "value_impl.hpp"

namespace tvk {
namespace libs {
namespace config {

class dictionary_impl : public dictionary {
public:
    boost::optional<const value&> get_value(const std::string& _key) const override;
    std::vector<std::string> get_keys() const override;

    // Keeps the entry already stored under _key, if any.
    void add_value(const std::string& _key, value_impl _value);

private:
    std::map<std::string, value_impl> m_data;
};

}  // namespace config
}  // namespace libs
}  // namespace tvk
