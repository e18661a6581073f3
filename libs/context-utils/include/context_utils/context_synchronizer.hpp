#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "context_utils/objects/node.hpp"
#include "context_utils/objects/sublocation.hpp"
#include "context_utils/objects/trackable_object.hpp"
#include "context_utils/objects/win_anchor.hpp"
#include "context_utils/objects/zone.hpp"
#include "context_utils/objects_repository_manager.hpp"
#include "context_utils/parsers/alarm.hpp"
#include "context_utils/parsers/pos.hpp"
#include "context_utils/parsers/trackable_object.hpp"
#include "context_utils/parsers/trackable_object_association.hpp"
#include "context_utils/parsers/trackable_object_groups.hpp"
#include "context_utils/parsers/zone.hpp"
#include "context_utils/timestamp.hpp"
#include "core/events_loop.hpp"
#include "core/http/client.hpp"
#include "core/logger.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

// The context library's entry point: keeps the location server's objects in repository
// managers, takes the "notify" and position messages, and hands the server's objects and
// changes to callbacks as parser views. A view given to a callback is valid during the call
// only. One callback per slot: a later registration replaces the earlier one, also one that a
// manager of the same kind made, and an empty function empties the slot. Everything runs on
// the caller's thread; the blocking operations wait for the server, retrying every 5 seconds,
// and raise "Interrupted" once the events loop has been stopped.
class context_synchronizer {
public:
    typedef std::unique_ptr<context_synchronizer> ptr;

    typedef std::function<void(parsers::zone&)> zone_callback;
    typedef std::function<void(const std::string&, timestamp)> zone_deleting_callback;
    typedef std::function<bool(parsers::zone&)> bool_zone_callback;
    typedef std::function<void(parsers::trackable_object&)> trackable_object_callback;
    typedef std::function<void(const std::string&, timestamp)> trackable_object_deleting_callback;
    typedef std::function<bool(parsers::trackable_object&)> bool_trackable_object_callback;
    typedef std::function<bool(parsers::alarm&)> bool_alarm_callback;
    typedef std::function<void(parsers::pos&)> pos_callback;
    typedef std::function<void(parsers::trackable_object_association&)>
        trackable_object_association_callback;
    typedef std::function<void(parsers::trackable_object_groups&)> trackable_object_groups_callback;

    typedef std::unique_ptr<objects_repository_manager<objects::zone>> zones_ptr;
    typedef std::unique_ptr<objects_repository_manager<objects::trackable_object>>
        trackable_objects_ptr;
    typedef std::unique_ptr<objects_repository_manager<objects::win_anchor>> win_anchors_ptr;
    typedef std::unique_ptr<objects_repository_manager<objects::sublocation>> sublocations_ptr;
    typedef std::unique_ptr<objects_repository_manager<objects::node>> nodes_ptr;

    // Nothing is loaded or subscribed yet. The client, the loop and the logger must outlive
    // the synchroniser, and the synchroniser the refreshes of the managers it makes.
    static ptr create(core::http::client& _http_client, core::events_loop& _events_loop,
                      const core::component_logger& _logger);

    virtual ~context_synchronizer() = default;

    // Routes one "notify" message by its "object" and "action"; raises core::exception for a
    // text that is not JSON or lacks a string "object" or "action".
    virtual void handle_notify(const std::string& _notify) = 0;
    // Loads trackable objects, then zones, for whichever has a creating callback, and calls
    // it with each listed object.
    virtual void initialize() = 0;
    // Passes one position message to the position callback.
    virtual void handle_pos(const std::string& _message) = 0;

    // Each make operation blocks until the kind's list has been loaded; the manager then
    // follows the kind's notify messages and reloads the list every _forced_update_period.
    virtual zones_ptr make_zones(std::chrono::nanoseconds _forced_update_period) = 0;
    // Zone creations from notify messages, and from initialize.
    virtual void on_zone_creating(zone_callback _callback) = 0;
    virtual void on_zone_updating(zone_callback _callback) = 0;
    // Called with the uid and the time of the change; a message without them raises before
    // the callback is called.
    virtual void on_zone_deleting(zone_deleting_callback _callback) = 0;
    // Blocking load of the zones, then calls _callback with each until it returns false;
    // false when it did.
    virtual bool for_each_zone_on_server(bool_zone_callback _callback) = 0;

    virtual trackable_objects_ptr make_trackable_objects(
        std::chrono::nanoseconds _forced_update_period) = 0;
    virtual void on_trackable_object_creating(trackable_object_callback _callback) = 0;
    virtual void on_trackable_object_updating(trackable_object_callback _callback) = 0;
    virtual void on_trackable_object_deleting(trackable_object_deleting_callback _callback) = 0;
    virtual bool for_each_trackable_object_on_server(bool_trackable_object_callback _callback) = 0;

    virtual win_anchors_ptr make_win_anchors(std::chrono::nanoseconds _forced_update_period) = 0;
    virtual sublocations_ptr make_sublocations(std::chrono::nanoseconds _forced_update_period) = 0;
    virtual nodes_ptr make_nodes(std::chrono::nanoseconds _forced_update_period) = 0;
    virtual bool for_each_alarm_on_server(bool_alarm_callback _callback) = 0;

    virtual void on_pos(pos_callback _callback) = 0;
    virtual void on_trackable_object_association_creating(
        trackable_object_association_callback _callback) = 0;
    virtual void on_trackable_object_association_updating(
        trackable_object_association_callback _callback) = 0;
    virtual void on_trackable_object_groups_updating(
        trackable_object_groups_callback _callback) = 0;
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
