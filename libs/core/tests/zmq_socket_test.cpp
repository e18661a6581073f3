#include <gtest/gtest.h>
#include <zmq.h>

#include <boost/system/system_error.hpp>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/exception.hpp"
#include "core/zmq/manager.hpp"
#include "core/zmq/socket.hpp"
#include "loop_fixture.hpp"
#include "zmq/socket_impl.hpp"

using tvk::libs::core::zmq::flags;
using tvk::libs::core::zmq::message;
using tvk::libs::core::zmq::socket;
using tvk::libs::core::zmq::socket_impl;
using namespace std::chrono_literals;

namespace {

class zmq_socket : public loop_test::loop_fixture {
protected:
    tvk::libs::core::zmq::manager& zmq() { return m_loop->get_zmq(); }

    // An endpoint of this test alone.
    std::string inproc(const std::string& _name) const {
        return "inproc://" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "/" +
               _name;
    }

    // A PUSH socket bound and a PULL socket connected to it.
    void make_pipe() {
        m_push = zmq().bind(socket::type::push, inproc("pipe"));
        m_pull = zmq().connect(socket::type::pull, inproc("pipe"));
    }

    socket::ptr m_push;
    socket::ptr m_pull;
    std::vector<std::string> m_received;
};

}  // namespace

TEST(zmq_socket_types, each_type_maps_to_its_libzmq_type_and_others_to_minus_one) {
    EXPECT_EQ(socket_impl::enum_to_constant(socket::type::push), ZMQ_PUSH);
    EXPECT_EQ(socket_impl::enum_to_constant(socket::type::pull), ZMQ_PULL);
    EXPECT_EQ(socket_impl::enum_to_constant(socket::type::pub), ZMQ_PUB);
    EXPECT_EQ(socket_impl::enum_to_constant(socket::type::req), ZMQ_REQ);
    EXPECT_EQ(socket_impl::enum_to_constant(socket::type::rep), ZMQ_REP);
    EXPECT_EQ(socket_impl::enum_to_constant(static_cast<socket::type>(5)), -1);
    EXPECT_EQ(static_cast<int>(flags::sndmore), ZMQ_SNDMORE);
}

