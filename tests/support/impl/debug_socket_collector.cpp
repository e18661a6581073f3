#include "test_support/debug_socket_collector.hpp"

#include <algorithm>

namespace test_support {

debug_socket_collector::debug_socket_collector()
    : m_context(1), m_socket(m_context, zmq::socket_type::pull) {
    m_socket.set(zmq::sockopt::linger, 0);
    m_socket.set(zmq::sockopt::rcvtimeo, 50);
    m_socket.bind("tcp://127.0.0.1:*");
    m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
    m_thread = std::thread([this] { run(); });
}

debug_socket_collector::~debug_socket_collector() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_thread.join();
}

void debug_socket_collector::run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop) {
                return;
            }
        }
        zmq::message_t message;
        // Short receive time-out, so the stop flag is seen promptly.
        if (m_socket.recv(message, zmq::recv_flags::none)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(message.to_string());
            m_changed.notify_all();
        }
    }
}

std::vector<std::string> debug_socket_collector::lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

bool debug_socket_collector::wait_for(
    const std::function<bool(const std::vector<std::string>&)>& _predicate,
    std::chrono::milliseconds _timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, _timeout, [&] { return _predicate(m_lines); });
}

bool debug_socket_collector::wait_for_line_containing(const std::string& _text,
                                                      std::chrono::milliseconds _timeout) const {
    return wait_for(
        [&](const std::vector<std::string>& _lines) {
            return std::any_of(_lines.begin(), _lines.end(), [&](const std::string& _line) {
                return _line.find(_text) != std::string::npos;
            });
        },
        _timeout);
}

}  // namespace test_support
