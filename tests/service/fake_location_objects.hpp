#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "context_utils/objects/trackable_object.hpp"
#include "context_utils/objects/zone.hpp"
#include "context_utils/objects_repository.hpp"
#include "context_utils/objects_repository_manager.hpp"
#include "core/exception.hpp"

namespace service_test {

namespace objects = tvk::libs::context_utils::objects;
using tvk::libs::context_utils::timestamp;

// A repository manager over a plain repository that the test changes at will.
template <class T>
class fake_manager : public tvk::libs::context_utils::objects_repository_manager<T> {
public:
    const tvk::libs::context_utils::objects_repository<T>& get_objects() const override {
        return m_objects;
    }
    void disable_timer() override {}
    void set_update_period(std::chrono::nanoseconds) override {}

    tvk::libs::context_utils::objects_repository<T>& objects() { return m_objects; }

private:
    tvk::libs::context_utils::objects_repository<T> m_objects;
};

[[noreturn]] inline void not_read_here() {
    throw std::logic_error("a field that the service does not read");
}

// The fields of a zone; a field left empty is missing and its getter raises, as a zone read
// from the server's JSON does.
struct zone_fields {
    std::string uid;
    boost::optional<unsigned int> zone_id;
    boost::optional<unsigned int> sublocation_id;
    boost::optional<unsigned int> zone_type_id = 2u;
    unsigned int alarm_level = 1;
    std::string shape = "polygon";
    // Empty: the zone has no "zone_geometry".
    boost::optional<std::vector<std::pair<int, int>>> points =
        std::vector<std::pair<int, int>>{{100, 200}, {-50, 200}, {100, -25}};
};

class fake_zone : public objects::zone {
public:
    explicit fake_zone(zone_fields _fields) : m_fields(std::move(_fields)), m_geometry(*this) {}

    const std::string& get_uid() const override { return m_fields.uid; }
    boost::optional<unsigned int> get_zone_id() const override { return m_fields.zone_id; }
    boost::optional<unsigned int> get_sublocation_id() const override {
        return m_fields.sublocation_id;
    }
    unsigned int get_zone_type_id() const override {
        if (!m_fields.zone_type_id) {
            TVK_THROW("zone: \"zone_type_id\" is missing");
        }
        return *m_fields.zone_type_id;
    }
    unsigned int get_zone_alarm_level() const override { return m_fields.alarm_level; }
    const std::string& get_shape() const override { return m_fields.shape; }
    const zone_geometry& get_zone_geometry() const override {
        if (!m_fields.points) {
            TVK_THROW("zone: \"zone_geometry\" is missing");
        }
        ++m_geometry_reads;
        return m_geometry;
    }

    const std::string& get_project_uid() const override { not_read_here(); }
    const std::string& get_name() const override { not_read_here(); }
    boost::optional<const std::string&> get_sublocation_uid() const override { not_read_here(); }
    bool get_active() const override { not_read_here(); }
    const std::string& get_zone_type_name() const override { not_read_here(); }
    bool get_default_allowed() const override { not_read_here(); }
    int get_priority() const override { not_read_here(); }
    timestamp get_updated_at() const override { not_read_here(); }
    boost::optional<const std::string&> get_trackable_object_uid() const override {
        not_read_here();
    }
    bool for_each_trackable_in_zone(trackable_in_zone_callback) const override { not_read_here(); }
    zone_exceptions get_zone_exceptions() const override { not_read_here(); }
    zone_exceptions_groups get_zone_exceptions_groups() const override { not_read_here(); }
    boost::optional<const user_params&> get_user_params() const override { not_read_here(); }

    mutable int m_geometry_reads = 0;

private:
    class point_impl : public objects::zone::point {
    public:
        explicit point_impl(std::pair<int, int> _xy) : m_xy(_xy) {}
        int get_x() const override { return m_xy.first; }
        int get_y() const override { return m_xy.second; }

    private:
        std::pair<int, int> m_xy;
    };

    class geometry_impl : public objects::zone::zone_geometry {
    public:
        explicit geometry_impl(const fake_zone& _zone) : m_zone(_zone) {}
        boost::optional<int> get_radius() const override { return boost::none; }
        bool for_each_point(point_callback _callback) const override {
            for (const auto& xy : *m_zone.m_fields.points) {
                if (!_callback(point_impl(xy))) {
                    return false;
                }
            }
            return true;
        }

    private:
        const fake_zone& m_zone;
    };

    zone_fields m_fields;
    geometry_impl m_geometry;
};

// A tag with a node of the given MAC address, or without a node.
class fake_trackable_object : public objects::trackable_object {
public:
    fake_trackable_object(std::string _uid, boost::optional<std::string> _mac)
        : m_uid(std::move(_uid)) {
        if (_mac) {
            m_node.emplace(std::move(*_mac));
        }
    }

    const std::string& get_uid() const override { return m_uid; }
    boost::optional<const node&> get_node() const override {
        if (!m_node) {
            return boost::none;
        }
        return static_cast<const node&>(*m_node);
    }
    // Well formed: a node is an object or missing.
    bool has_malformed_node() const override { return false; }

    const std::string& get_name() const override { not_read_here(); }
    const std::string& get_project_uid() const override { not_read_here(); }
    const std::string& get_company_uid() const override { not_read_here(); }
    boost::optional<const position&> get_position() const override { not_read_here(); }
    timestamp get_updated_at() const override { not_read_here(); }
    boost::optional<const std::string&> get_self_zone_uid() const override { not_read_here(); }
    boost::optional<const std::vector<std::string>&> get_groups() const override {
        not_read_here();
    }
    int get_default_height() const override { not_read_here(); }
    const std::string& get_type() const override { not_read_here(); }
    const std::string& get_category() const override { not_read_here(); }
    const tag_config& get_tag_config() const override { not_read_here(); }

private:
    class node_impl : public objects::trackable_object::node {
    public:
        explicit node_impl(std::string _mac) : m_mac(std::move(_mac)) {}
        bool get_responsive() const override { return true; }
        const std::string& get_mac_address() const override { return m_mac; }

    private:
        std::string m_mac;
    };

    std::string m_uid;
    boost::optional<node_impl> m_node;
};

}  // namespace service_test
