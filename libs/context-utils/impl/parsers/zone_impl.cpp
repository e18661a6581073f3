#include "parsers/zone_impl.hpp"

#include <stdexcept>

#include "parsers/message_fields.hpp"
#include "parsers/parser_utils.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

namespace {

// Calls _callback with a view of each element of _list until it returns false; a list that
// is not an array (absent included) has no elements.
template <class View, class Callback>
bool for_each_element(const Json::Value& _list, const Callback& _callback) {
    if (!_list.isArray()) {
        return true;
    }
    for (const Json::Value& element : _list) {
        View view(element);
        if (!_callback(view)) {
            return false;
        }
    }
    return true;
}

string_list required_list(const Json::Value& _object, const char* _key) {
    const Json::Value& list = _object[_key];
    if (!list.isArray()) {
        throw std::logic_error(std::string("context-utils: ") + _key + " is not an array!");
    }
    return make_string_list(list);
}

}  // namespace

zone_impl::point_impl::point_impl(const Json::Value& _json_value) : m_json_value(_json_value) {}

int zone_impl::point_impl::get_x() {
    return parser_utils::get_number(m_json_value, "x");
}

int zone_impl::point_impl::get_y() {
    return parser_utils::get_number(m_json_value, "y");
}

zone_impl::trackable_in_zone_impl::trackable_in_zone_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

std::string zone_impl::trackable_in_zone_impl::get_uid() {
    return parser_utils::get_string(m_json_value, "uid");
}

int zone_impl::trackable_in_zone_impl::get_x() {
    return parser_utils::get_number(m_json_value["entered"], "x", "entered.x");
}

int zone_impl::trackable_in_zone_impl::get_y() {
    return parser_utils::get_number(m_json_value["entered"], "y", "entered.y");
}

int zone_impl::trackable_in_zone_impl::get_z() {
    return parser_utils::get_number(m_json_value["entered"], "z", "entered.z");
}

timestamp zone_impl::trackable_in_zone_impl::get_time() {
    return parser_utils::get_iso8601_timestamp(m_json_value["entered"], "time", "entered.time");
}

zone_impl::zone_impl(const Json::Value& _json_value,
                     const boost::optional<const Json::Value&>& _json_notify)
    : m_json_value(_json_value), m_json_notify(_json_notify) {}

std::string zone_impl::get_uid() {
    return parser_utils::get_string(m_json_value, "uid");
}

std::string zone_impl::get_project_uid() {
    return parser_utils::get_string(m_json_value, "project_uid");
}

std::string zone_impl::get_name() {
    return parser_utils::get_string(m_json_value, "name");
}

boost::optional<std::string> zone_impl::get_sublocation_uid() {
    return parser_utils::try_get_string(m_json_value, "sublocation_uid");
}

bool zone_impl::get_active() {
    return parser_utils::get_bool(m_json_value, "active");
}

std::string zone_impl::get_shape() {
    return parser_utils::get_string(m_json_value, "shape");
}

std::string zone_impl::get_zone_type_name() {
    return parser_utils::get_string(m_json_value, "zone_type_name");
}

unsigned int zone_impl::get_zone_alarm_level() {
    return parser_utils::get_uint(m_json_value, "zone_alarm_level");
}

bool zone_impl::get_default_allowed() {
    return parser_utils::get_bool(m_json_value, "default_allowed");
}

int zone_impl::get_priority() {
    return parser_utils::get_int(m_json_value, "priority");
}

unsigned int zone_impl::get_ts() {
    return change_seconds(m_json_value, m_json_notify);
}

unsigned int zone_impl::get_ms() {
    return change_milliseconds(m_json_value, m_json_notify);
}

boost::optional<std::string> zone_impl::get_trackable_object_uid() {
    return parser_utils::try_get_string(m_json_value, "trackable_object_uid");
}

boost::optional<int> zone_impl::get_radius() {
    return parser_utils::try_get_number(m_json_value["zone_geometry"], "radius");
}

bool zone_impl::for_each_point(point_callback _callback) {
    return for_each_element<point_impl>(m_json_value["zone_geometry"]["positions"], _callback);
}

zone::zone_exceptions zone_impl::get_zone_exceptions() {
    return required_list(m_json_value, "zone_exceptions");
}

zone::zone_exceptions_groups zone_impl::get_zone_exceptions_groups() {
    return required_list(m_json_value, "zone_exceptions_groups");
}

bool zone_impl::for_each_trackable_in_zone(trackable_in_zone_callback _callback) {
    return for_each_element<trackable_in_zone_impl>(m_json_value["trackables_in_zone"], _callback);
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
