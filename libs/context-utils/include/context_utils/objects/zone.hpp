#pragma once

#include <boost/optional.hpp>
#include <functional>
#include <string>
#include <vector>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// A read-only view of one zone of the location server. Each field is read from the zone's
// JSON on the first call of its getter: a missing or mistyped required field raises
// core::exception on that and every later call, an optional one gives an empty optional.
// References returned stay valid as long as the zone object.
class zone {
public:
    class zone_geometry;
    class point;
    class trackable_in_zone;
    class user_params;

    typedef std::function<bool(const trackable_in_zone&)> trackable_in_zone_callback;
    typedef const std::vector<std::string>& zone_exceptions;
    typedef const std::vector<std::string>& zone_exceptions_groups;

    virtual ~zone() = default;

    virtual const std::string& get_uid() const = 0;
    virtual const std::string& get_project_uid() const = 0;
    virtual boost::optional<unsigned int> get_zone_id() const = 0;
    virtual const std::string& get_name() const = 0;
    virtual boost::optional<const std::string&> get_sublocation_uid() const = 0;
    virtual bool get_active() const = 0;
    virtual const std::string& get_shape() const = 0;
    virtual const std::string& get_zone_type_name() const = 0;
    virtual unsigned int get_zone_alarm_level() const = 0;
    virtual boost::optional<unsigned int> get_sublocation_id() const = 0;
    virtual unsigned int get_zone_type_id() const = 0;
    virtual bool get_default_allowed() const = 0;
    virtual int get_priority() const = 0;
    // A REST element's "updated_at"; a notification's "ts" and "ms".
    virtual timestamp get_updated_at() const = 0;
    virtual boost::optional<const std::string&> get_trackable_object_uid() const = 0;
    virtual const zone_geometry& get_zone_geometry() const = 0;
    // Calls _callback for each listed tag in order until it returns false; true when none did.
    virtual bool for_each_trackable_in_zone(trackable_in_zone_callback _callback) const = 0;
    // Sorted.
    virtual zone_exceptions get_zone_exceptions() const = 0;
    virtual zone_exceptions_groups get_zone_exceptions_groups() const = 0;
    virtual boost::optional<const user_params&> get_user_params() const = 0;
};

class zone::zone_geometry {
public:
    typedef std::function<bool(const point&)> point_callback;

    virtual ~zone_geometry() = default;

    virtual boost::optional<int> get_radius() const = 0;
    // Calls _callback for each point in order until it returns false; true when none did.
    virtual bool for_each_point(point_callback _callback) const = 0;
};

class zone::point {
public:
    virtual ~point() = default;

    virtual int get_x() const = 0;
    virtual int get_y() const = 0;
};

class zone::trackable_in_zone {
public:
    virtual ~trackable_in_zone() = default;

    virtual const std::string& get_uid() const = 0;
    // Where and when the tag entered the zone.
    virtual int get_x() const = 0;
    virtual int get_y() const = 0;
    virtual int get_z() const = 0;
    virtual timestamp get_time() const = 0;
};

class zone::user_params {
public:
    virtual ~user_params() = default;

    virtual boost::optional<unsigned int> get_max_occupancy() const = 0;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
