#pragma once

#include <boost/optional.hpp>
#include <string>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// A read-only view of one sublocation (a part of a site), read lazily like a zone.
class sublocation {
public:
    virtual ~sublocation() = default;

    virtual const std::string& get_uid() const = 0;
    // A REST element's "updated_at"; a notification's "ts" and "ms".
    virtual timestamp get_updated_at() const = 0;
    virtual boost::optional<const std::string&> get_name() const = 0;
    virtual boost::optional<const std::string&> get_project_name() const = 0;
    virtual boost::optional<const std::string&> get_project_uid() const = 0;
    virtual boost::optional<const std::string&> get_company_uid() const = 0;
    virtual boost::optional<const std::string&> get_location_uid() const = 0;
    virtual boost::optional<unsigned int> get_id() const = 0;
    virtual boost::optional<int> get_offset_x() const = 0;
    virtual boost::optional<int> get_offset_y() const = 0;
    virtual boost::optional<int> get_offset_z() const = 0;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
