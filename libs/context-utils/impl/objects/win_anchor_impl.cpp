#include "objects/win_anchor_impl.hpp"

#include "objects/object_json.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

win_anchor_impl::node_impl::node_impl(const Json::Value& _json_value) : m_json_value(_json_value) {}

bool win_anchor_impl::node_impl::get_responsive() const {
    return m_responsive.get(m_json_value, "responsive", nullptr);
}

const std::string& win_anchor_impl::node_impl::get_mac_address() const {
    return m_mac_address.get(m_json_value, "mac_address", nullptr);
}

unsigned int win_anchor_impl::node_impl::get_node_id() const {
    return m_node_id.get(m_json_value, "node_id", nullptr);
}

win_anchor_impl::position_impl::position_impl(const Json::Value& _json_value)
    : m_json_value(_json_value) {}

int win_anchor_impl::position_impl::get_x() const {
    return m_x.get(m_json_value, "x", nullptr);
}

int win_anchor_impl::position_impl::get_y() const {
    return m_y.get(m_json_value, "y", nullptr);
}

int win_anchor_impl::position_impl::get_z() const {
    return m_z.get(m_json_value, "z", nullptr);
}

win_anchor_impl::win_anchor_impl(const json_object& _json) : m_json_value(_json.get_json()) {}

win_anchor_impl::win_anchor_impl(const json_notify& _json)
    : m_json_value(plist_of(_json)), m_json_notify(_json.get_json()) {}

const std::string& win_anchor_impl::get_uid() const {
    return m_uid.get(m_json_value, "uid", nullptr);
}

const std::string& win_anchor_impl::get_name() const {
    return m_name.get(m_json_value, "name", nullptr);
}

boost::optional<const win_anchor::node&> win_anchor_impl::get_node() const {
    return m_node.get(m_json_value, "node", nullptr);
}

const std::string& win_anchor_impl::get_sublocation_uid() const {
    return m_sublocation_uid.get(m_json_value, "sublocation_uid", nullptr);
}

const std::string& win_anchor_impl::get_project_uid() const {
    return m_project_uid.get(m_json_value, "project_uid", nullptr);
}

const std::string& win_anchor_impl::get_company_uid() const {
    return m_company_uid.get(m_json_value, "company_uid", nullptr);
}

boost::optional<const win_anchor::position&> win_anchor_impl::get_position() const {
    return m_position.get(m_json_value, "position", nullptr);
}

timestamp win_anchor_impl::get_updated_at() const {
    return updated_at(m_json_value, m_json_notify, m_updated_at, m_ts, m_ms);
}

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
