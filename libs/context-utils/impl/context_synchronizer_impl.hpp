#pragma once

#include <chrono>

#include "context_initializer.hpp"
#include "context_updater.hpp"
#include "context_utils/context_synchronizer.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

// Owns the notify router and the REST loader, and adapts the caller's callbacks to them: each
// adapter builds a parser view over the message or element, hands it over and drops it.
class context_synchronizer_impl : public context_synchronizer {
public:
    // _retry_period is the pause between the attempts of a blocking load.
    context_synchronizer_impl(core::http::client& _http_client, core::events_loop& _events_loop,
                              const core::component_logger& _logger,
                              std::chrono::milliseconds _retry_period = std::chrono::seconds(5));
    context_synchronizer_impl(const context_synchronizer_impl&) = delete;
    context_synchronizer_impl& operator=(const context_synchronizer_impl&) = delete;

    void handle_notify(const std::string& _notify) override;
    void initialize() override;
    void handle_pos(const std::string& _message) override;

    zones_ptr make_zones(std::chrono::nanoseconds _forced_update_period) override;
    void on_zone_creating(zone_callback _callback) override;
    void on_zone_updating(zone_callback _callback) override;
    void on_zone_deleting(zone_deleting_callback _callback) override;
    bool for_each_zone_on_server(bool_zone_callback _callback) override;

    trackable_objects_ptr make_trackable_objects(
        std::chrono::nanoseconds _forced_update_period) override;
    void on_trackable_object_creating(trackable_object_callback _callback) override;
    void on_trackable_object_updating(trackable_object_callback _callback) override;
    void on_trackable_object_deleting(trackable_object_deleting_callback _callback) override;
    bool for_each_trackable_object_on_server(bool_trackable_object_callback _callback) override;

    win_anchors_ptr make_win_anchors(std::chrono::nanoseconds _forced_update_period) override;
    sublocations_ptr make_sublocations(std::chrono::nanoseconds _forced_update_period) override;
    nodes_ptr make_nodes(std::chrono::nanoseconds _forced_update_period) override;
    bool for_each_alarm_on_server(bool_alarm_callback _callback) override;

    void on_pos(pos_callback _callback) override;
    void on_trackable_object_association_creating(
        trackable_object_association_callback _callback) override;
    void on_trackable_object_association_updating(
        trackable_object_association_callback _callback) override;
    void on_trackable_object_groups_updating(trackable_object_groups_callback _callback) override;

private:
    template <class ObjectInterface, class ObjectImplementation>
    std::unique_ptr<objects_repository_manager<ObjectInterface>> make_manager(
        const object_info& _info, std::chrono::nanoseconds _forced_update_period);

    // The loader uses the client; the synchroniser only keeps it with the loop it belongs to.
    [[maybe_unused]] core::http::client& m_http_client;
    core::events_loop& m_events_loop;
    core::component_logger::ptr m_logger;
    context_updater m_context_updater;
    context_initializer m_context_initializer;
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
