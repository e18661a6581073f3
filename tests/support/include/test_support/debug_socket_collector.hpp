#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <zmq.hpp>

namespace test_support {

// A PULL socket bound on loopback that collects every message on a thread of its own.
class debug_socket_collector {
public:
    debug_socket_collector();
    ~debug_socket_collector();
    debug_socket_collector(const debug_socket_collector&) = delete;
    debug_socket_collector& operator=(const debug_socket_collector&) = delete;

    // The endpoint to connect a PUSH socket to.
    const std::string& endpoint() const { return m_endpoint; }

    std::vector<std::string> lines() const;

    // Waits until _predicate holds for the lines received so far, or the deadline passes.
    bool wait_for(const std::function<bool(const std::vector<std::string>&)>& _predicate,
                  std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;
    // Waits for a line that contains _text.
    bool wait_for_line_containing(const std::string& _text, std::chrono::milliseconds _timeout =
                                                                std::chrono::seconds(5)) const;

private:
    void run();

    zmq::context_t m_context;
    zmq::socket_t m_socket;
    std::string m_endpoint;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace test_support
