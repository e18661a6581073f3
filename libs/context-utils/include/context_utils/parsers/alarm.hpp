#pragma once

#include <boost/optional.hpp>
#include <string>

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// An alarm of the location server, read from JSON that the caller owns, anew on every call.
// A missing or mistyped required field raises std::logic_error from its getter; an optional
// one gives none.
class alarm {
public:
    virtual ~alarm() = default;

    virtual std::string get_uid() = 0;
    virtual std::string get_mac_address() = 0;
    virtual std::string get_alarm_name() = 0;
    virtual std::string get_text() = 0;
    // None also when the level is negative.
    virtual boost::optional<unsigned int> get_zone_alarm_level() = 0;
    virtual boost::optional<std::string> get_zone_violation_type() = 0;
    virtual boost::optional<std::string> get_zone_uid() = 0;
    // The time of the alarm: a message's envelope "ts" and "ms", or both read from a REST
    // element's "ts" text.
    virtual unsigned int get_ts() = 0;
    virtual unsigned int get_ms() = 0;
    virtual boost::optional<std::string> get_sublocation_uid() = 0;
    virtual boost::optional<int> get_x() = 0;
    virtual boost::optional<int> get_y() = 0;
    virtual boost::optional<int> get_z() = 0;
    virtual std::string get_obj_uid() = 0;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
