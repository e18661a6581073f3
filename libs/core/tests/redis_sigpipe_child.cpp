// Sends a long SET through the asynchronous Redis client while a relay ends, then resets, the
// connection; SIGPIPE keeps its default action, so a write that raises it ends this process.
// Argument: the port of a redis-server on the loopback. Reports the reply's type on standard
// output; exit status 0 for a NIL reply with SIGPIPE's handling as it was, 1 when a check
// failed, 2 when something did not come in time.
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <boost/optional.hpp>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/redis/context.hpp"
#include "test_support/run_until.hpp"
#include "test_support/tcp_proxy.hpp"

using namespace std::chrono_literals;
namespace redis = tvk::libs::core::redis;

namespace {

void report(const std::string& _line) {
    std::cout << _line << std::endl;
}

bool sigpipe_is_default_and_open() {
    struct sigaction action {};
    sigaction(SIGPIPE, nullptr, &action);
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    sigset_t pending;
    sigpending(&pending);
    return action.sa_handler == SIG_DFL && sigismember(&mask, SIGPIPE) == 0 &&
           sigismember(&pending, SIGPIPE) == 0;
}

// Whether a connection of this process to _port holds bytes that the peer has not taken.
bool bytes_wait_for(int _port) {
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer{};
        socklen_t length = sizeof(peer);
        int queued = 0;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == _port &&
            ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0) {
            return true;
        }
    }
    return false;
}

// Waits, without running the loop, until _done() holds; false after ten seconds.
template <class Predicate>
bool wait_outside_the_loop(Predicate&& _done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!_done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        report("usage: redis_sigpipe_child <redis port>");
        return 1;
    }
    // Whatever the parent ignored or blocked: the default action, deliverable.
    signal(SIGPIPE, SIG_DFL);
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);

    test_support::tcp_proxy proxy(std::stoi(argv[1]));
    tvk::libs::core::logger logger("redis_sigpipe_child", "main");
    auto core = tvk::libs::core::core::create(logger);
    auto loop = core->create_events_loop("main loop");
    auto& io = loop->get_io_context();
    {
        boost::optional<boost::optional<redis::context::ptr>> created;
        const auto creation = loop->create_redis_context("127.0.0.1", proxy.port(), 0);
        creation->set_callback(
            [&](boost::optional<redis::context::ptr> _result) { created = std::move(_result); });
        if (!test_support::run_until(
                io, [&] { return created.has_value(); }, 10s) ||
            !*created) {
            report("not connected");
            return 2;
        }
        redis::context::ptr context = std::move(**created);

        // Once a reply has come back, nothing of the connection's start is left unsent, so the
        // relay breaks on the SET.
        boost::optional<redis::reply> received;
        auto ping = context->create_command({"PING"});
        const auto ping_handle = ping->execute_async();
        ping_handle->set_callback([&](redis::reply _reply) { received = std::move(_reply); });
        if (!test_support::run_until(
                io, [&] { return received.has_value(); }, 10s)) {
            report("no PING reply");
            return 2;
        }
        received = boost::none;

        proxy.break_next_request();
        auto set = context->set("big", std::string(32 << 20, 'x'));
        const auto set_handle = set->execute_async();
        set_handle->set_callback([&](redis::reply _reply) { received = std::move(_reply); });
        // The first part is written and the relay takes nothing more; the loop then waits
        // while the connection is ended and reset, so that it learns both at once and its
        // next write meets the reset connection.
        if (!test_support::run_until(
                io, [&] { return bytes_wait_for(proxy.port()); }, 10s)) {
            report("nothing written");
            return 2;
        }
        if (!wait_outside_the_loop([&] { return proxy.broken_count() == 1; })) {
            report("not broken");
            return 2;
        }
        if (!test_support::run_until(
                io, [&] { return received.has_value(); }, 20s)) {
            report("no SET reply");
            return 2;
        }
        report(std::string(redis::to_string(received->get_type())));
        if (received->get_type() != redis::reply_type::NIL) {
            return 1;
        }
    }
    if (!sigpipe_is_default_and_open()) {
        report("SIGPIPE's handling changed");
        return 1;
    }
    return 0;
}
