#include "objects/trackable_object_impl.hpp"

#include "objects/object_json.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

using tag_config_impl = trackable_object_impl::tag_config_impl;

trackable_object_impl::node_impl::node_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

bool trackable_object_impl::node_impl::get_responsive() const {
    return m_responsive.get(m_json_value, "responsive", nullptr);
}

const std::string& trackable_object_impl::node_impl::get_mac_address() const {
    return m_mac_address.get(m_json_value, "mac_address", nullptr);
}

trackable_object_impl::position_impl::position_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

int trackable_object_impl::position_impl::get_x() const {
    return m_x.get(m_json_value, "x", nullptr);
}

int trackable_object_impl::position_impl::get_y() const {
    return m_y.get(m_json_value, "y", nullptr);
}

int trackable_object_impl::position_impl::get_z() const {
    return m_z.get(m_json_value, "z", nullptr);
}

const std::string& trackable_object_impl::position_impl::get_sl_id() const {
    return m_sl_id.get(m_json_value, "sl_id", nullptr);
}

tag_config_impl::t2t_cfg_impl::t2t_cfg_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

boost::optional<const std::string&> tag_config_impl::t2t_cfg_impl::get_role() const {
    return m_role.get(m_json_value, "role", nullptr);
}

boost::optional<bool> tag_config_impl::t2t_cfg_impl::get_alarm_back() const {
    return m_alarm_back.get(m_json_value, "alarm_back", nullptr);
}

boost::optional<unsigned int> tag_config_impl::t2t_cfg_impl::get_distance() const {
    return m_distance.get(m_json_value, "distance", nullptr);
}

boost::optional<unsigned int> tag_config_impl::t2t_cfg_impl::get_angle() const {
    return m_angle.get(m_json_value, "angle", nullptr);
}

boost::optional<unsigned int> tag_config_impl::t2t_cfg_impl::get_delay() const {
    return m_delay.get(m_json_value, "delay", nullptr);
}

boost::optional<const std::string&> tag_config_impl::t2t_cfg_impl::get_pin() const {
    return m_pin.get(m_json_value, "pin", nullptr);
}

boost::optional<unsigned int> tag_config_impl::t2t_cfg_impl::get_alert_distance() const {
    return m_alert_distance.get(m_json_value, "alert_distance", nullptr);
}

boost::optional<unsigned int> tag_config_impl::t2t_cfg_impl::get_safe_distance() const {
    return m_safe_distance.get(m_json_value, "safe_distance", nullptr);
}

boost::optional<bool> tag_config_impl::t2t_cfg_impl::get_buzzer() const {
    return m_buzzer.get(m_json_value, "buzzer", nullptr);
}

boost::optional<bool> tag_config_impl::t2t_cfg_impl::get_haptic() const {
    return m_haptic.get(m_json_value, "haptic", nullptr);
}

tag_config_impl::t2t_no_alarm_item_impl::t2t_no_alarm_item_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

const std::string& tag_config_impl::t2t_no_alarm_item_impl::get_mac() const {
    return m_mac.get(m_json_value, "mac", "t2t_no_alarm.mac");
}

tag_config_impl::tag_config_impl(const Json::Value& _json_value) : m_json_value(_json_value) {}

bool tag_config_impl::get_stationary() const {
    return m_stationary.get(m_json_value, "stationary", nullptr);
}

bool tag_config_impl::for_each_t2t_no_alarm_item(t2t_no_alarm_callback _callback) const {
    return for_each_item(m_t2t_no_alarm.get(m_json_value, "t2t_no_alarm", nullptr), _callback);
}

boost::optional<const trackable_object::tag_config::t2t_cfg&> tag_config_impl::get_t2t_cfg() const {
    return m_t2t_cfg.get(m_json_value, "t2t_cfg", nullptr);
}

trackable_object_impl::trackable_object_impl(const json_object& _json)
    : m_json_value(_json.get_json()) {}

trackable_object_impl::trackable_object_impl(const json_notify& _json)
    : m_json_value(plist_of(_json)), m_json_notify(_json.get_json()) {}

const std::string& trackable_object_impl::get_uid() const {
    return m_uid.get(m_json_value, "uid", nullptr);
}

const std::string& trackable_object_impl::get_name() const {
    return m_name.get(m_json_value, "name", nullptr);
}

boost::optional<const trackable_object::node&> trackable_object_impl::get_node() const {
    return m_node.get(m_json_value, "node", nullptr);
}

bool trackable_object_impl::has_malformed_node() const {
    const Json::Value& node = m_json_value["node"];
    return !node.isNull() && !node.isObject();
}

const std::string& trackable_object_impl::get_project_uid() const {
    return m_project_uid.get(m_json_value, "project_uid", nullptr);
}

const std::string& trackable_object_impl::get_company_uid() const {
    return m_company_uid.get(m_json_value, "company_uid", nullptr);
}

boost::optional<const trackable_object::position&> trackable_object_impl::get_position() const {
    return m_position.get(m_json_value, "position", nullptr);
}

timestamp trackable_object_impl::get_updated_at() const {
    return updated_at(m_json_value, m_json_notify, m_updated_at, m_ts, m_ms);
}

boost::optional<const std::string&> trackable_object_impl::get_self_zone_uid() const {
    return m_self_zone_uid.get(m_json_value, "self_zone_uid", nullptr);
}

boost::optional<const std::vector<std::string>&> trackable_object_impl::get_groups() const {
    return m_groups.get(m_json_value, "groups", nullptr);
}

int trackable_object_impl::get_default_height() const {
    return m_default_height.get(m_json_value, "default_height", nullptr);
}

const std::string& trackable_object_impl::get_type() const {
    return m_type.get(m_json_value, "type", nullptr);
}

const std::string& trackable_object_impl::get_category() const {
    return m_category.get(m_json_value, "category", nullptr);
}

const trackable_object::tag_config& trackable_object_impl::get_tag_config() const {
    return m_tag_config.get(m_json_value, "tag_config", nullptr);
}

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
