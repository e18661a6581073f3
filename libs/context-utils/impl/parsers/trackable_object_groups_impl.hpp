#pragma once

#include <json/json.h>

#include <string>

#include "context_utils/parsers/trackable_object_groups.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A group change over a message's "plist" and the whole message; both stay the caller's and
// must outlive the view.
class trackable_object_groups_impl : public trackable_object_groups {
public:
    class group_impl : public group {
    public:
        group_impl(std::string _uid, const Json::Value& _json_value);

        const std::string& get_uid() override;
        std::string get_trackable_object_uid() override;

    private:
        std::string m_uid;
        const Json::Value& m_json_value;
    };

    trackable_object_groups_impl(const Json::Value& _json_value, const Json::Value& _json_notify);

    timestamp get_ts() override;
    std::string get_project_uid() override;
    bool for_each_added_group(group_callback _callback) override;
    bool for_each_removed_group(group_callback _callback) override;

private:
    bool for_each_group(const char* _action, const group_callback& _callback);

    const Json::Value& m_json_value;
    const Json::Value& m_json_notify;
};

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
