#include "parsers/pos_impl.hpp"

#include "core/exception.hpp"
#include "core/json.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

namespace {

// Each getter passes its own location, so that an error points at the field's getter.
boost::string_view text_field(const Json::Value& _value, const char* _error,
                              core::source_location _location) {
    if (!_value.isString()) {
        throw core::exception(_error, _location);
    }
    return core::json::as_string_view(_value);
}

int number_field(const Json::Value& _value, const char* _error, core::source_location _location) {
    if (!_value.isNumeric()) {
        throw core::exception(_error, _location);
    }
    return _value.asInt();
}

}  // namespace

pos_impl::pos_impl(const Json::Value& _json_value) : m_json_value(_json_value) {}

boost::string_view pos_impl::get_trackable_uid() {
    return text_field(m_json_value["tk_uid"], "context-utils: pos: tk_uid is not a string!",
                      TVK_SOURCE_LOCATION);
}

timestamp pos_impl::get_ts() {
    return timestamp(text_field(m_json_value["ts"], "context-utils: pos: ts is not a string!",
                                TVK_SOURCE_LOCATION));
}

int pos_impl::get_x() {
    return number_field(m_json_value["data"]["x"], "context-utils: pos: data.x is not a number!",
                        TVK_SOURCE_LOCATION);
}

int pos_impl::get_y() {
    return number_field(m_json_value["data"]["y"], "context-utils: pos: data.y is not a number!",
                        TVK_SOURCE_LOCATION);
}

int pos_impl::get_z() {
    return number_field(m_json_value["data"]["z"], "context-utils: pos: data.z is not a number!",
                        TVK_SOURCE_LOCATION);
}

boost::string_view pos_impl::get_type() {
    return text_field(m_json_value["data"]["type"],
                      "context-utils: pos: data.type is not a string!", TVK_SOURCE_LOCATION);
}

boost::string_view pos_impl::get_sublocation_uid() {
    return text_field(m_json_value["data"]["sl_uid"],
                      "context-utils: pos: data.sl_uid is not a string!", TVK_SOURCE_LOCATION);
}

unsigned int pos_impl::get_fom() {
    const Json::Value& fom = m_json_value["data"]["fom"];
    if (!fom.isUInt()) {
        TVK_THROW("context-utils: pos: data.fom is not an uint!");
    }
    return fom.asUInt();
}

boost::string_view pos_impl::get_mac() {
    return text_field(m_json_value["data"]["mac"], "context-utils: pos: data.mac is not a string!",
                      TVK_SOURCE_LOCATION);
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
