#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/lazy_value.hpp"
#include "context_utils/objects/zone.hpp"
#include "json_value.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// A zone over a private copy of its JSON: a REST element, or the "plist" of a notification
// whose envelope gives the update time. Never copied or moved once built: the nested views
// refer into m_json_value.
class zone_impl : public zone {
public:
    class point_impl : public zone::point {
    public:
        explicit point_impl(const Json::Value& _json_value);

        int get_x() const override;
        int get_y() const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<numeric_value> m_x;
        lazy_value<numeric_value> m_y;
    };

    class trackable_in_zone_impl : public zone::trackable_in_zone {
    public:
        explicit trackable_in_zone_impl(const Json::Value& _json_value);

        const std::string& get_uid() const override;
        int get_x() const override;
        int get_y() const override;
        int get_z() const override;
        timestamp get_time() const override;

    private:
        const Json::Value& m_json_value;
        const Json::Value& m_json_entered;
        lazy_value<string_value> m_uid;
        lazy_value<numeric_value> m_x;
        lazy_value<numeric_value> m_y;
        lazy_value<numeric_value> m_z;
        lazy_value<timestamp_value> m_time;
    };

    class zone_geometry_impl : public zone::zone_geometry {
    public:
        explicit zone_geometry_impl(const Json::Value& _json_value);

        boost::optional<int> get_radius() const override;
        bool for_each_point(point_callback _callback) const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<optional_value<numeric_value>> m_radius;
        lazy_value<
            optional_value<array_value<object_value<zone::point, point_impl>, do_not_sort_values>>>
            m_positions;
    };

    class user_params_impl : public zone::user_params {
    public:
        explicit user_params_impl(const Json::Value& _json_value);

        boost::optional<unsigned int> get_max_occupancy() const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<optional_value<unumeric_value>> m_max_occupancy;
    };

    explicit zone_impl(const json_object& _json);
    explicit zone_impl(const json_notify& _json);
    zone_impl(const zone_impl&) = delete;
    zone_impl& operator=(const zone_impl&) = delete;

    const std::string& get_uid() const override;
    const std::string& get_project_uid() const override;
    boost::optional<unsigned int> get_zone_id() const override;
    const std::string& get_name() const override;
    boost::optional<const std::string&> get_sublocation_uid() const override;
    bool get_active() const override;
    const std::string& get_shape() const override;
    const std::string& get_zone_type_name() const override;
    unsigned int get_zone_alarm_level() const override;
    boost::optional<unsigned int> get_sublocation_id() const override;
    unsigned int get_zone_type_id() const override;
    bool get_default_allowed() const override;
    int get_priority() const override;
    timestamp get_updated_at() const override;
    boost::optional<const std::string&> get_trackable_object_uid() const override;
    const zone_geometry& get_zone_geometry() const override;
    bool for_each_trackable_in_zone(trackable_in_zone_callback _callback) const override;
    zone_exceptions get_zone_exceptions() const override;
    zone_exceptions_groups get_zone_exceptions_groups() const override;
    boost::optional<const user_params&> get_user_params() const override;

private:
    lazy_value<string_value> m_uid;
    lazy_value<string_value> m_project_uid;
    lazy_value<optional_value<uint_value>> m_zone_id;
    lazy_value<string_value> m_name;
    lazy_value<optional_value<string_value>> m_sublocation_uid;
    lazy_value<bool_value> m_active;
    lazy_value<string_value> m_shape;
    lazy_value<string_value> m_zone_type_name;
    lazy_value<uint_value> m_zone_alarm_level;
    lazy_value<optional_value<uint_value>> m_sublocation_id;
    lazy_value<uint_value> m_zone_type_id;
    lazy_value<bool_value> m_default_allowed;
    lazy_value<int_value> m_priority;
    lazy_value<uint_value> m_ts;
    lazy_value<uint_value> m_ms;
    lazy_value<timestamp_value> m_updated_at;
    lazy_value<optional_value<string_value>> m_trackable_object_uid;
    lazy_value<object_value<zone::zone_geometry, zone_geometry_impl>> m_zone_geometry;
    lazy_value<optional_value<array_value<
        object_value<zone::trackable_in_zone, trackable_in_zone_impl>, do_not_sort_values>>>
        m_trackables_in_zone;
    lazy_value<array_value<string_value, sort_values>> m_zone_exceptions;
    lazy_value<array_value<string_value, sort_values>> m_zone_exceptions_groups;
    lazy_value<optional_value<object_value<zone::user_params, user_params_impl>>> m_user_params;
    Json::Value m_json_value;
    boost::optional<Json::Value> m_json_notify;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
