#pragma once

#include <json/value.h>

#include <istream>
#include <list>
#include <string>
#include <vector>

#include "config_parser/config.hpp"
#include "dictionary_impl.hpp"
#include "value_impl.hpp"

namespace tvk {
namespace libs {
namespace config {

// The tree of one JSON document. Lists, not vectors: appending never moves the dictionaries
// and arrays that entries already refer to.
class config_json_impl : public config {
public:
    // Raises std::runtime_error "Cannot parse json: " and the reader's errors.
    explicit config_json_impl(std::istream& _stream);
    config_json_impl(const config_json_impl&) = delete;
    config_json_impl& operator=(const config_json_impl&) = delete;

private:
    object get_root() const override;

    void processValue(const Json::Value& _value, const std::string& _name,
                      dictionary_impl& _parent);
    void processArray(const Json::Value& _array, std::vector<value_impl>& _out);
    void processMembers(const Json::Value& _object, dictionary_impl& _dictionary);
    // A new vector filled with the array's entries, and the range over it.
    value::array makeArray(const Json::Value& _array);

    std::list<dictionary_impl> m_dictionaries;  // the first is the root
    std::list<std::vector<value_impl>> m_arrays;
};

}  // namespace config
}  // namespace libs
}  // namespace tvk
