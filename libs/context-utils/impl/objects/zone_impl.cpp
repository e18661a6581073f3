#include "objects/zone_impl.hpp"

#include "objects/object_json.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

zone_impl::point_impl::point_impl(const Json::Value& _json_value) : m_json_value(_json_value) {}

int zone_impl::point_impl::get_x() const {
    return m_x.get(m_json_value, "x", nullptr);
}

int zone_impl::point_impl::get_y() const {
    return m_y.get(m_json_value, "y", nullptr);
}

zone_impl::trackable_in_zone_impl::trackable_in_zone_impl(const Json::Value& _json_value)
    : m_json_value(_json_value), m_json_entered(_json_value["entered"]) {}

const std::string& zone_impl::trackable_in_zone_impl::get_uid() const {
    return m_uid.get(m_json_value, "uid", nullptr);
}

int zone_impl::trackable_in_zone_impl::get_x() const {
    return m_x.get(m_json_entered, "x", "entered.x");
}

int zone_impl::trackable_in_zone_impl::get_y() const {
    return m_y.get(m_json_entered, "y", "entered.y");
}

int zone_impl::trackable_in_zone_impl::get_z() const {
    return m_z.get(m_json_entered, "z", "entered.z");
}

timestamp zone_impl::trackable_in_zone_impl::get_time() const {
    return m_time.get(m_json_entered, "time", "entered.time");
}

zone_impl::zone_geometry_impl::zone_geometry_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

boost::optional<int> zone_impl::zone_geometry_impl::get_radius() const {
    return m_radius.get(m_json_value, "radius", nullptr);
}

bool zone_impl::zone_geometry_impl::for_each_point(point_callback _callback) const {
    return for_each_item(m_positions.get(m_json_value, "positions", nullptr), _callback);
}

zone_impl::user_params_impl::user_params_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

boost::optional<unsigned int> zone_impl::user_params_impl::get_max_occupancy() const {
    return m_max_occupancy.get(m_json_value, "max_occupancy", nullptr);
}

zone_impl::zone_impl(const json_object& _json) : m_json_value(_json.get_json()) {}

zone_impl::zone_impl(const json_notify& _json)
    : m_json_value(plist_of(_json)), m_json_notify(_json.get_json()) {}

const std::string& zone_impl::get_uid() const {
    return m_uid.get(m_json_value, "uid", nullptr);
}

const std::string& zone_impl::get_project_uid() const {
    return m_project_uid.get(m_json_value, "project_uid", nullptr);
}

boost::optional<unsigned int> zone_impl::get_zone_id() const {
    return m_zone_id.get(m_json_value, "zone_id", nullptr);
}

const std::string& zone_impl::get_name() const {
    return m_name.get(m_json_value, "name", nullptr);
}

boost::optional<const std::string&> zone_impl::get_sublocation_uid() const {
    return m_sublocation_uid.get(m_json_value, "sublocation_uid", nullptr);
}

bool zone_impl::get_active() const {
    return m_active.get(m_json_value, "active", nullptr);
}

const std::string& zone_impl::get_shape() const {
    return m_shape.get(m_json_value, "shape", nullptr);
}

const std::string& zone_impl::get_zone_type_name() const {
    return m_zone_type_name.get(m_json_value, "zone_type_name", nullptr);
}

unsigned int zone_impl::get_zone_alarm_level() const {
    return m_zone_alarm_level.get(m_json_value, "zone_alarm_level", nullptr);
}

boost::optional<unsigned int> zone_impl::get_sublocation_id() const {
    return m_sublocation_id.get(m_json_value, "sublocation_id", nullptr);
}

unsigned int zone_impl::get_zone_type_id() const {
    return m_zone_type_id.get(m_json_value, "zone_type_id", nullptr);
}

bool zone_impl::get_default_allowed() const {
    return m_default_allowed.get(m_json_value, "default_allowed", nullptr);
}

int zone_impl::get_priority() const {
    return m_priority.get(m_json_value, "priority", nullptr);
}

timestamp zone_impl::get_updated_at() const {
    return updated_at(m_json_value, m_json_notify, m_updated_at, m_ts, m_ms);
}

boost::optional<const std::string&> zone_impl::get_trackable_object_uid() const {
    return m_trackable_object_uid.get(m_json_value, "trackable_object_uid", nullptr);
}

const zone::zone_geometry& zone_impl::get_zone_geometry() const {
    return m_zone_geometry.get(m_json_value, "zone_geometry", nullptr);
}

bool zone_impl::for_each_trackable_in_zone(trackable_in_zone_callback _callback) const {
    return for_each_item(m_trackables_in_zone.get(m_json_value, "trackables_in_zone", nullptr),
                         _callback);
}

zone::zone_exceptions zone_impl::get_zone_exceptions() const {
    return m_zone_exceptions.get(m_json_value, "zone_exceptions", nullptr);
}

zone::zone_exceptions_groups zone_impl::get_zone_exceptions_groups() const {
    return m_zone_exceptions_groups.get(m_json_value, "zone_exceptions_groups", nullptr);
}

boost::optional<const zone::user_params&> zone_impl::get_user_params() const {
    return m_user_params.get(m_json_value, "user_params", nullptr);
}

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
