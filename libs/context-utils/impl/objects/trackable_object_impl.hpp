#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/lazy_value.hpp"
#include "context_utils/objects/trackable_object.hpp"
#include "json_value.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// A tracked tag over a private copy of its JSON: a REST element, or the "plist" of a
// notification whose envelope gives the update time. Never copied or moved once built: the
// nested views refer into m_json_value.
class trackable_object_impl : public trackable_object {
public:
    class node_impl : public trackable_object::node {
    public:
        explicit node_impl(const Json::Value& _json_value);

        bool get_responsive() const override;
        const std::string& get_mac_address() const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<bool_value> m_responsive;
        lazy_value<string_value> m_mac_address;
    };

    class position_impl : public trackable_object::position {
    public:
        explicit position_impl(const Json::Value& _json_value);

        int get_x() const override;
        int get_y() const override;
        int get_z() const override;
        const std::string& get_sl_id() const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<numeric_value> m_x;
        lazy_value<numeric_value> m_y;
        lazy_value<numeric_value> m_z;
        lazy_value<string_value> m_sl_id;
    };

    class tag_config_impl : public trackable_object::tag_config {
    public:
        class t2t_cfg_impl : public tag_config::t2t_cfg {
        public:
            explicit t2t_cfg_impl(const Json::Value& _json_value);

            boost::optional<const std::string&> get_role() const override;
            boost::optional<bool> get_alarm_back() const override;
            boost::optional<unsigned int> get_distance() const override;
            boost::optional<unsigned int> get_angle() const override;
            boost::optional<unsigned int> get_delay() const override;
            boost::optional<const std::string&> get_pin() const override;
            boost::optional<unsigned int> get_alert_distance() const override;
            boost::optional<unsigned int> get_safe_distance() const override;
            boost::optional<bool> get_buzzer() const override;
            boost::optional<bool> get_haptic() const override;

        private:
            const Json::Value& m_json_value;
            lazy_value<optional_value<string_value>> m_role;
            lazy_value<optional_value<bool_value>> m_alarm_back;
            lazy_value<optional_value<unumeric_value>> m_distance;
            lazy_value<optional_value<unumeric_value>> m_angle;
            lazy_value<optional_value<uint_value>> m_delay;
            lazy_value<optional_value<string_value>> m_pin;
            lazy_value<optional_value<unumeric_value>> m_alert_distance;
            lazy_value<optional_value<unumeric_value>> m_safe_distance;
            lazy_value<optional_value<bool_value>> m_buzzer;
            lazy_value<optional_value<bool_value>> m_haptic;
        };

        class t2t_no_alarm_item_impl : public tag_config::t2t_no_alarm_item {
        public:
            explicit t2t_no_alarm_item_impl(const Json::Value& _json_value);

            const std::string& get_mac() const override;

        private:
            const Json::Value& m_json_value;
            lazy_value<string_value> m_mac;
        };

        explicit tag_config_impl(const Json::Value& _json_value);

        bool get_stationary() const override;
        bool for_each_t2t_no_alarm_item(t2t_no_alarm_callback _callback) const override;
        boost::optional<const t2t_cfg&> get_t2t_cfg() const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<bool_value> m_stationary;
        lazy_value<optional_value<
            array_value<object_value<tag_config::t2t_no_alarm_item, t2t_no_alarm_item_impl>,
                        do_not_sort_values>>>
            m_t2t_no_alarm;
        lazy_value<optional_value<object_value<tag_config::t2t_cfg, t2t_cfg_impl>>> m_t2t_cfg;
    };

    explicit trackable_object_impl(const json_object& _json);
    explicit trackable_object_impl(const json_notify& _json);
    trackable_object_impl(const trackable_object_impl&) = delete;
    trackable_object_impl& operator=(const trackable_object_impl&) = delete;

    const std::string& get_uid() const override;
    const std::string& get_name() const override;
    boost::optional<const node&> get_node() const override;
    const std::string& get_project_uid() const override;
    const std::string& get_company_uid() const override;
    boost::optional<const position&> get_position() const override;
    timestamp get_updated_at() const override;
    boost::optional<const std::string&> get_self_zone_uid() const override;
    boost::optional<const std::vector<std::string>&> get_groups() const override;
    int get_default_height() const override;
    const std::string& get_type() const override;
    const std::string& get_category() const override;
    const tag_config& get_tag_config() const override;
    bool has_malformed_node() const override;

private:
    lazy_value<string_value> m_uid;
    lazy_value<string_value> m_name;
    lazy_value<optional_value<object_value<trackable_object::node, node_impl>>> m_node;
    lazy_value<string_value> m_project_uid;
    lazy_value<string_value> m_company_uid;
    lazy_value<optional_value<object_value<trackable_object::position, position_impl>>> m_position;
    lazy_value<uint_value> m_ts;
    lazy_value<uint_value> m_ms;
    lazy_value<timestamp_value> m_updated_at;
    lazy_value<optional_value<string_value>> m_self_zone_uid;
    lazy_value<optional_value<array_value<string_value, sort_values>>> m_groups;
    lazy_value<numeric_value> m_default_height;
    lazy_value<string_value> m_type;
    lazy_value<string_value> m_category;
    lazy_value<object_value<trackable_object::tag_config, tag_config_impl>> m_tag_config;
    Json::Value m_json_value;
    boost::optional<Json::Value> m_json_notify;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
