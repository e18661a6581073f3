#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/parsers/zone.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A zone over _json_value (a REST element, or the "plist" of a message) and, for a message,
// the whole message; both stay the caller's and must outlive the view.
class zone_impl : public zone {
public:
    class point_impl : public point {
    public:
        explicit point_impl(const Json::Value& _json_value);

        int get_x() override;
        int get_y() override;

    private:
        const Json::Value& m_json_value;
    };

    class trackable_in_zone_impl : public trackable_in_zone {
    public:
        explicit trackable_in_zone_impl(const Json::Value& _json_value);

        std::string get_uid() override;
        int get_x() override;
        int get_y() override;
        int get_z() override;
        timestamp get_time() override;

    private:
        const Json::Value& m_json_value;
    };

    zone_impl(const Json::Value& _json_value,
              const boost::optional<const Json::Value&>& _json_notify);
    // The view refers into its JSON: a temporary would be gone before the first read.
    zone_impl(const Json::Value&& _json_value,
              const boost::optional<const Json::Value&>& _json_notify) = delete;

    std::string get_uid() override;
    std::string get_project_uid() override;
    std::string get_name() override;
    boost::optional<std::string> get_sublocation_uid() override;
    bool get_active() override;
    std::string get_shape() override;
    std::string get_zone_type_name() override;
    unsigned int get_zone_alarm_level() override;
    bool get_default_allowed() override;
    int get_priority() override;
    unsigned int get_ts() override;
    unsigned int get_ms() override;
    boost::optional<std::string> get_trackable_object_uid() override;
    boost::optional<int> get_radius() override;
    bool for_each_point(point_callback _callback) override;
    zone_exceptions get_zone_exceptions() override;
    zone_exceptions_groups get_zone_exceptions_groups() override;
    bool for_each_trackable_in_zone(trackable_in_zone_callback _callback) override;

private:
    const Json::Value& m_json_value;
    boost::optional<const Json::Value&> m_json_notify;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
