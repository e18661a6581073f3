#pragma once

#include <memory>

#include "config.hpp"
#include "context/context.hpp"
#include "context_updater.hpp"
#include "core/events_loop.hpp"
#include "core/http/client.hpp"
#include "core/logger.hpp"
#include "core/message_stream.hpp"
#include "core/periodic_timer.hpp"
#include "dispatcher.hpp"
#include "external_storage.hpp"
#include "messenger.hpp"
#include "redis/redis_context.hpp"

namespace tvk {

// The service: builds every component over the events loop, the settings and the logger, and
// starts the dispatcher one second after the loop begins to run.
class application {
public:
    // Builds the message stream, the HTTP client (POST disabled unless the server state may be
    // modified), the Redis connection (retried every second), the context, the Redis mirror,
    // the context updater with its initial load, the messenger, the dispatcher and the
    // one-shot initialization timer. Blocks until Redis answers and the server's objects are
    // loaded; raises "Interrupted" once _loop has been stopped meanwhile, and whatever else a
    // step raises. The loop and the logger must outlive it; _config is read here only, except
    // its zone types, which must outlive it.
    application(libs::core::events_loop& _loop, const config& _config, libs::core::logger& _logger);
    // Run once the loop has stopped: the members go in reverse order.
    ~application();
    application(const application&) = delete;
    application& operator=(const application&) = delete;

private:
    void start_application();

    libs::core::logger& m_logger;
    // Every component here was made by it or runs on it.
    [[maybe_unused]] libs::core::events_loop& m_events_loop;
    libs::core::message_stream::ptr m_message_stream;
    libs::core::http::client::ptr m_http_client;
    std::unique_ptr<context::writable_context> m_context;
    std::unique_ptr<context_updater> m_context_updater;
    std::unique_ptr<redis::context> m_redis;
    std::unique_ptr<external_storage> m_external_storage;
    std::unique_ptr<messenger> m_messenger;
    std::unique_ptr<dispatcher> m_dispatcher;
    libs::core::periodic_timer::ptr m_initialization_timer;
};

}  // namespace tvk
