#include <gtest/gtest.h>
#include <pthread.h>
#include <zmq.h>

#include <atomic>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/system_error.hpp>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <zmq.hpp>

#include "core/zmq/asio_socket.hpp"
#include "core/zmq/error.hpp"
#include "core/zmq/message.hpp"
#include "test_support/run_until.hpp"

namespace core_zmq = tvk::libs::core::zmq;
using boost::system::error_code;
using test_support::run_ready;
using test_support::run_until;

namespace {

// A peer socket in a libzmq context of its own, bound on a wildcard loopback port.
struct peer {
    explicit peer(zmq::socket_type _type) : socket(context, _type) {
        socket.set(zmq::sockopt::linger, 0);
        socket.bind("tcp://127.0.0.1:*");
        endpoint = socket.get(zmq::sockopt::last_endpoint);
    }
    zmq::context_t context{1};
    zmq::socket_t socket;
    std::string endpoint;
};

struct received {
    bool called = false;
    error_code ec;
    std::string text;
};

// Starts a receive that stores its outcome in *_into.
void receive_into(core_zmq::asio_socket& _socket, received* _into) {
    _socket.async_receive([_into](const error_code& _ec, core_zmq::message _message) {
        _into->called = true;
        _into->ec = _ec;
        _into->text = _message.string();
    });
}

// Waits, without the io_context, until libzmq has a part queued for _socket.
bool wait_until_readable(core_zmq::asio_socket& _socket) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        error_code ec;
        if ((_socket.get_int_option(ZMQ_EVENTS, ec) & ZMQ_POLLIN) != 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A PULL socket on its own io_context, connected to a PUSH peer.
class pull_socket : public ::testing::Test {
protected:
    pull_socket() { socket.connect(sender.endpoint); }

    void send(const std::string& _text) {
        sender.socket.send(zmq::buffer(_text), zmq::send_flags::none);
    }

    boost::asio::io_context io;
    peer sender{zmq::socket_type::push};
    core_zmq::asio_socket socket{io, ZMQ_PULL};
};

}  // namespace

TEST(zmq_message, holds_bytes_and_moves_without_copying) {
    core_zmq::message empty;
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_TRUE(empty.string_view().empty());

    core_zmq::message text(boost::string_view("hello\0world", 11));
    EXPECT_EQ(text.size(), 11u);
    EXPECT_EQ(text.string(), std::string("hello\0world", 11));
    const void* bytes = text.data();

    core_zmq::message moved(std::move(text));
    EXPECT_EQ(moved.data(), bytes);
    EXPECT_EQ(moved.size(), 11u);
    EXPECT_EQ(text.size(), 0u);  // NOLINT(bugprone-use-after-move): moved-from is empty
    EXPECT_FALSE(text.more());

    core_zmq::message assigned("x");
    assigned = std::move(moved);
    EXPECT_EQ(assigned.string(), std::string("hello\0world", 11));
    // A moved-from message can be used again.
    EXPECT_NE(moved.handle(), nullptr);
    EXPECT_EQ(moved.size(), 0u);
}

TEST(zmq_error, keeps_libzmq_numbers_and_texts) {
    const error_code again = core_zmq::make_error_code(EAGAIN);
    EXPECT_EQ(again.value(), 11);
    EXPECT_STREQ(again.category().name(), "zmq");
    EXPECT_EQ(again.message(), zmq_strerror(EAGAIN));
    EXPECT_EQ(again, boost::system::errc::resource_unavailable_try_again);
    const error_code fsm = core_zmq::make_error_code(EFSM);
    EXPECT_EQ(fsm.message(), zmq_strerror(EFSM));
    EXPECT_NE(fsm, boost::system::errc::resource_unavailable_try_again);
}

TEST(zmq_asio_socket, refuses_a_bad_type_and_a_bad_endpoint) {
    boost::asio::io_context io;
    EXPECT_THROW(core_zmq::asio_socket(io, -1), boost::system::system_error);

    core_zmq::asio_socket socket(io, ZMQ_SUB);
    error_code ec;
    socket.connect("nowhere", ec);
    EXPECT_EQ(ec.value(), EINVAL);
    EXPECT_EQ(ec.category(), core_zmq::error_category());
    EXPECT_THROW(socket.connect("nowhere"), boost::system::system_error);
}

// ZMQ_FD only signals edges: a receiver that waits after each part instead of taking what is
// queued first would stall here with most of the burst unread.
TEST_F(pull_socket, receives_a_whole_burst_queued_before_the_first_wait) {
    const int count = 2000;
    for (int i = 0; i < count; ++i) {
        send(std::to_string(i));
    }

    std::vector<std::string> texts;
    std::function<void()> next = [&] {
        socket.async_receive([&](const error_code& _ec, core_zmq::message _message) {
            ASSERT_FALSE(_ec) << _ec.message();
            texts.push_back(_message.string());
            next();
        });
    };
    next();
    ASSERT_TRUE(run_until(io, [&] { return texts.size() == count; }));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(texts[static_cast<std::size_t>(i)], std::to_string(i));
    }
}

