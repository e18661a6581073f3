#pragma once

#include <boost/optional.hpp>
#include <functional>
#include <string>

#include "context_utils/parsers/string_list.hpp"
#include "context_utils/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A zone of a "notify" message or of a REST answer, read field by field from JSON that the
// caller owns, anew on every call. A missing or mistyped required field raises
// std::logic_error from its getter; an optional one gives none.
class zone {
public:
    class point;
    class trackable_in_zone;

    typedef std::function<bool(point&)> point_callback;
    typedef std::function<bool(trackable_in_zone&)> trackable_in_zone_callback;
    typedef string_list zone_exceptions;
    typedef string_list zone_exceptions_groups;

    virtual ~zone() = default;

    virtual std::string get_uid() = 0;
    virtual std::string get_project_uid() = 0;
    virtual std::string get_name() = 0;
    virtual boost::optional<std::string> get_sublocation_uid() = 0;
    virtual bool get_active() = 0;
    virtual std::string get_shape() = 0;
    virtual std::string get_zone_type_name() = 0;
    virtual unsigned int get_zone_alarm_level() = 0;
    virtual bool get_default_allowed() = 0;
    virtual int get_priority() = 0;
    // The time of the change: a message's envelope "ts" and "ms", or a REST element's
    // "updated_at" split into seconds and milliseconds.
    virtual unsigned int get_ts() = 0;
    virtual unsigned int get_ms() = 0;
    virtual boost::optional<std::string> get_trackable_object_uid() = 0;
    virtual boost::optional<int> get_radius() = 0;
    // Calls _callback with each point in order until it returns false; true when it never
    // did, also when there is no list.
    virtual bool for_each_point(point_callback _callback) = 0;
    // Raise when the member is not an array.
    virtual zone_exceptions get_zone_exceptions() = 0;
    virtual zone_exceptions_groups get_zone_exceptions_groups() = 0;
    // As for_each_point, over the tags listed in the zone.
    virtual bool for_each_trackable_in_zone(trackable_in_zone_callback _callback) = 0;
};

class zone::point {
public:
    virtual ~point() = default;

    virtual int get_x() = 0;
    virtual int get_y() = 0;
};

class zone::trackable_in_zone {
public:
    virtual ~trackable_in_zone() = default;

    virtual std::string get_uid() = 0;
    // Where and when the tag entered the zone.
    virtual int get_x() = 0;
    virtual int get_y() = 0;
    virtual int get_z() = 0;
    virtual timestamp get_time() = 0;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
