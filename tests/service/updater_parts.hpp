#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "context/context.hpp"
#include "context_updater.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "external_storage.hpp"
#include "redis/redis_context.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "test_support/location_site.hpp"

// The context updater and the parts it works with, built as the application builds them, over
// a location site of the test's own; the log goes to a collector of the debug socket. The
// loop runs on a thread of its own once started; a fixture that adds parts of its own stops
// it before they go.
class updater_parts {
protected:
    explicit updater_parts(std::set<std::string> _zone_types)
        : m_zone_types(std::move(_zone_types)) {
        m_logger.connect(m_log.endpoint());
    }

    ~updater_parts() { stop_loop(); }

    // Builds the updater over the site's lists, with _refresh_period between the reloads of
    // the lists, and initializes it; the loop does not run yet.
    void build_updater(std::chrono::nanoseconds _refresh_period = std::chrono::hours(3)) {
        m_updater = std::make_unique<tvk::context_updater>(m_context, *m_client, *m_stream, *m_loop,
                                                           m_logger, m_zone_types, m_storage,
                                                           _refresh_period);
        m_updater->initialize();
    }

    void run_loop() {
        m_thread = std::thread([this] { m_loop->run_catch_exceptions(TVK_SOURCE_LOCATION); });
    }

    void stop_loop() {
        if (m_thread.joinable()) {
            m_loop->stop();
            m_thread.join();
        }
    }

    test_support::debug_socket_collector m_log;  // outlives the logger's linger
    test_support::location_site m_site;
    tvk::libs::core::logger m_logger{"quillmere", "main"};
    tvk::libs::core::core::ptr m_core = tvk::libs::core::core::create(m_logger);
    tvk::libs::core::events_loop::ptr m_loop = m_core->create_events_loop("main loop");
    tvk::libs::core::events_loop::work::ptr m_work = m_loop->create_work();
    tvk::libs::core::message_stream::ptr m_stream =
        m_loop->create_zmq_message_stream(m_site.publisher().endpoint());
    // A short time-out, so that a server that does not answer is seen soon.
    tvk::libs::core::http::client::ptr m_client =
        m_loop->create_http_client(m_site.server().url(), std::chrono::seconds(1), {}, 1);
    const std::set<std::string> m_zone_types;
    tvk::context::writable_context m_context;
    tvk::redis::context m_redis{m_site.redis().address(), m_site.redis().port(), 0};
    tvk::external_storage m_storage{m_context, m_redis, m_logger, *m_loop};
    std::unique_ptr<tvk::context_updater> m_updater;
    std::thread m_thread;
};
