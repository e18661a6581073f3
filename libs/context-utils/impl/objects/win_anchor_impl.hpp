#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/lazy_value.hpp"
#include "context_utils/objects/win_anchor.hpp"
#include "json_value.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// An anchor over a private copy of its JSON (a REST element or a notification's "plist").
// Never copied or moved once built: the nested views refer into m_json_value.
class win_anchor_impl : public win_anchor {
public:
    // The anchor's own node view; not the node object of node_impl.
    class node_impl : public win_anchor::node {
    public:
        explicit node_impl(const Json::Value& _json_value);

        bool get_responsive() const override;
        const std::string& get_mac_address() const override;
        unsigned int get_node_id() const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<bool_value> m_responsive;
        lazy_value<string_value> m_mac_address;
        lazy_value<uint_value> m_node_id;
    };

    class position_impl : public win_anchor::position {
    public:
        explicit position_impl(const Json::Value& _json_value);

        int get_x() const override;
        int get_y() const override;
        int get_z() const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<numeric_value> m_x;
        lazy_value<numeric_value> m_y;
        lazy_value<numeric_value> m_z;
    };

    explicit win_anchor_impl(const json_object& _json);
    explicit win_anchor_impl(const json_notify& _json);
    win_anchor_impl(const win_anchor_impl&) = delete;
    win_anchor_impl& operator=(const win_anchor_impl&) = delete;

    const std::string& get_uid() const override;
    const std::string& get_name() const override;
    boost::optional<const node&> get_node() const override;
    const std::string& get_sublocation_uid() const override;
    const std::string& get_project_uid() const override;
    const std::string& get_company_uid() const override;
    boost::optional<const position&> get_position() const override;
    timestamp get_updated_at() const override;

private:
    lazy_value<string_value> m_uid;
    lazy_value<string_value> m_name;
    lazy_value<optional_value<object_value<win_anchor::node, node_impl>>> m_node;
    lazy_value<string_value> m_sublocation_uid;
    lazy_value<string_value> m_project_uid;
    lazy_value<string_value> m_company_uid;
    lazy_value<optional_value<object_value<win_anchor::position, position_impl>>> m_position;
    lazy_value<uint_value> m_ts;
    lazy_value<uint_value> m_ms;
    lazy_value<timestamp_value> m_updated_at;
    Json::Value m_json_value;
    boost::optional<Json::Value> m_json_notify;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
