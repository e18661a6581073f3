#include "config_json_impl.hpp"

#include <json/reader.h>

#include <boost/throw_exception.hpp>
#include <stdexcept>

namespace tvk {
namespace libs {
namespace config {

config_json_impl::config_json_impl(std::istream& _stream) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    // jsoncpp's defaults would accept these, which a strict JSON file never holds.
    builder["allowTrailingCommas"] = false;
    builder["skipBom"] = false;
    Json::Value root;
    std::string errors;
    if (!Json::parseFromStream(builder, _stream, &root, &errors)) {
        boost::throw_exception(std::runtime_error("Cannot parse json: " + errors),
                               BOOST_CURRENT_LOCATION);
    }
    // A scalar root has no members and leaves the root empty; the elements of an array root
    // all come with the empty name, of which the first is kept.
    processMembers(root, m_dictionaries.emplace_back());
}

object config_json_impl::get_root() const {
    return m_dictionaries.front();
}

void config_json_impl::processValue(const Json::Value& _value, const std::string& _name,
                                    dictionary_impl& _parent) {
    if (_value.isObject()) {
        dictionary_impl& child = m_dictionaries.emplace_back();
        _parent.add_value(_name, value_impl(static_cast<const dictionary&>(child)));
        processMembers(_value, child);
    } else if (_value.isArray()) {
        _parent.add_value(_name, value_impl(makeArray(_value)));
    } else {
        _parent.add_value(_name, value_impl(_value));
    }
}

void config_json_impl::processArray(const Json::Value& _array, std::vector<value_impl>& _out) {
    for (const auto& element : _array) {
        if (element.isObject()) {
            dictionary_impl& child = m_dictionaries.emplace_back();
            _out.emplace_back(static_cast<const dictionary&>(child));
            processMembers(element, child);
        } else if (element.isArray()) {
            _out.emplace_back(makeArray(element));
        } else {
            _out.emplace_back(element);
        }
    }
}

void config_json_impl::processMembers(const Json::Value& _object, dictionary_impl& _dictionary) {
    for (auto member = _object.begin(); member != _object.end(); ++member) {
        processValue(*member, member.name(), _dictionary);
    }
}

value::array config_json_impl::makeArray(const Json::Value& _array) {
    std::vector<value_impl>& elements = m_arrays.emplace_back();
    processArray(_array, elements);
    // The range is formed only now: filling the vector may have moved its elements.
    return value::array(elements);
}

template <>
std::unique_ptr<config> config::create<type::json>(std::istream& _stream) {
    return std::make_unique<config_json_impl>(_stream);
}

}  // namespace config
}  // namespace libs
}  // namespace tvk
