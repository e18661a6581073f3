#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/parsers/alarm.hpp"
#include "parsers/iso8601_time.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// An alarm over _json_value (a REST element) and, when it comes from a message, the whole
// message; both stay the caller's and must outlive the view.
class alarm_impl : public alarm {
public:
    alarm_impl(const Json::Value& _json_value,
               const boost::optional<const Json::Value&>& _json_notify);
    // The view refers into its JSON: a temporary would be gone before the first read.
    alarm_impl(const Json::Value&& _json_value,
               const boost::optional<const Json::Value&>& _json_notify) = delete;

    std::string get_uid() override;
    std::string get_mac_address() override;
    std::string get_alarm_name() override;
    std::string get_text() override;
    boost::optional<unsigned int> get_zone_alarm_level() override;
    boost::optional<std::string> get_zone_violation_type() override;
    boost::optional<std::string> get_zone_uid() override;
    unsigned int get_ts() override;
    unsigned int get_ms() override;
    boost::optional<std::string> get_sublocation_uid() override;
    boost::optional<int> get_x() override;
    boost::optional<int> get_y() override;
    boost::optional<int> get_z() override;
    std::string get_obj_uid() override;

private:
    // The envelope's "ts" or "ms" of a message.
    unsigned int envelope_field(const char* _key) const;
    // The seconds and milliseconds of a REST element's "ts" text.
    iso8601_time::time rest_time() const;

    const Json::Value& m_json_value;
    boost::optional<const Json::Value&> m_json_notify;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