TEST_F(pull_socket, posts_the_handler_even_when_a_part_is_queued) {
    send("ready");
    ASSERT_TRUE(wait_until_readable(socket));

    received outcome;
    receive_into(socket, &outcome);
    EXPECT_FALSE(outcome.called);
    test_support::run_ready(io);
    EXPECT_TRUE(outcome.called);
    EXPECT_FALSE(outcome.ec);
    EXPECT_EQ(outcome.text, "ready");
}

// A send processes libzmq's pending commands and so can take the edge that a waiting receive
// was waiting for; the receive must still complete.
TEST(zmq_asio_socket, a_send_does_not_swallow_the_wake_up_of_a_waiting_receive) {
    boost::asio::io_context io;
    peer other(zmq::socket_type::pair);
    core_zmq::asio_socket socket(io, ZMQ_PAIR);
    socket.connect(other.endpoint);

    received outcome;
    receive_into(socket, &outcome);
    test_support::run_ready(io);  // the receive now waits on the descriptor
    ASSERT_FALSE(outcome.called);

    other.socket.send(zmq::str_buffer("to socket"), zmq::send_flags::none);
    // Let the part reach the socket's queue before anything runs on the io_context.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    core_zmq::message out("to other");
    error_code ec;
    socket.send(out, 0, ec);
    ASSERT_FALSE(ec);

    ASSERT_TRUE(run_until(
        io, [&] { return outcome.called; }, std::chrono::seconds(2)));
    EXPECT_EQ(outcome.text, "to socket");
    zmq::message_t reply;
    ASSERT_TRUE(other.socket.recv(reply));
    EXPECT_EQ(reply.to_string(), "to other");
}

TEST_F(pull_socket, reading_zmq_events_does_not_swallow_the_wake_up_of_a_waiting_receive) {
    received outcome;
    receive_into(socket, &outcome);
    test_support::run_ready(io);  // the receive now waits on the descriptor
    ASSERT_FALSE(outcome.called);
    send("late");
    // Reading ZMQ_EVENTS makes libzmq take the descriptor's signal for the new part.
    ASSERT_TRUE(wait_until_readable(socket));
    ASSERT_TRUE(run_until(
        io, [&] { return outcome.called; }, std::chrono::seconds(2)));
    EXPECT_EQ(outcome.text, "late");
}

TEST_F(pull_socket, cancel_aborts_the_pending_receive_and_a_new_one_works) {
    received cancelled;
    receive_into(socket, &cancelled);
    test_support::run_ready(io);
    error_code ec;
    socket.cancel(ec);
    EXPECT_FALSE(ec);
    EXPECT_FALSE(cancelled.called);  // posted, not called inline
    test_support::run_ready(io);
    EXPECT_TRUE(cancelled.called);
    EXPECT_EQ(cancelled.ec, boost::asio::error::operation_aborted);

    received later;
    receive_into(socket, &later);
    send("after cancel");
    ASSERT_TRUE(run_until(io, [&] { return later.called; }));
    EXPECT_FALSE(later.ec);
    EXPECT_EQ(later.text, "after cancel");
}

TEST_F(pull_socket, one_receive_at_a_time) {
    received first;
    received second;
    receive_into(socket, &first);
    receive_into(socket, &second);
    send("one");
    ASSERT_TRUE(run_until(io, [&] { return first.called && second.called; }));
    EXPECT_EQ(second.ec, boost::asio::error::already_started);
    EXPECT_FALSE(first.ec);
    EXPECT_EQ(first.text, "one");
}

TEST(zmq_asio_socket, destroying_the_socket_aborts_its_receive) {
    boost::asio::io_context io;
    auto socket = std::make_unique<core_zmq::asio_socket>(io, ZMQ_SUB);
    received outcome;
    receive_into(*socket, &outcome);
    test_support::run_ready(io);
    socket.reset();
    test_support::run_ready(io);
    EXPECT_TRUE(outcome.called);
    EXPECT_EQ(outcome.ec, boost::asio::error::operation_aborted);
}

// The part travels with the completion: the handler may destroy the socket and still read it.
TEST(zmq_asio_socket, a_handler_that_destroys_the_socket_keeps_its_part) {
    boost::asio::io_context io;
    peer sender(zmq::socket_type::push);
    auto socket = std::make_unique<core_zmq::asio_socket>(io, ZMQ_PULL);
    socket->connect(sender.endpoint);
    const std::string big(4096, 'z');
    sender.socket.send(zmq::buffer(big), zmq::send_flags::none);

    std::string seen;
    socket->async_receive([&](const error_code& _ec, core_zmq::message _message) {
        ASSERT_FALSE(_ec);
        socket.reset();
        seen = _message.string();
    });
    ASSERT_TRUE(run_until(io, [&] { return !seen.empty(); }));
    EXPECT_EQ(seen, big);
}

