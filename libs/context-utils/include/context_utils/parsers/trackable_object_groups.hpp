#pragma once

#include <functional>
#include <string>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A change of group memberships: a "notify" message whose "plist" has one member per group,
// named by the group's uid, with its "action" and "trackableObject". Read from JSON that the
// caller owns, anew on every call; fields raise std::logic_error when missing or mistyped.
class trackable_object_groups {
public:
    class group;

    typedef std::function<bool(group&)> group_callback;

    virtual ~trackable_object_groups() = default;

    // The envelope's "ts" seconds and "ms" milliseconds.
    virtual timestamp get_ts() = 0;
    // The envelope's "project_uid".
    virtual std::string get_project_uid() = 0;
    // Call _callback with each group whose action is "ADD_GROUP" (respectively
    // "REMOVE_GROUP"), in ascending uid order, until it returns false; true when it never did.
    virtual bool for_each_added_group(group_callback _callback) = 0;
    virtual bool for_each_removed_group(group_callback _callback) = 0;
};

class trackable_object_groups::group {
public:
    virtual ~group() = default;

    virtual const std::string& get_uid() = 0;
    virtual std::string get_trackable_object_uid() = 0;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
