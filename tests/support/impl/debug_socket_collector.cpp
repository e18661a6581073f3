#include "test_support/debug_socket_collector.hpp"

#include <algorithm>

namespace test_support {

debug_socket_collector::debug_socket_collector()
    : m_context(1), m_socket(m_context, zmq::socket_type::pull) {
    m_socket.set(zmq::sockopt::linger, 0);
    // A short receive time-out, so that the thread sees promptly that it is stopped.
    m_socket.set(zmq::sockopt::rcvtimeo, 50);
    m_socket.bind("tcp://127.0.0.1:*");
    m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
    m_thread.start([this] { receive(); });
}

void debug_socket_collector::receive() {
    zmq::message_t message;
    if (m_socket.recv(message, zmq::recv_flags::none)) {
        m_lines.add(message.to_string());
    }
}

bool debug_socket_collector::wait_for(
    const std::function<bool(const std::vector<std::string>&)>& _predicate,
    std::chrono::milliseconds _timeout) const {
    return m_lines.wait_for(_predicate, _timeout);
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
