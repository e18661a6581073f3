#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/parsers/trackable_object.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A trackable object over _json_value (a REST element, or the "plist" of a message) and, for
// a message, the whole message; both stay the caller's and must outlive the view.
class trackable_object_impl : public trackable_object {
public:
    class tag_config_impl : public tag_config {
    public:
        class t2t_cfg_impl : public t2t_cfg {
        public:
            explicit t2t_cfg_impl(const Json::Value& _json_value);

            boost::optional<std::string> get_role() override;
            boost::optional<bool> get_alarm_back() override;
            boost::optional<unsigned int> get_distance() override;
            boost::optional<unsigned int> get_angle() override;
            boost::optional<unsigned int> get_delay() override;
            boost::optional<std::string> get_pin() override;
            boost::optional<unsigned int> get_alert_distance() override;
            boost::optional<unsigned int> get_safe_distance() override;
            boost::optional<bool> get_buzzer() override;
            boost::optional<bool> get_haptic() override;

        private:
            const Json::Value& m_json_value;
        };

        // _json_value is the "tag_config" object, or null.
        explicit tag_config_impl(const Json::Value& _json_value);

        bool get_stationary() override;
        boost::optional<t2t_no_alarm> get_t2t_no_alarm() override;
        boost::optional<t2t_cfg&> get_t2t_cfg() override;

    private:
        const Json::Value& m_json_value;
        boost::optional<t2t_cfg_impl> m_t2t_cfg;
    };

    trackable_object_impl(const Json::Value& _json_value,
                          const boost::optional<const Json::Value&>& _json_notify);
    // The view refers into its JSON: a temporary would be gone before the first read.
    trackable_object_impl(const Json::Value&& _json_value,
                          const boost::optional<const Json::Value&>& _json_notify) = delete;

    std::string get_uid() override;
    std::string get_name() override;
    boost::optional<bool> get_responsive() override;
    boost::optional<std::string> get_mac_address() override;
    std::string get_project_uid() override;
    boost::optional<std::string> get_sublocation_uid() override;
    boost::optional<int> get_x() override;
    boost::optional<int> get_y() override;
    boost::optional<int> get_z() override;
    unsigned int get_ts() override;
    unsigned int get_ms() override;
    boost::optional<std::string> get_self_zone_uid() override;
    boost::optional<groups> get_groups() override;
    int get_default_height() override;
    std::string get_type() override;
    std::string get_category() override;
    tag_config& get_tag_config() override;

private:
    const Json::Value& m_json_value;
    boost::optional<const Json::Value&> m_json_notify;
    tag_config_impl m_tag_config;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
