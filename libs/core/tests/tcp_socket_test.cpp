#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/exception.hpp"
#include "core/tcp/manager.hpp"
#include "loop_fixture.hpp"
#include "test_support/free_port.hpp"

using tvk::libs::core::ip_protocol;
using tvk::libs::core::tcp::acceptor;
using tcp_socket = tvk::libs::core::tcp::socket;
using namespace std::chrono_literals;

namespace {

class tcp_sockets : public loop_test::loop_fixture {
protected:
    tvk::libs::core::tcp::manager& tcp() { return m_loop->get_tcp(); }

    // An acceptor on 127.0.0.1 that keeps what it accepts in m_accepted.
    void listen() {
        m_port = test_support::free_port();
        m_acceptor = tcp().listen("127.0.0.1", m_port);
        m_acceptor->set_callback([this](std::unique_ptr<tcp_socket> _socket) {
            m_accepted.push_back(std::move(_socket));
        });
    }

    // A client connected to the acceptor, once the acceptor has handed over its side.
    tcp_socket::ptr connect() {
        auto client = tcp().connect("127.0.0.1", m_port);
        const std::size_t before = m_accepted.size();
        EXPECT_TRUE(run_until([&] { return m_accepted.size() > before; }));
        return client;
    }

    // Receives into _text and counts close callbacks in _closes.
    static void record(tcp_socket& _socket, std::string& _text, int& _closes) {
        _socket.set_receive_callback(
            [&_text](boost::string_view _data) { _text.append(_data.data(), _data.size()); });
        _socket.set_close_callback([&_closes] { ++_closes; });
    }

    int m_port = 0;
    acceptor::ptr m_acceptor;
    std::vector<tcp_socket::ptr> m_accepted;
};

}  // namespace

TEST_F(tcp_sockets, bytes_flow_both_ways_and_each_side_knows_its_peer) {
    listen();
    auto client = connect();
    tcp_socket& server = *m_accepted.front();
    std::string at_server, at_client;
    int closes = 0;
    record(server, at_server, closes);
    record(*client, at_client, closes);

    EXPECT_EQ(client->send_some("hello"), 5u);
    EXPECT_EQ(server.send_some("world!"), 6u);
    EXPECT_EQ(client->send_some(""), 0u);
    ASSERT_TRUE(run_until([&] { return at_server == "hello" && at_client == "world!"; }));

    EXPECT_EQ(client->get_remote_endpoint(),
              tcp_socket::endpoint(boost::asio::ip::make_address("127.0.0.1"), m_port));
    EXPECT_EQ(server.get_remote_endpoint().address(), boost::asio::ip::make_address("127.0.0.1"));
    EXPECT_EQ(closes, 0);
}

TEST_F(tcp_sockets, wildcard_acceptors_take_connections_of_their_family) {
    for (const auto family : {ip_protocol::v4, ip_protocol::v6}) {
        const std::string loopback = family == ip_protocol::v4 ? "127.0.0.1" : "::1";
        const int port = test_support::free_port();
        acceptor::ptr listener;
        try {
            listener = tcp().listen(family, port);
        } catch (const boost::system::system_error& _e) {
            ADD_FAILURE() << loopback << ": " << _e.what();
            continue;
        }
        std::vector<tcp_socket::ptr> accepted;
        listener->set_callback(
            [&](std::unique_ptr<tcp_socket> _socket) { accepted.push_back(std::move(_socket)); });
        tcp_socket::ptr client;
        try {
            client = tcp().connect(loopback, port);
        } catch (const boost::system::system_error& _e) {
            if (family == ip_protocol::v6) {
                GTEST_SKIP() << "no IPv6 loopback here: " << _e.what();
            }
            throw;
        }
        ASSERT_TRUE(run_until([&] { return accepted.size() == 1; })) << loopback;
        EXPECT_EQ(accepted.front()->get_remote_endpoint().address(),
                  boost::asio::ip::make_address(loopback));
    }
}

TEST_F(tcp_sockets, an_orderly_close_calls_the_close_callback_once_after_the_last_bytes) {
    listen();
    auto client = connect();
    std::string at_client;
    int closes = 0;
    client->set_receive_callback(
        [&](boost::string_view _data) { at_client.append(_data.data(), _data.size()); });
    client->set_close_callback([&] {
        ++closes;
        EXPECT_EQ(at_client, "bye");
        // Destroying the socket from its own close callback is safe.
        client.reset();
    });
    m_accepted.front()->send_some("bye");
    m_accepted.clear();
    ASSERT_TRUE(run_until([&] { return closes == 1; }));
    settle();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(at_client, "bye");
    EXPECT_FALSE(client);
}

