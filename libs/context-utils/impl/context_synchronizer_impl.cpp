#include "context_synchronizer_impl.hpp"

#include <utility>

#include "objects/node_impl.hpp"
#include "objects/sublocation_impl.hpp"
#include "objects/trackable_object_impl.hpp"
#include "objects/win_anchor_impl.hpp"
#include "objects/zone_impl.hpp"
#include "objects_repository_manager_impl.hpp"
#include "parsers/alarm_impl.hpp"
#include "parsers/pos_impl.hpp"
#include "parsers/trackable_object_association_impl.hpp"
#include "parsers/trackable_object_groups_impl.hpp"
#include "parsers/trackable_object_impl.hpp"
#include "parsers/zone_impl.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

namespace {

// The views refer into the message or element, which outlives the call; an empty callback
// empties the slot instead of raising at the first message.

// A router callback that gives _callback a View over the message's "plist" and the message.
template <class View, class Callback>
context_updater::callback from_notify(Callback _callback) {
    if (!_callback) {
        return nullptr;
    }
    return [callback = std::move(_callback)](const json_notify& _message) {
        const Json::Value& message = _message.get_json();
        View view(message["plist"], message);
        callback(view);
    };
}

// A router callback that reads the uid and the time of the change from a View over the
// message, then calls _callback with them.
template <class View>
context_updater::callback deletion_from_notify(
    std::function<void(const std::string&, timestamp)> _callback) {
    if (!_callback) {
        return nullptr;
    }
    return [callback = std::move(_callback)](const json_notify& _message) {
        const Json::Value& message = _message.get_json();
        View view(message["plist"], message);
        const std::string uid = view.get_uid();
        const unsigned int seconds = view.get_ts();
        const unsigned int milliseconds = view.get_ms();
        callback(uid, timestamp(static_cast<time_t>(seconds), milliseconds));
    };
}

// A loader callback that gives _callback a View over one REST element.
template <class View, class Callback>
context_initializer::callback from_element(Callback _callback) {
    if (!_callback) {
        return nullptr;
    }
    return [callback = std::move(_callback)](const json_object& _object) {
        View view(_object.get_json(), boost::none);
        callback(view);
    };
}

// A walk's callback: a View over each element; false stops the walk.
template <class View, class Callback>
context_initializer::bool_callback walk_element(const Callback& _callback) {
    return [&_callback](const json_object& _object) {
        View view(_object.get_json(), boost::none);
        return _callback(view);
    };
}

}  // namespace

context_synchronizer::ptr context_synchronizer::create(core::http::client& _http_client,
                                                       core::events_loop& _events_loop,
                                                       const core::component_logger& _logger) {
    return std::make_unique<context_synchronizer_impl>(_http_client, _events_loop, _logger);
}

context_synchronizer_impl::context_synchronizer_impl(core::http::client& _http_client,
                                                     core::events_loop& _events_loop,
                                                     const core::component_logger& _logger,
                                                     std::chrono::milliseconds _retry_period)
    : m_http_client(_http_client)
    , m_events_loop(_events_loop)
    , m_logger(_logger.component("context_utils"))
    , m_context_initializer(_http_client, _events_loop, *m_logger, _retry_period) {}

void context_synchronizer_impl::handle_notify(const std::string& _notify) {
    m_context_updater.handle_notify(_notify);
}

void context_synchronizer_impl::initialize() {
    m_context_initializer.initialize();
}

void context_synchronizer_impl::handle_pos(const std::string& _message) {
    m_context_updater.handle_pos(_message);
}

template <class ObjectInterface, class ObjectImplementation>
std::unique_ptr<objects_repository_manager<ObjectInterface>>
context_synchronizer_impl::make_manager(const object_info& _info,
                                        std::chrono::nanoseconds _forced_update_period) {
    auto manager =
        std::make_unique<objects_repository_manager_impl<ObjectInterface, ObjectImplementation>>(
            _info, m_context_initializer, m_context_updater, m_events_loop.get_timers());
    manager->set_update_period(_forced_update_period);
    return manager;
}

context_synchronizer::zones_ptr context_synchronizer_impl::make_zones(
    std::chrono::nanoseconds _forced_update_period) {
    return make_manager<objects::zone, objects::zone_impl>(object_infos::zone,
                                                           _forced_update_period);
}

