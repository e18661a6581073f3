#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>
#include <zmq.hpp>

#include "test_support/collected.hpp"
#include "test_support/polling_thread.hpp"

namespace test_support {

// A PULL socket bound on loopback that collects every message on a thread of its own.
class debug_socket_collector {
public:
    debug_socket_collector();
    debug_socket_collector(const debug_socket_collector&) = delete;
    debug_socket_collector& operator=(const debug_socket_collector&) = delete;

    // The endpoint to connect a PUSH socket to.
    const std::string& endpoint() const { return m_endpoint; }

    std::vector<std::string> lines() const { return m_lines.items(); }

    // Waits until _predicate holds for the lines received so far, or the deadline passes.
    bool wait_for(const std::function<bool(const std::vector<std::string>&)>& _predicate,
                  std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;
    // Waits for a line that contains _text.
    bool wait_for_line_containing(const std::string& _text, std::chrono::milliseconds _timeout =
                                                                std::chrono::seconds(5)) const;

private:
    void receive();

    zmq::context_t m_context;
    zmq::socket_t m_socket;
    std::string m_endpoint;
    collected<std::string> m_lines;
    polling_thread m_thread;  // last: stopped before the socket closes
};

}  // namespace test_support
