#include "application.hpp"

#include <chrono>
#include <vector>

#include "core/http/method.hpp"
#include "core/source_location.hpp"
#include "messenger_impl.hpp"
#include "redis/start_retry.hpp"

namespace tvk {

application::application(libs::core::events_loop& _loop, const config& _config,
                         libs::core::logger& _logger)
    : m_logger(_logger), m_events_loop(_loop) {
    m_message_stream = _loop.create_zmq_message_stream(_config.proxy.output_port);

    std::vector<libs::core::http::method> disabled_methods;
    if (!_config.modify_server_state) {
        disabled_methods.push_back(libs::core::http::method::post);
    }
    m_http_client = _loop.create_http_client(
        _config.server.url, std::chrono::seconds(_config.server.timeout), disabled_methods, 1);

    // Every failure to connect is tried again: a Redis that is not up yet, or restarting.
    redis::retry_at_start(
        _loop, m_logger, std::chrono::seconds(1), TVK_SOURCE_LOCATION, [this, &_config] {
            m_redis =
                std::make_unique<redis::context>(_config.redis.address, _config.redis.port, 0);
        });

    m_context = std::make_unique<context::writable_context>();
    // The mirror subscribes first, so that every change is in Redis before anyone acts on it;
    // it clears what an earlier run left, tried again every second while Redis cannot answer.
    m_external_storage = std::make_unique<external_storage>(*m_context, *m_redis, _logger, _loop);
    m_context_updater =
        std::make_unique<context_updater>(*m_context, *m_http_client, *m_message_stream, _loop,
                                          _logger, _config.zone_types, *m_external_storage);
    m_context_updater->initialize();
    // Start-up's reads and clearing are done. From now on the loop does not wait longer on a
    // Redis that stalls: a write not answered within a second fails, deliveries go on, and
    // the mirror catches up once Redis answers again.
    m_redis->set_timeout(std::chrono::seconds(1));
    m_messenger = std::make_unique<messenger_impl>(*m_message_stream, *m_http_client, _logger);
    m_dispatcher = std::make_unique<dispatcher>(_loop, *m_context, _logger, *m_messenger);
    m_initialization_timer = _loop.create_periodic_timer(
        std::chrono::seconds(1), "initialization",
        [this](libs::core::timer::time_point) {
            m_logger.debug("initializing...");
            // Stopped before the start, so that a start that raises does not tick again.
            m_initialization_timer->stop();
            start_application();
        },
        libs::core::source_location());
}

application::~application() = default;

void application::start_application() {
    m_logger.debug("called").short_function(TVK_SOURCE_LOCATION);
    m_dispatcher->initialize();
}

}  // namespace tvk
