#include "parsers/trackable_object_association_impl.hpp"

#include "parsers/message_fields.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

namespace {

// What the server sends in "removed_at" while the association stands.
const char* const never_removed = "9999-12-31T23:59:59.000Z";

}  // namespace

trackable_object_association_impl::trackable_object_association_impl(
    const Json::Value& _json_value, const Json::Value& _json_notify)
    : m_json_value(_json_value), m_json_notify(_json_notify) {}

timestamp trackable_object_association_impl::get_ts() {
    return envelope_time(m_json_notify);
}

std::string trackable_object_association_impl::get_project_uid() {
    return required_string(m_json_value, "project_uid");
}

std::string trackable_object_association_impl::get_mac_address() {
    return required_string(m_json_value, "mac_address");
}

std::string trackable_object_association_impl::get_trackable_object_uid() {
    return required_string(m_json_value, "trob_uid");
}

timestamp trackable_object_association_impl::get_created_at() {
    return required_iso8601_time(m_json_value, "created_at");
}

boost::optional<timestamp> trackable_object_association_impl::get_removed_at() {
    if (required_string(m_json_value, "removed_at") == never_removed) {
        return boost::none;
    }
    return required_iso8601_time(m_json_value, "removed_at");
}

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
