#pragma once

#include <boost/utility/string_view.hpp>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "context/context.hpp"
#include "context_utils/context_synchronizer.hpp"
#include "core/events_loop.hpp"
#include "core/http/client.hpp"
#include "core/logger.hpp"
#include "core/message_stream.hpp"
#include "external_storage.hpp"

namespace tvk {

// Fills the service context from the location server and the Redis mirror, and keeps its zone
// events in step with the "zone_event" messages of the stream. Runs on the events-loop thread.
class context_updater {
public:
    // Creates the synchroniser, hands it every "notify" message, subscribes "zone_event", then
    // loads the trackable objects and the zones into _context, each reloaded every
    // _refresh_period (the service keeps 3 hours). Blocks until the server answers; raises
    // "Interrupted" once _loop has been stopped. The arguments must outlive the updater; no
    // message is handled before the loop runs.
    context_updater(context::writable_context& _context, libs::core::http::client& _http_client,
                    libs::core::message_stream& _stream, libs::core::events_loop& _loop,
                    libs::core::logger& _logger, const std::set<std::string>& _zone_types,
                    external_storage& _storage,
                    std::chrono::nanoseconds _refresh_period = std::chrono::hours(3));
    context_updater(const context_updater&) = delete;
    context_updater& operator=(const context_updater&) = delete;

    // Adds a zone event for every trackable that a zone of a configured type lists, with the
    // trackable's own time, then restores the devices stored in Redis whose tag still has a
    // node with the same MAC address and deletes the others from Redis. A device whose tag
    // cannot be checked (a "node" that is not an object, or a tag list element that was
    // skipped, say) is logged and left out, its Redis entries kept. A read of the stored
    // devices that Redis fails or cannot answer now is logged and tried again every second
    // until it succeeds whole; raises "Interrupted" once the loop has been stopped meanwhile.
    void initialize();

    // Applies one "zone_event" message to the zone events of _context: the handler of the
    // stream's messages, callable without a stream. A message that is not JSON raises
    // check_failed_exception; a message with a missing or mistyped field, or of a zone type
    // not in _zone_types, changes nothing.
    static void handle_zone_event(context::writable_context& _context,
                                  const std::set<std::string>& _zone_types,
                                  const libs::core::logger& _logger, boost::string_view _message);

private:
    void initialize_zone_events();
    void initialize_devices();
    std::vector<context::device> read_stored_devices();
    // Whether the tag of _device still has a node with the device's MAC address; raises what
    // the tag's getters raise, for a "node" that is not an object, and for a tag that may be
    // one whose element the load skipped.
    bool tag_still_has_mac(const context::device& _device) const;

    // Destroyed in reverse order: the subscriptions, then the synchroniser.
    libs::context_utils::context_synchronizer::ptr m_synchronizer;
    libs::core::message_stream::subscription::ptr m_notify_subscription;
    libs::core::message_stream::subscription::ptr m_zone_event_subscription;
    context::writable_context& m_context;
    libs::core::logger& m_logger;
    // Kept with the synchroniser that uses it.
    [[maybe_unused]] libs::core::http::client& m_http_client;
    libs::core::events_loop& m_events_loop;
    const std::set<std::string>& m_config_zone_types;
    external_storage& m_external_storage;
};

}  // namespace tvk
