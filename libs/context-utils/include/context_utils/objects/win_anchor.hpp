#pragma once

#include <boost/optional.hpp>
#include <string>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// A read-only view of one fixed radio anchor, read lazily like a zone.
class win_anchor {
public:
    class node;
    class position;

    virtual ~win_anchor() = default;

    virtual const std::string& get_uid() const = 0;
    virtual const std::string& get_name() const = 0;
    virtual boost::optional<const node&> get_node() const = 0;
    virtual const std::string& get_sublocation_uid() const = 0;
    virtual const std::string& get_project_uid() const = 0;
    virtual const std::string& get_company_uid() const = 0;
    virtual boost::optional<const position&> get_position() const = 0;
    // A REST element's "updated_at"; a notification's "ts" and "ms".
    virtual timestamp get_updated_at() const = 0;
};

class win_anchor::node {
public:
    virtual ~node() = default;

    virtual bool get_responsive() const = 0;
    virtual const std::string& get_mac_address() const = 0;
    virtual unsigned int get_node_id() const = 0;
};

class win_anchor::position {
public:
    virtual ~position() = default;

    virtual int get_x() const = 0;
    virtual int get_y() const = 0;
    virtual int get_z() const = 0;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
