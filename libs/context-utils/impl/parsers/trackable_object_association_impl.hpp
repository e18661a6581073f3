#pragma once

#include <json/json.h>

#include "context_utils/parsers/trackable_object_association.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// An association over a message's "plist" and the whole message; both stay the caller's and
// must outlive the view.
class trackable_object_association_impl : public trackable_object_association {
public:
    trackable_object_association_impl(const Json::Value& _json_value,
                                      const Json::Value& _json_notify);

    timestamp get_ts() override;
    std::string get_project_uid() override;
    std::string get_mac_address() override;
    std::string get_trackable_object_uid() override;
    timestamp get_created_at() override;
    boost::optional<timestamp> get_removed_at() override;

private:
    const Json::Value& m_json_value;
    const Json::Value& m_json_notify;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
