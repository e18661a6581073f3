#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>
#include <zmq.hpp>

#include "test_support/polling_thread.hpp"

namespace test_support {

// An in-process ZeroMQ publisher: an XPUB socket bound on a free loopback port, served by a
// thread of its own. Frames are queued by publish() and sent in order, each only once a
// subscription that its first part extends has arrived, so a subscriber that is still joining
// loses nothing (the slow-joiner gap of plain PUB sockets). It can be stopped and started
// again on the same endpoint, as a restarted peer would.
class zmq_publisher {
public:
    zmq_publisher();
    zmq_publisher(const zmq_publisher&) = delete;
    zmq_publisher& operator=(const zmq_publisher&) = delete;

    // "tcp://127.0.0.1:<port>", for a SUB socket to connect to.
    const std::string& endpoint() const { return m_endpoint; }

    // Closes the socket: subscribers see the connection go, and the subscriptions are
    // forgotten. Frames published meanwhile stay queued.
    void stop();
    // Binds a new socket on the same endpoint; subscribers reconnect on their own. Raises
    // when the endpoint cannot be bound again within a few seconds.
    void start();

    // Queues a one-part frame.
    void publish(std::string _frame);
    // Queues a multi-part message; its first part decides when it may go.
    void publish_parts(std::vector<std::string> _parts);

    // Waits until every queued frame has been sent; false at the deadline.
    bool wait_until_sent(std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;
    // Waits until the subscription _topic (a raw prefix) is present; false at the deadline.
    bool wait_for_subscription(const std::string& _topic,
                               std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;
    // The subscriptions present now, one entry per subscription message (a topic that a
    // socket subscribed twice, or two sockets subscribed, counts twice); unsubscriptions remove
    // one entry each.
    std::multiset<std::string> subscriptions() const;

private:
    void serve();
    bool can_send(const std::string& _first_part) const;
    // A bound XPUB socket that reports every subscription and unsubscription.
    zmq::socket_t make_socket(const std::string& _endpoint);

    zmq::context_t m_context;
    std::mutex m_socket_mutex;  // guards the socket; taken before m_mutex
    zmq::socket_t m_socket;     // closed while stopped
    std::string m_endpoint;
    mutable std::mutex m_mutex;  // guards the rest
    mutable std::condition_variable m_changed;
    std::multiset<std::string> m_subscriptions;
    std::deque<std::vector<std::string>> m_queue;
    polling_thread m_thread;  // last: stopped before the socket closes
};

}  // namespace test_support