TEST_F(tcp_sockets, a_reset_is_logged_and_does_not_call_the_close_callback) {
    // A plain Asio peer, which can close with a reset.
    boost::asio::ip::tcp::acceptor peer_acceptor(
        m_loop->get_io_context(),
        boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    auto client = tcp().connect("127.0.0.1", peer_acceptor.local_endpoint().port());
    boost::asio::ip::tcp::socket peer = peer_acceptor.accept();
    std::string at_client;
    int closes = 0;
    record(*client, at_client, closes);
    peer.set_option(boost::asio::socket_base::linger(true, 0));
    peer.close();

    ASSERT_TRUE(run_until([&] { return !log_lines().empty(); }));
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.front().rfind("&quillmere:core <t> /libs/core/impl/tcp/socket_impl.cpp:", 0),
              0u)
        << lines.front();
    EXPECT_NE(lines.front().find(": Connection reset by peer"), std::string::npos) << lines.front();
    settle();
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(at_client.empty());
}

TEST_F(tcp_sockets, send_some_on_a_full_socket_returns_less_then_zero_and_one_wait_reports_room) {
    listen();
    auto client = connect();
    tcp_socket& server = *m_accepted.front();
    const std::string chunk(1 << 20, 'x');
    std::size_t sent = 0;
    std::vector<std::size_t> results;
    // The server reads nothing yet, so the connection's buffers fill up.
    while (results.size() < 1000 && (results.empty() || results.back() != 0)) {
        results.push_back(client->send_some(chunk));
        sent += results.back();
    }
    ASSERT_EQ(results.back(), 0u);
    ASSERT_GE(results.size(), 2u);
    EXPECT_LT(results[results.size() - 2], chunk.size());
    EXPECT_GT(sent, 0u);

    int can_send = 0;
    client->set_can_send_callback([&] { ++can_send; });
    client->notify_that_send_is_possible();
    client->notify_that_send_is_possible();
    settle();
    EXPECT_EQ(can_send, 0);

    std::size_t received = 0;
    server.set_receive_callback([&](boost::string_view _data) { received += _data.size(); });
    ASSERT_TRUE(run_until([&] { return can_send == 1 && received == sent; }));
    settle();
    EXPECT_EQ(can_send, 1);

    // Once a wait has ended, the next call starts another.
    client->notify_that_send_is_possible();
    ASSERT_TRUE(run_until([&] { return can_send == 2; }));
}

TEST_F(tcp_sockets, a_socket_destroyed_in_its_own_can_send_callback_is_gone_for_good) {
    listen();
    auto client = connect();
    int calls = 0;
    client->set_can_send_callback([&] {
        ++calls;
        client.reset();
    });
    client->notify_that_send_is_possible();
    ASSERT_TRUE(run_until([&] { return calls == 1; }));
    settle();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(client);
}

TEST_F(tcp_sockets, a_send_to_a_peer_that_has_gone_raises_instead_of_killing_the_process) {
    listen();
    auto client = connect();
    m_accepted.clear();
    // The first write after the peer's close draws its reset; a later one fails. Without
    // MSG_NOSIGNAL that failure would be SIGPIPE, which ends the test binary.
    const std::string chunk(1024, 'x');
    bool raised = false;
    for (int attempt = 0; attempt < 200 && !raised; ++attempt) {
        try {
            client->send_some(chunk);
        } catch (const boost::system::system_error& _e) {
            raised = true;
            EXPECT_TRUE(_e.code().value() == EPIPE || _e.code().value() == ECONNRESET) << _e.what();
        }
        settle(1ms);
    }
    EXPECT_TRUE(raised);
}

TEST_F(tcp_sockets, a_socket_destroyed_in_its_own_receive_callback_reads_no_more) {
    listen();
    auto client = connect();
    std::vector<std::string> at_server;
    m_accepted.front()->set_receive_callback([&](boost::string_view _data) {
        m_accepted.clear();
        // The bytes live in the handler's buffer, not in the socket.
        at_server.emplace_back(_data);
    });
    client->send_some("first");
    ASSERT_TRUE(run_until([&] { return !at_server.empty(); }));
    try {
        client->send_some("second");
    } catch (const boost::system::system_error&) {
        // The peer may already have answered the close with a reset.
    }
    settle();
    EXPECT_EQ(at_server, std::vector<std::string>{"first"});
}

TEST_F(tcp_sockets, an_acceptor_whose_callback_throws_still_accepts) {
    m_port = test_support::free_port();
    m_acceptor = tcp().listen(ip_protocol::v4, m_port);
    m_acceptor->set_callback([this](std::unique_ptr<tcp_socket> _socket) {
        m_accepted.push_back(std::move(_socket));
        if (m_accepted.size() == 1) {
            throw std::runtime_error("accept callback failed");
        }
    });
    auto first = tcp().connect("127.0.0.1", m_port);
    EXPECT_THROW(run_until([&] { return m_accepted.size() == 2; }), std::runtime_error);
    auto second = tcp().connect("127.0.0.1", m_port);
    ASSERT_TRUE(run_until([&] { return m_accepted.size() == 2; }));
}

