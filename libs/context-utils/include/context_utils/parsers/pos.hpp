#pragma once

#include <boost/utility/string_view.hpp>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A position message, read from JSON that the caller owns, anew on every call. A missing or
// mistyped field raises tvk::libs::core::exception; the texts returned are views into the
// JSON.
class pos {
public:
    virtual ~pos() = default;

    virtual boost::string_view get_trackable_uid() = 0;
    virtual timestamp get_ts() = 0;
    virtual int get_x() = 0;
    virtual int get_y() = 0;
    virtual int get_z() = 0;
    virtual boost::string_view get_type() = 0;
    virtual boost::string_view get_sublocation_uid() = 0;
    virtual unsigned int get_fom() = 0;
    virtual boost::string_view get_mac() = 0;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
