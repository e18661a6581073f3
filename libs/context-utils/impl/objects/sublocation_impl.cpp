#include "objects/sublocation_impl.hpp"

#include "objects/object_json.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

sublocation_impl::sublocation_impl(const json_object& _json) : m_json_value(_json.get_json()) {}

sublocation_impl::sublocation_impl(const json_notify& _json)
    : m_json_value(plist_of(_json)), m_json_notify(_json.get_json()) {}

const std::string& sublocation_impl::get_uid() const {
    return m_uid.get(m_json_value, "uid", nullptr);
}

timestamp sublocation_impl::get_updated_at() const {
    return updated_at(m_json_value, m_json_notify, m_updated_at, m_ts, m_ms);
}

boost::optional<const std::string&> sublocation_impl::get_name() const {
    return m_name.get(m_json_value, "name", nullptr);
}

boost::optional<const std::string&> sublocation_impl::get_project_name() const {
    return m_project_name.get(m_json_value, "project_name", nullptr);
}

boost::optional<const std::string&> sublocation_impl::get_project_uid() const {
    return m_project_uid.get(m_json_value, "project_uid", nullptr);
}

boost::optional<const std::string&> sublocation_impl::get_company_uid() const {
    return m_company_uid.get(m_json_value, "company_uid", nullptr);
}

boost::optional<const std::string&> sublocation_impl::get_location_uid() const {
    return m_location_uid.get(m_json_value, "location_uid", nullptr);
}

boost::optional<unsigned int> sublocation_impl::get_id() const {
    return m_id.get(m_json_value, "id", nullptr);
}

boost::optional<int> sublocation_impl::get_offset_x() const {
    return m_offset_x.get(m_json_value, "offset_x", nullptr);
}

boost::optional<int> sublocation_impl::get_offset_y() const {
    return m_offset_y.get(m_json_value, "offset_y", nullptr);
}

boost::optional<int> sublocation_impl::get_offset_z() const {
    return m_offset_z.get(m_json_value, "offset_z", nullptr);
}

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
