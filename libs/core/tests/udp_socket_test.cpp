#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <boost/asio/ip/udp.hpp>
#include <boost/system/system_error.hpp>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/udp/socket.hpp"
#include "loop_fixture.hpp"

using boost::asio::ip::address_v4;
using boost::asio::ip::make_address;
using tvk::libs::core::ip_protocol;
using tvk::libs::core::udp::endpoint;
using udp_socket = tvk::libs::core::udp::socket;
using namespace std::chrono_literals;

namespace {

// A UDP port that nothing was bound to on any address of _wildcard's family a moment ago.
int free_udp_port(const char* _wildcard = "0.0.0.0") {
    boost::asio::io_context io;
    boost::asio::ip::udp::socket probe(io, endpoint(make_address(_wildcard), 0));
    return probe.local_endpoint().port();
}

// The descriptor of this process's IPv4 UDP socket bound to _port; -1 when there is none.
int find_udp_descriptor(int _port) {
    for (int fd = 0; fd < 1024; ++fd) {
        int type = 0;
        socklen_t length = sizeof(type);
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM) {
            continue;
        }
        sockaddr_in address{};
        length = sizeof(address);
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == _port) {
            return fd;
        }
    }
    return -1;
}

struct datagram {
    endpoint sender;
    address_v4 local;
    std::string data;
};

class udp_sockets : public loop_test::loop_fixture {
protected:
    udp_socket::callback record(std::vector<datagram>& _into) {
        return [&_into](const endpoint& _sender, const address_v4& _local,
                        const boost::string_view& _data) {
            _into.push_back({_sender, _local, std::string(_data)});
        };
    }

    // Both ends bound on loopback; the receiver records into m_datagrams.
    void make_pair() {
        m_port = free_udp_port();
        m_receiver = m_loop->create_udp_socket(ip_protocol::v4, m_port);
        m_receiver->set_receive_callback(record(m_datagrams));
        m_sender_port = free_udp_port();
        m_sender = m_loop->create_udp_socket("127.0.0.1", m_sender_port);
    }

    bool wait_for_datagrams(std::size_t _count) {
        return run_until([&] { return m_datagrams.size() >= _count; });
    }

    int m_port = 0;
    int m_sender_port = 0;
    udp_socket::ptr m_receiver;
    udp_socket::ptr m_sender;
    std::vector<datagram> m_datagrams;
};

}  // namespace

TEST_F(udp_sockets, a_datagram_comes_with_its_sender_and_the_local_address_it_was_sent_to) {
    make_pair();
    const endpoint sender(make_address("127.0.0.1"), m_sender_port);
    m_sender->send_to("127.0.0.2", m_port, "to the second address");
    m_sender->send_to(m_sender->make_endpoint("127.0.0.1", m_port), "to the first");
    ASSERT_TRUE(wait_for_datagrams(2));
    EXPECT_EQ(m_datagrams[0].sender, sender);
    EXPECT_EQ(m_datagrams[0].local, make_address("127.0.0.2").to_v4());
    EXPECT_EQ(m_datagrams[0].data, "to the second address");
    EXPECT_EQ(m_datagrams[1].sender, sender);
    EXPECT_EQ(m_datagrams[1].local, make_address("127.0.0.1").to_v4());
    EXPECT_EQ(m_datagrams[1].data, "to the first");
}

TEST_F(udp_sockets, an_empty_datagram_gives_empty_data) {
    make_pair();
    m_sender->send_to("127.0.0.1", m_port, "");
    m_sender->send_to("127.0.0.1", m_port, std::string(1000, '\0'));
    ASSERT_TRUE(wait_for_datagrams(2));
    EXPECT_TRUE(m_datagrams[0].data.empty());
    EXPECT_EQ(m_datagrams[1].data, std::string(1000, '\0'));
}

TEST_F(udp_sockets, an_ipv6_socket_reports_its_real_sender_and_no_local_address) {
    const int port = free_udp_port("::");
    udp_socket::ptr receiver;
    try {
        receiver = m_loop->create_udp_socket("::1", port);
    } catch (const boost::system::system_error& _e) {
        GTEST_SKIP() << "no IPv6 loopback here: " << _e.what();
    }
    const int sender_port = free_udp_port("::");
    auto sender = m_loop->create_udp_socket("::1", sender_port);
    receiver->set_receive_callback(record(m_datagrams));
    std::vector<datagram> answers;
    sender->set_receive_callback(record(answers));

    sender->send_to("::1", port, "six");
    ASSERT_TRUE(wait_for_datagrams(1));
    EXPECT_EQ(m_datagrams[0].sender, endpoint(make_address("::1"), sender_port));
    EXPECT_EQ(m_datagrams[0].local, address_v4::any());
    EXPECT_EQ(m_datagrams[0].data, "six");

    // The sender as reported is good for the answer.
    receiver->send_to(m_datagrams[0].sender, "back");
    ASSERT_TRUE(run_until([&] { return answers.size() == 1; }));
    EXPECT_EQ(answers[0].sender, endpoint(make_address("::1"), port));
    EXPECT_EQ(answers[0].data, "back");
}

