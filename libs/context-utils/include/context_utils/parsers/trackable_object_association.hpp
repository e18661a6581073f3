#pragma once

#include <boost/optional.hpp>
#include <string>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// An association of a trackable object with a device, from a "notify" message. Read from
// JSON that the caller owns, anew on every call; fields raise std::logic_error when missing
// or mistyped.
class trackable_object_association {
public:
    virtual ~trackable_object_association() = default;

    // The envelope's "ts" seconds and "ms" milliseconds.
    virtual timestamp get_ts() = 0;
    virtual std::string get_project_uid() = 0;
    virtual std::string get_mac_address() = 0;
    virtual std::string get_trackable_object_uid() = 0;
    virtual timestamp get_created_at() = 0;
    // None while the association stands.
    virtual boost::optional<timestamp> get_removed_at() = 0;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
