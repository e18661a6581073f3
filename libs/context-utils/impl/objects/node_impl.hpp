#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/lazy_value.hpp"
#include "context_utils/objects/node.hpp"
#include "json_value.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// A node over a private copy of its JSON (a REST element or a notification's "plist").
// Never copied or moved once built: the status view refers into m_json_value.
class node_impl : public node {
public:
    class status_impl : public node::status {
    public:
        explicit status_impl(const Json::Value& _json_value);

        bool get_ext_pow() const override;

    private:
        const Json::Value& m_json_value;
        lazy_value<bool_value> m_ext_pow;
    };

    explicit node_impl(const json_object& _json);
    explicit node_impl(const json_notify& _json);
    node_impl(const node_impl&) = delete;
    node_impl& operator=(const node_impl&) = delete;

    const std::string& get_uid() const override;
    const std::string& get_mac_address() const override;
    timestamp get_updated_at() const override;
    boost::optional<const status&> get_status() const override;

private:
    lazy_value<string_value> m_uid;
    lazy_value<string_value> m_mac_address;
    lazy_value<uint_value> m_ts;
    lazy_value<uint_value> m_ms;
    lazy_value<timestamp_value> m_updated_at;
    lazy_value<optional_value<object_value<node::status, status_impl>>> m_status;
    Json::Value m_json_value;
    boost::optional<Json::Value> m_json_notify;
};

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