TEST_F(udp_sockets, a_dual_stack_socket_reports_an_ipv4_sender_mapped_and_the_local_address) {
    const int port = free_udp_port("::");
    udp_socket::ptr receiver;
    try {
        receiver = m_loop->create_udp_socket(ip_protocol::v6, port);
    } catch (const boost::system::system_error& _e) {
        GTEST_SKIP() << "no IPv6 here: " << _e.what();
    }
    receiver->set_receive_callback(record(m_datagrams));
    const int sender_port = free_udp_port();
    auto sender = m_loop->create_udp_socket("127.0.0.1", sender_port);
    std::vector<datagram> answers;
    sender->set_receive_callback(record(answers));

    sender->send_to("127.0.0.2", port, "four");
    ASSERT_TRUE(wait_for_datagrams(1));
    EXPECT_EQ(m_datagrams[0].sender, endpoint(make_address("::ffff:127.0.0.1"), sender_port));
    EXPECT_EQ(m_datagrams[0].local, make_address("127.0.0.2").to_v4());

    receiver->send_to(m_datagrams[0].sender, "back");
    ASSERT_TRUE(run_until([&] { return answers.size() == 1; }));
    EXPECT_EQ(answers[0].data, "back");
}

TEST_F(udp_sockets, a_failed_read_is_logged_and_never_reaches_the_callback) {
    make_pair();
    // With IP_RECVERR an unconnected socket reports the ICMP error that a datagram to a closed
    // port draws: it turns readable and the next read fails with that error.
    const int fd = find_udp_descriptor(m_port);
    ASSERT_GE(fd, 0);
    int recverr = 1;
    ASSERT_EQ(::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &recverr, sizeof(recverr)), 0);
    m_receiver->send_to("127.0.0.1", free_udp_port(), "to nobody");

    ASSERT_TRUE(run_until([&] { return !log_lines().empty(); }));
    // Switching it off empties the error queue, which would keep the socket readable.
    recverr = 0;
    ASSERT_EQ(::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &recverr, sizeof(recverr)), 0);
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("&quillmere:core <t> /libs/core/impl/udp/socket_impl.cpp:", 0), 0u)
        << lines[0];
    EXPECT_NE(lines[0].find(": Connection refused"), std::string::npos) << lines[0];
    EXPECT_TRUE(m_datagrams.empty());

    // Receiving goes on.
    m_sender->send_to("127.0.0.1", m_port, "after");
    ASSERT_TRUE(wait_for_datagrams(1));
    settle();
    ASSERT_EQ(m_datagrams.size(), 1u);
    EXPECT_EQ(m_datagrams[0].data, "after");
}

TEST_F(udp_sockets, a_socket_destroyed_in_its_own_callback_waits_no_more) {
    make_pair();
    m_receiver->set_receive_callback(
        [&](const endpoint&, const address_v4&, const boost::string_view& _data) {
            m_receiver.reset();
            // The bytes live in the handler's buffer, not in the socket.
            m_datagrams.push_back({endpoint(), address_v4(), std::string(_data)});
        });
    m_sender->send_to("127.0.0.1", m_port, "first");
    m_sender->send_to("127.0.0.1", m_port, "second");
    ASSERT_TRUE(wait_for_datagrams(1));
    settle();
    ASSERT_EQ(m_datagrams.size(), 1u);
    EXPECT_EQ(m_datagrams[0].data, "first");
}

TEST_F(udp_sockets, a_throwing_callback_reaches_the_loop_and_the_next_datagram_still_comes) {
    make_pair();
    auto recorder = record(m_datagrams);
    m_receiver->set_receive_callback(
        [&](const endpoint& _sender, const address_v4& _local, const boost::string_view& _data) {
            recorder(_sender, _local, _data);
            if (m_datagrams.size() == 1) {
                throw std::runtime_error("callback failed");
            }
        });
    m_sender->send_to("127.0.0.1", m_port, "first");
    m_sender->send_to("127.0.0.1", m_port, "second");
    EXPECT_THROW(wait_for_datagrams(2), std::runtime_error);
    ASSERT_TRUE(wait_for_datagrams(2));
    EXPECT_EQ(m_datagrams[1].data, "second");
}

TEST_F(udp_sockets, a_later_callback_replaces_the_first) {
    make_pair();
    std::vector<datagram> replaced;
    m_receiver->set_receive_callback(record(replaced));
    m_receiver->set_receive_callback(record(m_datagrams));
    m_sender->send_to("127.0.0.1", m_port, "a");
    m_sender->send_to("127.0.0.1", m_port, "b");
    ASSERT_TRUE(wait_for_datagrams(2));
    settle();
    EXPECT_EQ(m_datagrams.size(), 2u);
    EXPECT_TRUE(replaced.empty());
}

TEST_F(udp_sockets, host_names_and_taken_ports_are_refused) {
    make_pair();
    EXPECT_THROW(m_loop->create_udp_socket("localhost", 0), boost::system::system_error);
    EXPECT_THROW(m_sender->make_endpoint("localhost", m_port), boost::system::system_error);
    try {
        m_sender->send_to("localhost", m_port, "x");
        ADD_FAILURE() << "a host name was resolved";
    } catch (const boost::system::system_error& _e) {
        EXPECT_NE(std::string(_e.what()).find("\"localhost\""), std::string::npos) << _e.what();
    }
    EXPECT_THROW(m_loop->create_udp_socket("127.0.0.1", m_sender_port),
                 boost::system::system_error);
    EXPECT_THROW(m_loop->create_udp_socket(ip_protocol::v4, m_port), boost::system::system_error);
}