TEST_F(zmq_socket, push_to_pull_delivers_every_part_in_order) {
    make_pipe();
    m_pull->set_receive_callback([&](message& _part) { m_received.push_back(_part.string()); });
    m_push->send(message(boost::string_view("one")));
    EXPECT_TRUE(m_push->try_send(message(boost::string_view("two"))));
    m_push->send(message(boost::string_view("three")), flags::none);
    ASSERT_TRUE(run_until([&] { return m_received.size() == 3; }));
    EXPECT_EQ(m_received, (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(zmq_socket, try_send_without_a_peer_returns_false) {
    m_push = zmq().bind(socket::type::push, inproc("nobody"));
    EXPECT_FALSE(m_push->try_send(message(boost::string_view("lost"))));
    EXPECT_FALSE(m_push->try_send(message(boost::string_view("lost")), flags::sndmore));
}

TEST_F(zmq_socket, a_multi_part_message_is_read_on_with_receive_more) {
    make_pipe();
    std::vector<bool> more;
    m_pull->set_receive_callback([&](message& _part) {
        m_received.push_back(_part.string());
        more.push_back(_part.more());
        while (more.back()) {
            message next = m_pull->receive_more();
            m_received.push_back(next.string());
            more.push_back(next.more());
        }
    });
    m_push->send(message(boost::string_view("head")), flags::sndmore);
    EXPECT_TRUE(m_push->try_send(message(boost::string_view("body")), flags::sndmore));
    m_push->send(message(boost::string_view("tail")));
    m_push->send(message(boost::string_view("single")));
    ASSERT_TRUE(run_until([&] { return m_received.size() == 4; }));
    EXPECT_EQ(m_received, (std::vector<std::string>{"head", "body", "tail", "single"}));
    EXPECT_EQ(more, (std::vector<bool>{true, true, false, false}));
}

TEST_F(zmq_socket, a_later_callback_replaces_the_first_and_nothing_is_received_twice) {
    make_pipe();
    std::vector<std::string> first;
    m_pull->set_receive_callback([&](message& _part) { first.push_back(_part.string()); });
    m_pull->set_receive_callback([&](message& _part) {
        m_received.push_back(_part.string());
        // Replaced again from inside itself: the running callback finishes normally.
        m_pull->set_receive_callback(
            [&](message& _next) { m_received.push_back("third:" + _next.string()); });
        m_received.back() += "!";
    });
    for (const char* text : {"a", "b", "c"}) {
        m_push->send(message(boost::string_view(text)));
    }
    ASSERT_TRUE(run_until([&] { return m_received.size() == 3; }));
    settle();
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(m_received, (std::vector<std::string>{"a!", "third:b", "third:c"}));
}

TEST_F(zmq_socket, a_socket_destroyed_in_its_own_callback_receives_no_more) {
    make_pipe();
    m_pull->set_receive_callback([&](message& _part) {
        m_pull.reset();
        // The part belongs to the handler, not to the socket.
        m_received.push_back(_part.string());
    });
    m_push->send(message(boost::string_view("first")));
    m_push->send(message(boost::string_view("second")));
    ASSERT_TRUE(run_until([&] { return !m_received.empty(); }));
    settle();
    EXPECT_EQ(m_received, std::vector<std::string>{"first"});
}

TEST_F(zmq_socket, a_throwing_callback_reaches_the_loop_and_receiving_goes_on) {
    make_pipe();
    m_pull->set_receive_callback([&](message& _part) {
        m_received.push_back(_part.string());
        if (m_received.size() == 1) {
            throw std::runtime_error("callback failed");
        }
    });
    m_push->send(message(boost::string_view("first")));
    m_push->send(message(boost::string_view("second")));
    EXPECT_THROW(run_until([&] { return m_received.size() == 2; }), std::runtime_error);
    ASSERT_TRUE(run_until([&] { return m_received.size() == 2; }));
    EXPECT_EQ(m_received, (std::vector<std::string>{"first", "second"}));
}

TEST_F(zmq_socket, req_and_rep_answer_each_other_again_and_again) {
    auto rep = zmq().bind(socket::type::rep, inproc("rep"));
    auto req = zmq().connect(socket::type::req, inproc("rep"));
    rep->set_receive_callback(
        [&](message& _request) { rep->send(message("re:" + _request.string())); });
    // Set before the first request: the receive waits for the reply.
    req->set_receive_callback([&](message& _reply) { m_received.push_back(_reply.string()); });
    req->send(message(boost::string_view("ping")));
    ASSERT_TRUE(run_until([&] { return m_received.size() == 1; }));

    req->send(message(boost::string_view("again")));
    // A REQ socket must receive before it sends again: an error other than EAGAIN raises.
    EXPECT_THROW(req->try_send(message(boost::string_view("too soon"))),
                 boost::system::system_error);
    EXPECT_THROW(req->send(message(boost::string_view("too soon"))), boost::system::system_error);
    ASSERT_TRUE(run_until([&] { return m_received.size() == 2; }));
    EXPECT_EQ(m_received, (std::vector<std::string>{"re:ping", "re:again"}));
}

TEST_F(zmq_socket, a_refused_address_raises_with_the_address_and_the_reason) {
    struct attempt {
        bool bind;
        std::string address;
        std::string text;
    };
    const std::vector<attempt> attempts = {
        {true, "bogus", "zmq::socket_impl::bind to bogus: Invalid argument"},
        {false, "nowhere://x", "zmq::socket_impl::connect to nowhere://x: Protocol not supported"},
        {true, "tcp://256.1.1.1:5", "zmq::socket_impl::bind to tcp://256.1.1.1:5: "},
    };
    for (const auto& a : attempts) {
        try {
            a.bind ? zmq().bind(socket::type::pull, a.address)
                   : zmq().connect(socket::type::push, a.address);
            ADD_FAILURE() << a.address;
        } catch (const tvk::libs::core::exception& _e) {
            const std::string what = _e.what();
            EXPECT_NE(what.find("/libs/core/impl/zmq/socket_impl.cpp:"), std::string::npos) << what;
            EXPECT_NE(_e.get_string_error().find(a.text), std::string::npos) << what;
        }
    }
}

TEST_F(zmq_socket, an_unknown_socket_type_is_refused_by_libzmq) {
    EXPECT_THROW(zmq().bind(static_cast<socket::type>(7), inproc("odd")),
                 boost::system::system_error);
}

TEST_F(zmq_socket, a_loop_destroyed_with_a_socket_receiving_leaves_nothing_behind) {
    make_pipe();
    m_pull->set_receive_callback([&](message& _part) { m_received.push_back(_part.string()); });
    m_pull.reset();
    m_push.reset();
    // The cancelled receive's completion runs in the loop's destructor and does nothing.
    m_loop.reset();
    EXPECT_TRUE(m_received.empty());
}