TEST(zmq_asio_socket, try_send_reports_a_full_queue_as_false) {
    boost::asio::io_context io;
    core_zmq::asio_socket socket(io, ZMQ_PUSH);  // no peer: nothing can be queued
    core_zmq::message part("kept");
    error_code ec;
    EXPECT_FALSE(socket.try_send(part, 0, ec));
    EXPECT_FALSE(ec);
    EXPECT_EQ(part.string(), "kept");

    socket.send(part, ZMQ_DONTWAIT, ec);
    EXPECT_EQ(ec.value(), 11);
}

TEST(zmq_asio_socket, a_req_receive_started_before_its_request_waits_for_each_reply) {
    boost::asio::io_context io;
    peer replier(zmq::socket_type::rep);
    core_zmq::asio_socket requester(io, ZMQ_REQ);
    requester.connect(replier.endpoint);
    for (const std::string text : {"one", "two"}) {
        // Started while the socket must still send: it waits instead of failing.
        received reply;
        receive_into(requester, &reply);
        run_ready(io);
        EXPECT_FALSE(reply.called) << reply.ec.message();
        core_zmq::message request(text);
        error_code ec;
        requester.send(request, 0, ec);
        ASSERT_FALSE(ec);
        zmq::message_t part;
        ASSERT_TRUE(replier.socket.recv(part));
        replier.socket.send(zmq::buffer("re:" + part.to_string()), zmq::send_flags::none);
        ASSERT_TRUE(run_until(io, [&] { return reply.called; }));
        EXPECT_FALSE(reply.ec) << reply.ec.message();
        EXPECT_EQ(reply.text, "re:" + text);
    }
}

TEST(zmq_asio_socket, multi_part_send) {
    boost::asio::io_context io;
    peer receiver(zmq::socket_type::pull);
    core_zmq::asio_socket sender(io, ZMQ_PUSH);
    sender.connect(receiver.endpoint);
    core_zmq::message first("first");
    core_zmq::message second("second");
    error_code ec;
    sender.send(first, ZMQ_SNDMORE, ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(first.size(), 0u);  // taken by libzmq
    sender.send(second, 0, ec);
    ASSERT_FALSE(ec);

    zmq::message_t part;
    ASSERT_TRUE(receiver.socket.recv(part));
    EXPECT_EQ(part.to_string(), "first");
    EXPECT_TRUE(part.more());
    ASSERT_TRUE(receiver.socket.recv(part));
    EXPECT_EQ(part.to_string(), "second");
    EXPECT_FALSE(part.more());
}

TEST_F(pull_socket, the_rest_of_a_multi_part_message_with_a_blocking_receive) {
    sender.socket.send(zmq::str_buffer("a"), zmq::send_flags::sndmore);
    send("b");
    std::string rest;
    socket.async_receive([&](const error_code& _ec, core_zmq::message _message) {
        ASSERT_FALSE(_ec);
        EXPECT_EQ(_message.string(), "a");
        EXPECT_TRUE(_message.more());
        core_zmq::message next;
        error_code receive_ec;
        socket.receive(next, 0, receive_ec);
        ASSERT_FALSE(receive_ec);
        EXPECT_FALSE(next.more());
        rest = next.string();
    });
    ASSERT_TRUE(run_until(io, [&] { return !rest.empty(); }));
    EXPECT_EQ(rest, "b");
}

namespace {
void ignore_signal(int) {}
}  // namespace

TEST_F(pull_socket, a_blocking_receive_goes_on_after_a_signal) {
    struct sigaction action {};
    action.sa_handler = ignore_signal;  // no SA_RESTART: the wait is interrupted
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    std::atomic_bool receiving{false};
    error_code ec;
    std::string text;
    std::thread receiver([&] {
        core_zmq::message part;
        receiving = true;
        socket.receive(part, 0, ec);
        text = part.string();
    });
    while (!receiving) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pthread_kill(receiver.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    send("after the signal");
    receiver.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_FALSE(ec) << ec.message();
    EXPECT_EQ(text, "after the signal");
}

// Closing sets a finite linger, so the last socket's context terminates although a part could
// never be delivered.
TEST(zmq_asio_socket, closing_with_an_undeliverable_part_does_not_hang) {
    const auto start = std::chrono::steady_clock::now();
    {
        boost::asio::io_context io;
        core_zmq::asio_socket socket(io, ZMQ_PUSH);
        // Connecting makes the pipe at once; nobody will ever take the part.
        socket.connect("tcp://127.0.0.1:" + std::to_string(1));
        core_zmq::message part("lost");
        error_code ec;
        EXPECT_TRUE(socket.try_send(part, 0, ec));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}
