#pragma once

#include <boost/optional.hpp>
#include <string>

#include "context_utils/parsers/string_list.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A trackable object of a "notify" message or of a REST answer, read field by field from
// JSON that the caller owns, anew on every call. A missing or mistyped required field raises
// std::logic_error from its getter; an optional one gives none.
class trackable_object {
public:
    class tag_config;

    typedef string_list groups;

    virtual ~trackable_object() = default;

    virtual std::string get_uid() = 0;
    virtual std::string get_name() = 0;
    virtual boost::optional<bool> get_responsive() = 0;
    virtual boost::optional<std::string> get_mac_address() = 0;
    virtual std::string get_project_uid() = 0;
    virtual boost::optional<std::string> get_sublocation_uid() = 0;
    virtual boost::optional<int> get_x() = 0;
    virtual boost::optional<int> get_y() = 0;
    virtual boost::optional<int> get_z() = 0;
    // The time of the change: a message's envelope "ts" and "ms", or a REST element's
    // "updated_at" split into seconds and milliseconds.
    virtual unsigned int get_ts() = 0;
    virtual unsigned int get_ms() = 0;
    virtual boost::optional<std::string> get_self_zone_uid() = 0;
    virtual boost::optional<groups> get_groups() = 0;
    virtual int get_default_height() = 0;
    virtual std::string get_type() = 0;
    virtual std::string get_category() = 0;
    // Always given, also when the object has no "tag_config".
    virtual tag_config& get_tag_config() = 0;
};

class trackable_object::tag_config {
public:
    class t2t_cfg;

    typedef string_list t2t_no_alarm;

    virtual ~tag_config() = default;

    virtual bool get_stationary() = 0;
    virtual boost::optional<t2t_no_alarm> get_t2t_no_alarm() = 0;
    virtual boost::optional<t2t_cfg&> get_t2t_cfg() = 0;
};

// Every field is optional. The distances and the angle are whole numbers that are never
// negative: a negative value gives none.
class trackable_object::tag_config::t2t_cfg {
public:
    virtual ~t2t_cfg() = default;

    virtual boost::optional<std::string> get_role() = 0;
    virtual boost::optional<bool> get_alarm_back() = 0;
    virtual boost::optional<unsigned int> get_distance() = 0;
    virtual boost::optional<unsigned int> get_angle() = 0;
    virtual boost::optional<unsigned int> get_delay() = 0;
    virtual boost::optional<std::string> get_pin() = 0;
    virtual boost::optional<unsigned int> get_alert_distance() = 0;
    virtual boost::optional<unsigned int> get_safe_distance() = 0;
    virtual boost::optional<bool> get_buzzer() = 0;
    virtual boost::optional<bool> get_haptic() = 0;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
