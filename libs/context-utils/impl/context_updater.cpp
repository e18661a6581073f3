#include "context_updater.hpp"

#include <boost/algorithm/string/case_conv.hpp>
#include <locale>

#include "core/exception.hpp"
#include "core/json.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

namespace {

const char* const actions[] = {"created", "updated", "deleted"};
constexpr int creating = 0;
constexpr int updating = 1;
constexpr int deleting = 2;

// Calls a copy, so that a callback may replace its own slot while it runs.
void call(const context_updater::callback& _slot, Json::Value&& _message) {
    if (!_slot) {
        return;
    }
    const context_updater::callback callback = _slot;
    callback(json_notify(std::move(_message)));
}

}  // namespace

void context_updater::handle_notify(const std::string& _notify) {
    auto parsed = core::json::try_parse(_notify);
    if (!parsed.ok) {
        TVK_THROW("parse_error: " + parsed.error);
    }
    // The const look-up: it adds no member to the message and raises jsoncpp's own error for
    // a message that is not an object.
    const Json::Value& message = parsed.result;
    const Json::Value& object = message["object"];
    if (!object.isString()) {
        TVK_THROW("\"object\" is not a string!");
    }
    const std::string object_name =
        boost::algorithm::to_upper_copy(object.asString(), std::locale());
    const Json::Value& action = message["action"];
    if (!action.isString()) {
        TVK_THROW("\"action\" is not a string!");
    }
    const std::string action_name =
        boost::algorithm::to_lower_copy(action.asString(), std::locale());
    if (callback* slot = find_slot(object_name, action_name)) {
        call(*slot, std::move(parsed.result));
    }
}

void context_updater::handle_pos(const std::string& _message) {
    auto parsed = core::json::try_parse(_message);
    if (!parsed.ok) {
        TVK_THROW("parse_error: " + parsed.error);
    }
    call(m_pos_callback, std::move(parsed.result));
}

context_updater::callback* context_updater::find_slot(const std::string& _object,
                                                      const std::string& _action) {
    int action_index = -1;
    for (int i = creating; i <= deleting; ++i) {
        if (_action == actions[i]) {
            action_index = i;
            break;
        }
    }
    if (action_index < 0) {
        return nullptr;
    }
    for (const object_info* info :
         {&object_infos::zone, &object_infos::trackable_object, &object_infos::sublocation,
          &object_infos::win_anchor, &object_infos::node}) {
        if (_object == info->m_notify_json_name) {
            return kind_slot(*info, action_index);
        }
    }
    if (_object == "TRACKABLE_OBJECT_GROUPS") {
        return action_index == updating ? &m_trackable_object_groups_updating_callback : nullptr;
    }
    if (_object == "TRACKABLE_OBJECT_ASSOCIATION") {
        switch (action_index) {
            case creating:
                return &m_trackable_object_association_creating_callback;
            case updating:
                return &m_trackable_object_association_updating_callback;
            default:
                return nullptr;
        }
    }
    return nullptr;
}

context_updater::callback* context_updater::kind_slot(const object_info& _info, int _action_index) {
    const auto select = [_action_index](callback& _creating, callback& _updating,
                                        callback& _deleting) {
        return _action_index == creating ? &_creating
                                         : (_action_index == updating ? &_updating : &_deleting);
    };
    switch (_info.m_type) {
        case object_type::zone:
            return select(m_zone_creating_callback, m_zone_updating_callback,
                          m_zone_deleting_callback);
        case object_type::trackable_object:
            return select(m_trackable_object_creating_callback,
                          m_trackable_object_updating_callback,
                          m_trackable_object_deleting_callback);
        case object_type::sublocation:
            return select(m_sublocation_creating_callback, m_sublocation_updating_callback,
                          m_sublocation_deleting_callback);
        case object_type::win_anchor:
            return select(m_win_anchor_creating_callback, m_win_anchor_updating_callback,
                          m_win_anchor_deleting_callback);
        case object_type::node:
            return select(m_node_creating_callback, m_node_updating_callback,
                          m_node_deleting_callback);
        default:
            return nullptr;
    }
}

void context_updater::on_creating(const object_info& _info, callback _callback) {
    if (callback* slot = kind_slot(_info, creating)) {
        *slot = std::move(_callback);
    }
}

void context_updater::on_updating(const object_info& _info, callback _callback) {
    if (callback* slot = kind_slot(_info, updating)) {
        *slot = std::move(_callback);
    }
}

void context_updater::on_deleting(const object_info& _info, callback _callback) {
    if (callback* slot = kind_slot(_info, deleting)) {
        *slot = std::move(_callback);
    }
}

void context_updater::on_zone_creating(callback _callback) {
    m_zone_creating_callback = std::move(_callback);
}

void context_updater::on_zone_updating(callback _callback) {
    m_zone_updating_callback = std::move(_callback);
}

void context_updater::on_zone_deleting(callback _callback) {
    m_zone_deleting_callback = std::move(_callback);
}

void context_updater::on_trackable_object_creating(callback _callback) {
    m_trackable_object_creating_callback = std::move(_callback);
}

void context_updater::on_trackable_object_updating(callback _callback) {
    m_trackable_object_updating_callback = std::move(_callback);
}

void context_updater::on_trackable_object_deleting(callback _callback) {
    m_trackable_object_deleting_callback = std::move(_callback);
}

void context_updater::on_sublocation_creating(callback _callback) {
    m_sublocation_creating_callback = std::move(_callback);
}

void context_updater::on_sublocation_updating(callback _callback) {
    m_sublocation_updating_callback = std::move(_callback);
}

void context_updater::on_sublocation_deleting(callback _callback) {
    m_sublocation_deleting_callback = std::move(_callback);
}

void context_updater::on_win_anchor_creating(callback _callback) {
    m_win_anchor_creating_callback = std::move(_callback);
}

void context_updater::on_win_anchor_updating(callback _callback) {
    m_win_anchor_updating_callback = std::move(_callback);
}

void context_updater::on_win_anchor_deleting(callback _callback) {
    m_win_anchor_deleting_callback = std::move(_callback);
}

void context_updater::on_node_creating(callback _callback) {
    m_node_creating_callback = std::move(_callback);
}

void context_updater::on_node_updating(callback _callback) {
    m_node_updating_callback = std::move(_callback);
}

void context_updater::on_node_deleting(callback _callback) {
    m_node_deleting_callback = std::move(_callback);
}

void context_updater::on_pos(callback _callback) {
    m_pos_callback = std::move(_callback);
}

void context_updater::on_trackable_object_association_creating(callback _callback) {
    m_trackable_object_association_creating_callback = std::move(_callback);
}

void context_updater::on_trackable_object_association_updating(callback _callback) {
    m_trackable_object_association_updating_callback = std::move(_callback);
}

void context_updater::on_trackable_object_groups_updating(callback _callback) {
    m_trackable_object_groups_updating_callback = std::move(_callback);
}

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
