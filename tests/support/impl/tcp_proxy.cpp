#include "test_support/tcp_proxy.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace test_support {

namespace {

constexpr std::chrono::milliseconds breaking_step(100);

sockaddr_in loopback(int _port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(_port));
    return address;
}

bool send_all(int _fd, const char* _data, std::size_t _size) {
    std::size_t sent = 0;
    while (sent < _size) {
        const auto n = ::send(_fd, _data + sent, _size - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

tcp_proxy::tcp_proxy(int _server_port) : m_server_port(_server_port) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = loopback(0);
    socklen_t length = sizeof(address);
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_listener, 16) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (m_listener >= 0) {
            ::close(m_listener);
        }
        throw std::runtime_error("tcp_proxy: cannot listen on loopback");
    }
    m_port = ntohs(address.sin_port);
    m_thread.start([this] { step(); });
}

tcp_proxy::~tcp_proxy() {
    m_thread.stop();
    for (auto& link : m_links) {
        close_link(link, false);
    }
    ::close(m_listener);
}

void tcp_proxy::step() {
    std::vector<pollfd> waiting{{m_listener, POLLIN, 0}};
    const bool holding = m_holding;
    for (const auto& link : m_links) {
        // A breaking link's client is left unread, so that its sending stalls; so are all
        // clients while held.
        waiting.push_back({link.breaking || holding ? -1 : link.client, POLLIN, 0});
        waiting.push_back({link.breaking ? -1 : link.server, POLLIN, 0});
    }
    if (::poll(waiting.data(), waiting.size(), 5) < 0) {
        return;
    }
    if (holding) {
        bool held = false;
        for (const auto& link : m_links) {
            pollfd client{link.client, POLLIN, 0};
            held = held || ::poll(&client, 1, 0) > 0;
        }
        m_request_held = held;
    }
    std::vector<link> kept;
    for (std::size_t i = 0; i < m_links.size(); ++i) {
        link& current = m_links[i];
        bool open = true;
        if (current.breaking) {
            open = go_on_breaking(current);
        } else if (waiting[1 + 2 * i].revents != 0 && m_break_next.exchange(false)) {
            current.breaking = true;
            current.since = std::chrono::steady_clock::now();
        } else {
            if (waiting[1 + 2 * i].revents != 0) {
                const long long hold = m_hold_after.load();
                open = hold >= 0 ? relay_until_held(current, hold)
                                 : relay(current.client, current.server, m_cut_after.load());
            }
            if (open && waiting[2 + 2 * i].revents != 0) {
                open = relay(current.server, current.client);
            }
            if (!open) {
                close_link(current, false);
            }
        }
        if (open) {
            kept.push_back(current);
        }
    }
    m_links.swap(kept);
    if (waiting[0].revents != 0) {
        accept_client();
    }
}

void tcp_proxy::accept_client() {
    link added;
    added.client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (added.client < 0) {
        return;
    }
    added.server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto address = loopback(m_server_port);
    if (added.server < 0 || ::connect(added.server, reinterpret_cast<const sockaddr*>(&address),
                                      sizeof(address)) != 0) {
        close_link(added, false);
        return;
    }
    m_links.push_back(added);
}

bool tcp_proxy::relay(int _from, int _to, long long _limit) {
    char buffer[65536];
    const auto n = ::recv(_from, buffer, sizeof(buffer), 0);
    if (n <= 0) {
        return false;
    }
    if (_limit < 0) {
        return send_all(_to, buffer, static_cast<std::size_t>(n));
    }
    const auto relayed = std::min<long long>(n, _limit);
    const bool sent = send_all(_to, buffer, static_cast<std::size_t>(relayed));
    if (relayed < _limit) {
        m_cut_after = _limit - relayed;
        return sent;
    }
    // The last byte allowed ends the link; later ones are relayed whole again.
    m_cut_after = -1;
    return false;
}

bool tcp_proxy::relay_until_held(link& _link, long long _allowed) {
    char buffer[65536];
    long long n = 0;
    if (_allowed > 0) {
        // What lies beyond the hold stays unread in the client's socket.
        n = ::recv(_link.client, buffer,
                   static_cast<std::size_t>(std::min<long long>(_allowed, sizeof(buffer))), 0);
        if (n <= 0 || !send_all(_link.server, buffer, static_cast<std::size_t>(n))) {
            return false;
        }
    }
    if (n == _allowed) {
        m_hold_after = -1;
        m_holding = true;
    } else {
        m_hold_after = _allowed - n;
    }
    return true;
}

bool tcp_proxy::go_on_breaking(link& _link) {
    const auto now = std::chrono::steady_clock::now();
    if (now - _link.since < breaking_step) {
        return true;
    }
    if (!_link.ended) {
        ::shutdown(_link.client, SHUT_WR);
        _link.ended = true;
        _link.since = now;
        return true;
    }
    close_link(_link, true);
    ++m_broken;
    return false;
}

void tcp_proxy::close_link(link& _link, bool _reset) {
    if (_reset && _link.client >= 0) {
        // Closed with a reset rather than an orderly end.
        const linger abort{1, 0};
        ::setsockopt(_link.client, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    }
    for (int* fd : {&_link.client, &_link.server}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

}  // namespace test_support
