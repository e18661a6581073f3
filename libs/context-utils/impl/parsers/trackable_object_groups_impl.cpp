#include "parsers/trackable_object_groups_impl.hpp"

#include <stdexcept>
#include <utility>

#include "parsers/message_fields.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

trackable_object_groups_impl::group_impl::group_impl(std::string _uid,
                                                     const Json::Value& _json_value)
    : m_uid(std::move(_uid)), m_json_value(_json_value) {}

const std::string& trackable_object_groups_impl::group_impl::get_uid() {
    return m_uid;
}

std::string trackable_object_groups_impl::group_impl::get_trackable_object_uid() {
    const Json::Value& uid = m_json_value["trackableObject"];
    if (!uid.isString()) {
        throw std::logic_error("context-utils::group_impl: trackableObject is not a string!");
    }
    return uid.asString();
}

trackable_object_groups_impl::trackable_object_groups_impl(const Json::Value& _json_value,
                                                           const Json::Value& _json_notify)
    : m_json_value(_json_value), m_json_notify(_json_notify) {}

timestamp trackable_object_groups_impl::get_ts() {
    return envelope_time(m_json_notify);
}

std::string trackable_object_groups_impl::get_project_uid() {
    return required_string(m_json_notify, "project_uid");
}

bool trackable_object_groups_impl::for_each_added_group(group_callback _callback) {
    return for_each_group("ADD_GROUP", _callback);
}

bool trackable_object_groups_impl::for_each_removed_group(group_callback _callback) {
    return for_each_group("REMOVE_GROUP", _callback);
}

bool trackable_object_groups_impl::for_each_group(const char* _action,
                                                  const group_callback& _callback) {
    // Members come in ascending name order; any value but an object or array has none.
    for (auto member = m_json_value.begin(); member != m_json_value.end(); ++member) {
        if ((*member)["action"].asString() != _action) {
            continue;
        }
        group_impl group(member.name(), *member);
        if (!_callback(group)) {
            return false;
        }
    }
    return true;
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
