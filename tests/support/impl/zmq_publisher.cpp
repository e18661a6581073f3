#include "test_support/zmq_publisher.hpp"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <thread>

namespace test_support {

zmq_publisher::zmq_publisher() : m_context(1), m_socket(make_socket("tcp://127.0.0.1:*")) {
    m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
    m_thread.start([this] { serve(); });
}

zmq::socket_t zmq_publisher::make_socket(const std::string& _endpoint) {
    zmq::socket_t socket(m_context, zmq::socket_type::xpub);
    socket.set(zmq::sockopt::linger, 0);
    // No limit: a burst queued at once would otherwise lose what exceeds the queue before
    // ZeroMQ's own thread has taken the first frames.
    socket.set(zmq::sockopt::sndhwm, 0);
    // Every subscription and unsubscription is reported, so the set mirrors the subscribers.
    socket.set(zmq::sockopt::xpub_verbose, 1);
    socket.set(zmq::sockopt::xpub_verboser, 1);
    socket.bind(_endpoint);
    return socket;
}

void zmq_publisher::stop() {
    std::lock_guard<std::mutex> socket_lock(m_socket_mutex);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_socket.close();
    m_subscriptions.clear();
}

void zmq_publisher::start() {
    std::lock_guard<std::mutex> socket_lock(m_socket_mutex);
    if (m_socket) {
        return;
    }
    // The old listener is closed by ZeroMQ's own thread, a moment after close() returned.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        try {
            m_socket = make_socket(m_endpoint);
            return;
        } catch (const zmq::error_t& e) {
            if (e.num() != EADDRINUSE || std::chrono::steady_clock::now() >= deadline) {
                throw std::runtime_error("zmq_publisher: cannot bind " + m_endpoint +
                                         " again: " + e.what());
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void zmq_publisher::publish(std::string _frame) {
    publish_parts(std::vector<std::string>{std::move(_frame)});
}

void zmq_publisher::publish_parts(std::vector<std::string> _parts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(std::move(_parts));
}

bool zmq_publisher::can_send(const std::string& _first_part) const {
    return std::any_of(m_subscriptions.begin(), m_subscriptions.end(),
                       [&](const std::string& _topic) {
                           return _first_part.compare(0, _topic.size(), _topic) == 0;
                       });
}

void zmq_publisher::serve() {
    std::unique_lock<std::mutex> socket_lock(m_socket_mutex);
    if (!m_socket) {
        socket_lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return;
    }
    zmq::pollitem_t item{static_cast<void*>(m_socket), 0, ZMQ_POLLIN, 0};
    zmq::poll(&item, 1, std::chrono::milliseconds(5));
    std::lock_guard<std::mutex> lock(m_mutex);
    zmq::message_t notice;
    while (m_socket.recv(notice, zmq::recv_flags::dontwait)) {
        if (notice.size() == 0) {
            continue;
        }
        const auto* bytes = static_cast<const char*>(notice.data());
        std::string topic(bytes + 1, notice.size() - 1);
        if (bytes[0] == 1) {
            m_subscriptions.insert(std::move(topic));
        } else {
            const auto found = m_subscriptions.find(topic);
            if (found != m_subscriptions.end()) {
                m_subscriptions.erase(found);
            }
        }
    }
    // In order: a frame nobody can receive yet holds back the ones after it.
    while (!m_queue.empty() && can_send(m_queue.front().front())) {
        const auto& parts = m_queue.front();
        for (std::size_t i = 0; i < parts.size(); ++i) {
            m_socket.send(zmq::buffer(parts[i]),
                          i + 1 < parts.size() ? zmq::send_flags::sndmore : zmq::send_flags::none);
        }
        m_queue.pop_front();
    }
    m_changed.notify_all();
}

bool zmq_publisher::wait_until_sent(std::chrono::milliseconds _timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, _timeout, [&] { return m_queue.empty(); });
}

bool zmq_publisher::wait_for_subscription(const std::string& _topic,
                                          std::chrono::milliseconds _timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, _timeout, [&] { return m_subscriptions.count(_topic) > 0; });
}

std::multiset<std::string> zmq_publisher::subscriptions() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_subscriptions;
}

}  // namespace test_support