TEST_F(tcp_sockets, an_acceptor_destroyed_in_its_own_callback_stops_listening) {
    m_port = test_support::free_port();
    m_acceptor = tcp().listen("127.0.0.1", m_port);
    m_acceptor->set_callback([this](std::unique_ptr<tcp_socket> _socket) {
        m_acceptor.reset();
        m_accepted.push_back(std::move(_socket));
    });
    auto client = tcp().connect("127.0.0.1", m_port);
    ASSERT_TRUE(run_until([&] { return m_accepted.size() == 1; }));
    settle();
    EXPECT_FALSE(m_acceptor);
    EXPECT_THROW(tcp().connect("127.0.0.1", m_port), boost::system::system_error);
}

TEST_F(tcp_sockets, a_listening_port_is_free_again_while_its_last_connection_waits_out_its_close) {
    listen();
    auto client = connect();
    int closes = 0;
    client->set_close_callback([&] { ++closes; });
    std::string ignored;
    client->set_receive_callback(
        [&](boost::string_view _data) { ignored.append(_data.data(), _data.size()); });
    // The server closes first, so its side of the connection stays in TIME_WAIT on the port.
    m_accepted.clear();
    ASSERT_TRUE(run_until([&] { return closes == 1; }));
    client.reset();
    m_acceptor.reset();
    settle(10ms);
    EXPECT_NO_THROW(m_acceptor = tcp().listen("127.0.0.1", m_port));
}

TEST_F(tcp_sockets, bad_addresses_and_ports_in_use_raise) {
    listen();
    try {
        tcp().connect("localhost", m_port);
        ADD_FAILURE() << "a host name was resolved";
    } catch (const boost::system::system_error& _e) {
        EXPECT_NE(std::string(_e.what()).find("\"localhost\""), std::string::npos) << _e.what();
    }
    EXPECT_THROW(tcp().listen("localhost", 0), boost::system::system_error);
    EXPECT_THROW(tcp().listen("127.0.0.1", m_port), boost::system::system_error);
    const int closed_port = test_support::free_port();
    try {
        tcp().connect("127.0.0.1", closed_port);
        ADD_FAILURE() << "connected to a closed port";
    } catch (const boost::system::system_error& _e) {
        EXPECT_EQ(_e.code().value(), ECONNREFUSED);
        EXPECT_NE(std::string(_e.what()).find(std::to_string(closed_port)), std::string::npos)
            << _e.what();
    }
}

TEST_F(tcp_sockets, ports_outside_0_to_65535_raise_naming_the_port) {
    const std::vector<std::pair<std::string, std::function<void(int)>>> makers = {
        {"tcp connect", [this](int _port) { tcp().connect("127.0.0.1", _port); }},
        {"tcp listen v4", [this](int _port) { tcp().listen(ip_protocol::v4, _port); }},
        {"tcp listen address", [this](int _port) { tcp().listen("127.0.0.1", _port); }},
        {"udp v4", [this](int _port) { m_loop->create_udp_socket(ip_protocol::v4, _port); }},
        {"udp address", [this](int _port) { m_loop->create_udp_socket("127.0.0.1", _port); }},
        {"udp make_endpoint",
         [this](int _port) {
             m_loop->create_udp_socket("127.0.0.1", 0)->make_endpoint("127.0.0.1", _port);
         }},
        {"udp send_to",
         [this](int _port) {
             m_loop->create_udp_socket("127.0.0.1", 0)->send_to("127.0.0.1", _port, "x");
         }},
    };
    for (const auto& maker : makers) {
        for (const int port : {70000, 65536, -1}) {
            try {
                maker.second(port);
                ADD_FAILURE() << maker.first << " took port " << port;
            } catch (const tvk::libs::core::exception& _e) {
                EXPECT_EQ(_e.get_string_error(),
                          "Port " + std::to_string(port) + " is outside 0..65535")
                    << maker.first;
            }
        }
    }
}

TEST_F(tcp_sockets, an_empty_close_or_can_send_callback_means_none) {
    struct case_ {
        const char* name;
        bool close;       // the close callback, else the can-send callback
        bool set_before;  // a counting callback is set first, then replaced by an empty one
    };
    const std::vector<case_> cases = {{"close, never set", true, false},
                                      {"close, replaced", true, true},
                                      {"can-send, never set", false, false},
                                      {"can-send, replaced", false, true}};
    listen();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = connect();
        std::string received;
        client->set_receive_callback(
            [&](boost::string_view _data) { received.append(_data.data(), _data.size()); });
        int calls = 0;
        if (c.close) {
            if (c.set_before) {
                client->set_close_callback([&] { ++calls; });
            }
            client->set_close_callback({});
            m_accepted.back()->send_some("bye");
            m_accepted.clear();
        } else {
            if (c.set_before) {
                client->set_can_send_callback([&] { ++calls; });
            }
            client->set_can_send_callback({});
            client->notify_that_send_is_possible();
        }
        EXPECT_NO_THROW(settle(100ms));
        EXPECT_EQ(calls, 0);
        if (c.close) {
            EXPECT_EQ(received, "bye");
        }
    }
}
