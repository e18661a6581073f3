#include "objects/node_impl.hpp"

#include "objects/object_json.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

node_impl::status_impl::status_impl(const Json::Value& _json_value) : m_json_value(_json_value) {}

bool node_impl::status_impl::get_ext_pow() const {
    return m_ext_pow.get(m_json_value, "ext_pow", nullptr);
}

node_impl::node_impl(const json_object& _json) : m_json_value(_json.get_json()) {}

node_impl::node_impl(const json_notify& _json)
    : m_json_value(plist_of(_json)), m_json_notify(_json.get_json()) {}

const std::string& node_impl::get_uid() const {
    return m_uid.get(m_json_value, "uid", nullptr);
}

const std::string& node_impl::get_mac_address() const {
    return m_mac_address.get(m_json_value, "mac_address", nullptr);
}

timestamp node_impl::get_updated_at() const {
    return updated_at(m_json_value, m_json_notify, m_updated_at, m_ts, m_ms);
}

boost::optional<const node::status&> node_impl::get_status() const {
    return m_status.get(m_json_value, "status", nullptr);
}

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
