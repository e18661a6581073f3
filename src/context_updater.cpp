#include "context_updater.hpp"

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

#include "context/device.hpp"
#include "context/zone_event.hpp"
#include "core/exception.hpp"
#include "core/json.hpp"
#include "core/timestamp.hpp"
#include "redis/start_retry.hpp"

namespace tvk {

context_updater::context_updater(context::writable_context& _context,
                                 libs::core::http::client& _http_client,
                                 libs::core::message_stream& _stream,
                                 libs::core::events_loop& _loop, libs::core::logger& _logger,
                                 const std::set<std::string>& _zone_types,
                                 external_storage& _storage,
                                 std::chrono::nanoseconds _refresh_period)
    : m_synchronizer(
          libs::context_utils::context_synchronizer::create(_http_client, _loop, _logger))
    , m_context(_context)
    , m_logger(_logger)
    , m_http_client(_http_client)
    , m_events_loop(_loop)
    , m_config_zone_types(_zone_types)
    , m_external_storage(_storage) {
    m_notify_subscription = _stream.subscribe("notify", [this](boost::string_view _message) {
        m_synchronizer->handle_notify(std::string(_message.data(), _message.size()));
    });
    m_zone_event_subscription =
        _stream.subscribe("zone_event", [this](boost::string_view _message) {
            handle_zone_event(m_context, m_config_zone_types, m_logger, _message);
        });
    m_context.set_trackable_objects(m_synchronizer->make_trackable_objects(_refresh_period));
    m_context.set_zones(m_synchronizer->make_zones(_refresh_period));
}

void context_updater::initialize() {
    m_synchronizer->initialize();
    initialize_zone_events();
    initialize_devices();
}

void context_updater::initialize_zone_events() {
    using libs::context_utils::objects::zone;
    m_context.get_zones().for_each([this](const zone& _zone) {
        m_logger.execute(TVK_SOURCE_LOCATION, [this, &_zone] {
            // All three are read first, so a zone whose id cannot be read is skipped whatever
            // its type.
            const std::string& zone_uid = _zone.get_uid();
            const unsigned int zone_id = _zone.get_zone_id().value_or(0);
            const std::string& zone_type = _zone.get_zone_type_name();
            if (m_config_zone_types.count(zone_type) == 0) {
                return;
            }
            _zone.for_each_trackable_in_zone([&](const zone::trackable_in_zone& _trackable) {
                m_logger.execute(TVK_SOURCE_LOCATION, [&] {
                    const std::string& obj_uid = _trackable.get_uid();
                    const auto time = _trackable.get_time();
                    m_context.take_zone_events().add(
                        context::zone_event(context::zone_event::make_uid(obj_uid, zone_uid), time,
                                            obj_uid, zone_uid, zone_type, zone_id),
                        time);
                });
                return true;
            });
        });
        return true;
    });
}

std::vector<context::device> context_updater::read_stored_devices() {
    std::vector<context::device> devices;
    // Devices missed by a read cut short would be taken for gone: only a whole read counts, and
    // the mirror raises only for what may pass.
    redis::retry_at_start(m_events_loop, m_logger, std::chrono::seconds(1), TVK_SOURCE_LOCATION,
                          [&] { devices = m_external_storage.get_devices(); });
    return devices;
}

void context_updater::initialize_devices() {
    for (const auto& stored : read_stored_devices()) {
        bool keep = false;
        try {
            keep = tag_still_has_mac(stored);
        } catch (...) {
            // The server's data may be mended before the next start: keep the Redis entries
            // and let the other devices be restored.
            m_logger.error("Device %1% is not restored, its tag cannot be checked: %2%")
                    .location(TVK_SOURCE_LOCATION) %
                libs::core::cut_for_log(stored.get_uid()) %
                libs::core::cut_for_log(libs::core::exception_to_string());
            continue;
        }
        if (keep) {
            m_context.take_devices().add(context::device(stored), stored.get_ts());
        } else {
            m_external_storage.before_deleting(stored, stored.get_ts());
        }
    }
}

bool context_updater::tag_still_has_mac(const context::device& _device) const {
    const auto tag = m_context.get_trackable_objects().try_get(_device.get_uid());
    if (!tag) {
        // A tag whose element was skipped at the load is still on the server.
        const auto& skipped = m_context.get_skipped_trackable_objects();
        if (skipped.uids.count(_device.get_uid()) != 0) {
            TVK_THROW("its element of the tag list was skipped");
        }
        if (skipped.unknown_uids) {
            TVK_THROW("an element of the tag list was skipped whose uid cannot be read");
        }
        return false;
    }
    if (tag->has_malformed_node()) {
        TVK_THROW("\"node\" is not an object!");
    }
    const auto node = tag->get_node();
    return node && node->get_mac_address() == _device.get_mac();
}

void context_updater::handle_zone_event(context::writable_context& _context,
                                        const std::set<std::string>& _zone_types,
                                        const libs::core::logger& _logger,
                                        boost::string_view _message) {
    const auto parse_result = libs::core::json::try_parse(_message);
    TVK_CHECK(parse_result.ok);
    // A top-level array, string, number or boolean raises jsoncpp's own error on the first
    // look-up, which the events loop logs like any other.
    const Json::Value& message = parse_result.result;
    const Json::Value& ts = message["ts"];
    if (!ts.isInt()) {
        return;
    }
    const Json::Value& ms = message["ms"];
    if (!ms.isInt()) {
        return;
    }
    const Json::Value& obj_uid_value = message["obj_uid"];
    const Json::Value& zone_uid_value = message["zone_uid"];
    const Json::Value& zone_type_value = message["zone_type_name"];
    if (!obj_uid_value.isString() || !zone_uid_value.isString() || !zone_type_value.isString()) {
        return;
    }
    const std::string zone_type = zone_type_value.asString();
    if (_zone_types.count(zone_type) == 0) {
        return;
    }
    const Json::Value& action = message["action"];
    if (!action.isString()) {
        return;
    }

    const std::string obj_uid = obj_uid_value.asString();
    const std::string zone_uid = zone_uid_value.asString();
    const std::string uid = context::zone_event::make_uid(obj_uid, zone_uid);
    // Signed arithmetic: a negative "ms" moves the time back instead of wrapping around.
    const libs::core::timestamp time(std::chrono::milliseconds(
        static_cast<std::int64_t>(ts.asInt()) * 1000 + static_cast<std::int64_t>(ms.asInt())));
    if (action.asString() == "leave") {
        _context.take_zone_events().remove(uid, time);
        return;
    }

    const auto zone = _context.get_zones().try_get(zone_uid);
    if (!zone) {
        _logger.debug("Zone not found %1%").short_function(TVK_SOURCE_LOCATION) %
            libs::core::cut_for_log(zone_uid);
        return;
    }
    const unsigned int zone_id = zone->get_zone_id().value_or(0);
    auto event = _context.take_zone_events().try_get(uid, time);
    if (!event) {
        _context.take_zone_events().add(
            context::zone_event(uid, time, obj_uid, zone_uid, zone_type, zone_id), time);
        return;
    }
    // The observers hear one update when the write access ends, changed or not.
    (*event)->set_ts(time);
    (*event)->set_obj_uid(obj_uid);
    (*event)->set_zone_uid(zone_uid);
    (*event)->set_zone_type(zone_type);
    (*event)->set_zone_id(zone_id);
}

}  // namespace tvk
