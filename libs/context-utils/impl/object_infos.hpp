#pragma once

#include <string>

namespace tvk {
namespace libs {
namespace context_utils {

enum class object_type : int {
    zone = 0,
    trackable_object = 1,
    win_anchor = 2,
    sublocation = 3,
    alarm = 4,
    node = 5,
    _count = 6  // the number of kinds, not a kind
};

// How the location server names one kind of object.
struct object_info {
    object_type m_type;
    // The path of the kind's REST list, relative to the server's base URL.
    std::string m_rest_endpoint;
    // The key of a REST answer that holds the kind's array.
    std::string m_rest_json_name;
    // The "object" value of a "notify" message about the kind, upper case; empty when none.
    std::string m_notify_json_name;
};

// The six kinds; they live for the whole run, so references to them never dangle.
struct object_infos {
    static const object_info zone;
    static const object_info trackable_object;
    static const object_info win_anchor;
    static const object_info sublocation;
    static const object_info alarm;
    static const object_info node;
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