void context_synchronizer_impl::on_zone_creating(zone_callback _callback) {
    m_context_updater.on_zone_creating(from_notify<parsers::zone_impl>(_callback));
    m_context_initializer.on_zone_creating(from_element<parsers::zone_impl>(std::move(_callback)));
}

void context_synchronizer_impl::on_zone_updating(zone_callback _callback) {
    m_context_updater.on_zone_updating(from_notify<parsers::zone_impl>(std::move(_callback)));
}

void context_synchronizer_impl::on_zone_deleting(zone_deleting_callback _callback) {
    m_context_updater.on_zone_deleting(
        deletion_from_notify<parsers::zone_impl>(std::move(_callback)));
}

bool context_synchronizer_impl::for_each_zone_on_server(bool_zone_callback _callback) {
    return m_context_initializer.for_each_object_on_server(
        object_infos::zone, walk_element<parsers::zone_impl>(_callback));
}

context_synchronizer::trackable_objects_ptr context_synchronizer_impl::make_trackable_objects(
    std::chrono::nanoseconds _forced_update_period) {
    return make_manager<objects::trackable_object, objects::trackable_object_impl>(
        object_infos::trackable_object, _forced_update_period);
}

void context_synchronizer_impl::on_trackable_object_creating(trackable_object_callback _callback) {
    m_context_updater.on_trackable_object_creating(
        from_notify<parsers::trackable_object_impl>(_callback));
    m_context_initializer.on_trackable_object_creating(
        from_element<parsers::trackable_object_impl>(std::move(_callback)));
}

void context_synchronizer_impl::on_trackable_object_updating(trackable_object_callback _callback) {
    m_context_updater.on_trackable_object_updating(
        from_notify<parsers::trackable_object_impl>(std::move(_callback)));
}

void context_synchronizer_impl::on_trackable_object_deleting(
    trackable_object_deleting_callback _callback) {
    m_context_updater.on_trackable_object_deleting(
        deletion_from_notify<parsers::trackable_object_impl>(std::move(_callback)));
}

bool context_synchronizer_impl::for_each_trackable_object_on_server(
    bool_trackable_object_callback _callback) {
    return m_context_initializer.for_each_object_on_server(
        object_infos::trackable_object, walk_element<parsers::trackable_object_impl>(_callback));
}

context_synchronizer::win_anchors_ptr context_synchronizer_impl::make_win_anchors(
    std::chrono::nanoseconds _forced_update_period) {
    return make_manager<objects::win_anchor, objects::win_anchor_impl>(object_infos::win_anchor,
                                                                       _forced_update_period);
}

context_synchronizer::sublocations_ptr context_synchronizer_impl::make_sublocations(
    std::chrono::nanoseconds _forced_update_period) {
    return make_manager<objects::sublocation, objects::sublocation_impl>(object_infos::sublocation,
                                                                         _forced_update_period);
}

context_synchronizer::nodes_ptr context_synchronizer_impl::make_nodes(
    std::chrono::nanoseconds _forced_update_period) {
    return make_manager<objects::node, objects::node_impl>(object_infos::node,
                                                           _forced_update_period);
}

bool context_synchronizer_impl::for_each_alarm_on_server(bool_alarm_callback _callback) {
    return m_context_initializer.for_each_object_on_server(
        object_infos::alarm, walk_element<parsers::alarm_impl>(_callback));
}

void context_synchronizer_impl::on_pos(pos_callback _callback) {
    if (!_callback) {
        m_context_updater.on_pos(nullptr);
        return;
    }
    m_context_updater.on_pos([callback = std::move(_callback)](const json_notify& _message) {
        parsers::pos_impl view(_message.get_json());
        callback(view);
    });
}

void context_synchronizer_impl::on_trackable_object_association_creating(
    trackable_object_association_callback _callback) {
    m_context_updater.on_trackable_object_association_creating(
        from_notify<parsers::trackable_object_association_impl>(std::move(_callback)));
}

void context_synchronizer_impl::on_trackable_object_association_updating(
    trackable_object_association_callback _callback) {
    m_context_updater.on_trackable_object_association_updating(
        from_notify<parsers::trackable_object_association_impl>(std::move(_callback)));
}

void context_synchronizer_impl::on_trackable_object_groups_updating(
    trackable_object_groups_callback _callback) {
    m_context_updater.on_trackable_object_groups_updating(
        from_notify<parsers::trackable_object_groups_impl>(std::move(_callback)));
}

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
