#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/lazy_value.hpp"
#include "context_utils/objects/sublocation.hpp"
#include "json_value.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// A sublocation over a private copy of its JSON (a REST element or a notification's "plist").
class sublocation_impl : public sublocation {
public:
    explicit sublocation_impl(const json_object& _json);
    explicit sublocation_impl(const json_notify& _json);
    sublocation_impl(const sublocation_impl&) = delete;
    sublocation_impl& operator=(const sublocation_impl&) = delete;

    const std::string& get_uid() const override;
    timestamp get_updated_at() const override;
    boost::optional<const std::string&> get_name() const override;
    boost::optional<const std::string&> get_project_name() const override;
    boost::optional<const std::string&> get_project_uid() const override;
    boost::optional<const std::string&> get_company_uid() const override;
    boost::optional<const std::string&> get_location_uid() const override;
    boost::optional<unsigned int> get_id() const override;
    boost::optional<int> get_offset_x() const override;
    boost::optional<int> get_offset_y() const override;
    boost::optional<int> get_offset_z() const override;

private:
    lazy_value<string_value> m_uid;
    lazy_value<uint_value> m_ts;
    lazy_value<uint_value> m_ms;
    lazy_value<timestamp_value> m_updated_at;
    lazy_value<optional_value<string_value>> m_name;
    lazy_value<optional_value<string_value>> m_project_name;
    lazy_value<optional_value<string_value>> m_project_uid;
    lazy_value<optional_value<string_value>> m_company_uid;
    lazy_value<optional_value<string_value>> m_location_uid;
    lazy_value<optional_value<unumeric_value>> m_id;
    lazy_value<optional_value<numeric_value>> m_offset_x;
    lazy_value<optional_value<numeric_value>> m_offset_y;
    lazy_value<optional_value<numeric_value>> m_offset_z;
    Json::Value m_json_value;
    boost::optional<Json::Value> m_json_notify;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
