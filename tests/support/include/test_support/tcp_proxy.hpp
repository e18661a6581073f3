#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <vector>

#include "test_support/polling_thread.hpp"

namespace test_support {

// A TCP relay on a free loopback port to a server on another loopback port, for faults of a
// connection that the server itself cannot be made to show. Each client accepted gets a
// connection of its own to the server; bytes go both ways unchanged, on a thread of its own.
class tcp_proxy {
public:
    explicit tcp_proxy(int _server_port);
    ~tcp_proxy();
    tcp_proxy(const tcp_proxy&) = delete;
    tcp_proxy& operator=(const tcp_proxy&) = delete;

    int port() const { return m_port; }

    // The next bytes that a client sends are not relayed. While the client is still sending,
    // its connection is ended towards it (it reads the end of the stream), then reset: a
    // server going away in the middle of a long request.
    void break_next_request() { m_break_next = true; }
    // From now on, clients' bytes are relayed up to _bytes more in all; the connection that
    // sent the last of them is then closed both ways, so the server sees exactly that much.
    // Later bytes are relayed whole again.
    void cut_after(std::size_t _bytes) { m_cut_after = static_cast<long long>(_bytes); }
    // From now on, clients' bytes are relayed up to _bytes more in all; later ones wait,
    // unread, until release(). The server's bytes go on: a request held on its way to a server
    // that meanwhile changes.
    void hold_after(std::size_t _bytes) { m_hold_after = static_cast<long long>(_bytes); }
    void release() { m_holding = false; }
    // True once the bytes allowed by hold_after have been relayed and a client has more to
    // send, until release().
    bool holding() const { return m_holding && m_request_held; }
    // The connections broken so far.
    std::size_t broken_count() const { return m_broken; }

private:
    struct link {
        int client = -1;
        int server = -1;
        bool breaking = false;
        bool ended = false;  // the end of the stream has been sent to the client
        std::chrono::steady_clock::time_point since;
    };

    void step();
    void accept_client();
    // Relays what _from has, up to _limit bytes when it is not negative; false when the link
    // is over.
    bool relay(int _from, int _to, long long _limit = -1);
    // Relays up to _allowed bytes of the link's client, then holds every client.
    bool relay_until_held(link& _link, long long _allowed);
    // Moves a breaking link on; false once it is closed.
    bool go_on_breaking(link& _link);
    static void close_link(link& _link, bool _reset);

    int m_listener = -1;
    int m_port = 0;
    int m_server_port = 0;
    std::vector<link> m_links;  // the thread's own
    std::atomic<bool> m_break_next{false};
    std::atomic<long long> m_cut_after{-1};   // no cut while negative
    std::atomic<long long> m_hold_after{-1};  // no hold while negative
    std::atomic<bool> m_holding{false};
    std::atomic<bool> m_request_held{false};
    std::atomic<std::size_t> m_broken{0};
    polling_thread m_thread;  // last: stopped before the sockets close
};

}  // namespace test_support
