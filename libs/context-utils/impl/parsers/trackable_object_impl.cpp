#include "parsers/trackable_object_impl.hpp"

#include "parsers/message_fields.hpp"
#include "parsers/parser_utils.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

namespace {

boost::optional<string_list> optional_list(const Json::Value& _object, const char* _key) {
    const Json::Value& list = _object[_key];
    if (!list.isArray()) {
        return boost::none;
    }
    return make_string_list(list);
}

}  // namespace

trackable_object_impl::tag_config_impl::t2t_cfg_impl::t2t_cfg_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

boost::optional<std::string> trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_role() {
    return parser_utils::try_get_string(m_json_value, "role");
}

boost::optional<bool> trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_alarm_back() {
    return parser_utils::try_get_bool(m_json_value, "alarm_back");
}

boost::optional<unsigned int> trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_distance() {
    return non_negative(parser_utils::try_get_number(m_json_value, "distance"));
}

boost::optional<unsigned int> trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_angle() {
    return non_negative(parser_utils::try_get_number(m_json_value, "angle"));
}

boost::optional<unsigned int> trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_delay() {
    return parser_utils::try_get_uint(m_json_value, "delay");
}

boost::optional<std::string> trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_pin() {
    return parser_utils::try_get_string(m_json_value, "pin");
}

boost::optional<unsigned int>
trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_alert_distance() {
    return non_negative(parser_utils::try_get_number(m_json_value, "alert_distance"));
}

boost::optional<unsigned int>
trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_safe_distance() {
    return non_negative(parser_utils::try_get_number(m_json_value, "safe_distance"));
}

boost::optional<bool> trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_buzzer() {
    return parser_utils::try_get_bool(m_json_value, "buzzer");
}

boost::optional<bool> trackable_object_impl::tag_config_impl::t2t_cfg_impl::get_haptic() {
    return parser_utils::try_get_bool(m_json_value, "haptic");
}

trackable_object_impl::tag_config_impl::tag_config_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {
    const Json::Value& t2t_cfg = _json_value["t2t_cfg"];
    if (t2t_cfg.isObject()) {
        m_t2t_cfg.emplace(t2t_cfg);
    }
}

bool trackable_object_impl::tag_config_impl::get_stationary() {
    return parser_utils::get_bool(m_json_value, "stationary");
}

boost::optional<trackable_object::tag_config::t2t_no_alarm>
trackable_object_impl::tag_config_impl::get_t2t_no_alarm() {
    return optional_list(m_json_value, "t2t_no_alarm");
}

boost::optional<trackable_object::tag_config::t2t_cfg&>
trackable_object_impl::tag_config_impl::get_t2t_cfg() {
    if (!m_t2t_cfg) {
        return boost::none;
    }
    return boost::optional<t2t_cfg&>(*m_t2t_cfg);
}

trackable_object_impl::trackable_object_impl(
    const Json::Value& _json_value, const boost::optional<const Json::Value&>& _json_notify)
    : m_json_value(_json_value)
    , m_json_notify(_json_notify)
    , m_tag_config(_json_value["tag_config"]) {}

std::string trackable_object_impl::get_uid() {
    return parser_utils::get_string(m_json_value, "uid");
}

std::string trackable_object_impl::get_name() {
    return parser_utils::get_string(m_json_value, "name");
}

boost::optional<bool> trackable_object_impl::get_responsive() {
    return parser_utils::try_get_bool(m_json_value["node"], "responsive");
}

boost::optional<std::string> trackable_object_impl::get_mac_address() {
    return parser_utils::try_get_string(m_json_value["node"], "mac_address");
}

std::string trackable_object_impl::get_project_uid() {
    return parser_utils::get_string(m_json_value, "project_uid");
}

boost::optional<std::string> trackable_object_impl::get_sublocation_uid() {
    return parser_utils::try_get_string(m_json_value["position"], "sl_id");
}

boost::optional<int> trackable_object_impl::get_x() {
    return parser_utils::try_get_number(m_json_value["position"], "x");
}

boost::optional<int> trackable_object_impl::get_y() {
    return parser_utils::try_get_number(m_json_value["position"], "y");
}

boost::optional<int> trackable_object_impl::get_z() {
    return parser_utils::try_get_number(m_json_value["position"], "z");
}

unsigned int trackable_object_impl::get_ts() {
    return change_seconds(m_json_value, m_json_notify);
}

unsigned int trackable_object_impl::get_ms() {
    return change_milliseconds(m_json_value, m_json_notify);
}

boost::optional<std::string> trackable_object_impl::get_self_zone_uid() {
    return parser_utils::try_get_string(m_json_value, "self_zone_uid");
}

boost::optional<trackable_object::groups> trackable_object_impl::get_groups() {
    return optional_list(m_json_value, "groups");
}

int trackable_object_impl::get_default_height() {
    return parser_utils::get_number(m_json_value, "default_height");
}

std::string trackable_object_impl::get_type() {
    return parser_utils::get_string(m_json_value, "type");
}

std::string trackable_object_impl::get_category() {
    return parser_utils::get_string(m_json_value, "category");
}

trackable_object::tag_config& trackable_object_impl::get_tag_config() {
    return m_tag_config;
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
