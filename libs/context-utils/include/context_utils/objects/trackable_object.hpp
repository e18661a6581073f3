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

// A read-only view of one tracked tag of the location server. Each field is read from the
// object's JSON on the first call of its getter: a missing or mistyped required field raises
// core::exception on that and every later call, an optional one gives an empty optional.
// References returned stay valid as long as the object.
class trackable_object {
public:
    class node;
    class position;
    class tag_config;

    virtual ~trackable_object() = default;

    virtual const std::string& get_uid() const = 0;
    virtual const std::string& get_name() const = 0;
    virtual boost::optional<const node&> get_node() const = 0;
    virtual const std::string& get_project_uid() const = 0;
    virtual const std::string& get_company_uid() const = 0;
    virtual boost::optional<const position&> get_position() const = 0;
    // A REST element's "updated_at"; a notification's "ts" and "ms".
    virtual timestamp get_updated_at() const = 0;
    virtual boost::optional<const std::string&> get_self_zone_uid() const = 0;
    // Sorted; elements that are not strings are left out.
    virtual boost::optional<const std::vector<std::string>&> get_groups() const = 0;
    virtual int get_default_height() const = 0;
    virtual const std::string& get_type() const = 0;
    virtual const std::string& get_category() const = 0;
    virtual const tag_config& get_tag_config() const = 0;
    // Whether "node" is there but neither an object nor null: get_node() is empty then as
    // well, yet the tag is malformed rather than without a node.
    virtual bool has_malformed_node() const = 0;
};

class trackable_object::node {
public:
    virtual ~node() = default;

    virtual bool get_responsive() const = 0;
    virtual const std::string& get_mac_address() const = 0;
};

class trackable_object::position {
public:
    virtual ~position() = default;

    virtual int get_x() const = 0;
    virtual int get_y() const = 0;
    virtual int get_z() const = 0;
    virtual const std::string& get_sl_id() const = 0;
};

class trackable_object::tag_config {
public:
    class t2t_no_alarm_item;
    class t2t_cfg;

    typedef std::function<bool(const t2t_no_alarm_item&)> t2t_no_alarm_callback;

    virtual ~tag_config() = default;

    virtual bool get_stationary() const = 0;
    // Calls _callback for each item in order until it returns false; true when none did.
    virtual bool for_each_t2t_no_alarm_item(t2t_no_alarm_callback _callback) const = 0;
    virtual boost::optional<const t2t_cfg&> get_t2t_cfg() const = 0;
};

class trackable_object::tag_config::t2t_no_alarm_item {
public:
    virtual ~t2t_no_alarm_item() = default;

    virtual const std::string& get_mac() const = 0;
};

class trackable_object::tag_config::t2t_cfg {
public:
    virtual ~t2t_cfg() = default;

    virtual boost::optional<const std::string&> get_role() const = 0;
    virtual boost::optional<bool> get_alarm_back() const = 0;
    virtual boost::optional<unsigned int> get_distance() const = 0;
    virtual boost::optional<unsigned int> get_angle() const = 0;
    virtual boost::optional<unsigned int> get_delay() const = 0;
    virtual boost::optional<const std::string&> get_pin() const = 0;
    virtual boost::optional<unsigned int> get_alert_distance() const = 0;
    virtual boost::optional<unsigned int> get_safe_distance() const = 0;
    virtual boost::optional<bool> get_buzzer() const = 0;
    virtual boost::optional<bool> get_haptic() const = 0;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
