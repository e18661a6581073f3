#pragma once

#include <boost/optional.hpp>
#include <string>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// A read-only view of one radio node and its power status, read lazily like a zone.
class node {
public:
    class status;

    virtual ~node() = default;

    virtual const std::string& get_uid() const = 0;
    virtual const std::string& get_mac_address() const = 0;
    // A REST element's "updated_at"; a notification's "ts" and "ms".
    virtual timestamp get_updated_at() const = 0;
    virtual boost::optional<const status&> get_status() const = 0;
};

class node::status {
public:
    virtual ~status() = default;

    virtual bool get_ext_pow() const = 0;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
