#pragma once

#include <functional>
#include <string>

#include "json_value.hpp"
#include "object_infos.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

// Routes "notify" messages by their "object" and "action" to one callback per kind and
// action, and position messages to the position callback. A later registration replaces the
// earlier one of its slot; an empty function empties it.
class context_updater {
public:
    typedef std::function<void(const json_notify&)> callback;

    context_updater() = default;
    context_updater(const context_updater&) = delete;
    context_updater& operator=(const context_updater&) = delete;

    // Raises core::exception for a text that is not JSON ("parse_error: ...") and for a
    // message without a string "object" or "action"; unknown kinds and actions are ignored.
    void handle_notify(const std::string& _notify);
    // Passes the whole parsed message to the position callback.
    void handle_pos(const std::string& _message);

    // Register for the kind of _info; alarms and unknown kinds register nothing.
    void on_creating(const object_info& _info, callback _callback);
    void on_updating(const object_info& _info, callback _callback);
    void on_deleting(const object_info& _info, callback _callback);

    void on_zone_creating(callback _callback);
    void on_zone_updating(callback _callback);
    void on_zone_deleting(callback _callback);
    void on_trackable_object_creating(callback _callback);
    void on_trackable_object_updating(callback _callback);
    void on_trackable_object_deleting(callback _callback);
    void on_sublocation_creating(callback _callback);
    void on_sublocation_updating(callback _callback);
    void on_sublocation_deleting(callback _callback);
    void on_win_anchor_creating(callback _callback);
    void on_win_anchor_updating(callback _callback);
    void on_win_anchor_deleting(callback _callback);
    void on_node_creating(callback _callback);
    void on_node_updating(callback _callback);
    void on_node_deleting(callback _callback);
    void on_pos(callback _callback);
    void on_trackable_object_association_creating(callback _callback);
    void on_trackable_object_association_updating(callback _callback);
    void on_trackable_object_groups_updating(callback _callback);

private:
    // The slot for an upper-cased object and a lower-cased action; null when none is routed.
    callback* find_slot(const std::string& _object, const std::string& _action);
    // The creating, updating and deleting slots of _info's kind; null for other kinds.
    callback* kind_slot(const object_info& _info, int _action_index);

    callback m_zone_creating_callback;
    callback m_zone_updating_callback;
    callback m_zone_deleting_callback;
    callback m_trackable_object_creating_callback;
    callback m_trackable_object_updating_callback;
    callback m_trackable_object_deleting_callback;
    callback m_sublocation_creating_callback;
    callback m_sublocation_updating_callback;
    callback m_sublocation_deleting_callback;
    callback m_win_anchor_creating_callback;
    callback m_win_anchor_updating_callback;
    callback m_win_anchor_deleting_callback;
    callback m_node_creating_callback;
    callback m_node_updating_callback;
    callback m_node_deleting_callback;
    callback m_pos_callback;
    callback m_trackable_object_association_creating_callback;
    callback m_trackable_object_association_updating_callback;
    callback m_trackable_object_groups_updating_callback;
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
