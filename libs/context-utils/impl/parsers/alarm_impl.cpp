#include "parsers/alarm_impl.hpp"

#include <stdexcept>

#include "parsers/message_fields.hpp"
#include "parsers/parser_utils.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

alarm_impl::alarm_impl(const Json::Value& _json_value,
                       const boost::optional<const Json::Value&>& _json_notify)
    : m_json_value(_json_value), m_json_notify(_json_notify) {}

std::string alarm_impl::get_uid() {
    return required_string(m_json_value, "uid");
}

std::string alarm_impl::get_mac_address() {
    return required_string(m_json_value, "mac_address");
}

std::string alarm_impl::get_alarm_name() {
    return required_string(m_json_value, "alarm_name");
}

std::string alarm_impl::get_text() {
    const Json::Value& text = m_json_value["additional_info"]["text"];
    if (!text.isString()) {
        throw std::logic_error("context-utils: additional_info.text is not a string!");
    }
    return text.asString();
}

boost::optional<unsigned int> alarm_impl::get_zone_alarm_level() {
    return non_negative(
        parser_utils::try_get_int(m_json_value["additional_info"], "zone_alarm_level"));
}

boost::optional<std::string> alarm_impl::get_zone_violation_type() {
    return parser_utils::try_get_string(m_json_value["additional_info"], "zone_violation_type");
}

boost::optional<std::string> alarm_impl::get_zone_uid() {
    return parser_utils::try_get_string(m_json_value["additional_info"], "zone_uid");
}

unsigned int alarm_impl::get_ts() {
    // The getter's type is 32 bits wide: a REST time outside them wraps here.
    return m_json_notify ? envelope_field("ts") : static_cast<unsigned int>(rest_time().ts);
}

unsigned int alarm_impl::get_ms() {
    return m_json_notify ? envelope_field("ms") : rest_time().ms;
}

boost::optional<std::string> alarm_impl::get_sublocation_uid() {
    return parser_utils::try_get_string(m_json_value, "sublocation_uid");
}

boost::optional<int> alarm_impl::get_x() {
    return parser_utils::try_get_int(m_json_value, "x");
}

boost::optional<int> alarm_impl::get_y() {
    return parser_utils::try_get_int(m_json_value, "y");
}

boost::optional<int> alarm_impl::get_z() {
    return parser_utils::try_get_int(m_json_value, "z");
}

std::string alarm_impl::get_obj_uid() {
    return required_string(m_json_value, "obj_uid");
}

unsigned int alarm_impl::envelope_field(const char* _key) const {
    return static_cast<unsigned int>(required_int(*m_json_notify, _key));
}

iso8601_time::time alarm_impl::rest_time() const {
    return required_iso8601_fields(m_json_value, "ts");
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
