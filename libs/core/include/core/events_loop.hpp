#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/async_operation_handle.hpp"
#include "core/http/client.hpp"
#include "core/http/method.hpp"
#include "core/ip_protocol.hpp"
#include "core/message_stream.hpp"
#include "core/periodic_timer.hpp"
#include "core/redis/context.hpp"
#include "core/source_location.hpp"
#include "core/tcp/manager.hpp"
#include "core/timer.hpp"
#include "core/timers_manager.hpp"
#include "core/udp/socket.hpp"
#include "core/zmq/manager.hpp"

namespace tvk {
namespace libs {
namespace core {

// Blocks SIGINT and SIGTERM in the calling thread, and so in the threads it makes afterwards:
// called first in main, it keeps them from ending the process before a loop's stop_on_signals
// takes them over.
void hold_stop_signals();

// One thread's loop of handlers and the factory of the library's asynchronous objects. Every
// product must be destroyed before the loop that made it.
class events_loop {
public:
    using ptr = std::unique_ptr<events_loop>;

    // Stops a loop on SIGINT or SIGTERM, watched on a thread of its own; only the first
    // signal is handled. A process may block both in every thread from its start: the watch
    // takes them over, and one that came before has stopped the loop when stop_on_signals
    // returns. Destroy it before the loop it stops.
    class signals_handle {
    public:
        using ptr = std::unique_ptr<signals_handle>;
        virtual ~signals_handle() = default;
        // Whether a signal has stopped the loop; any thread may ask.
        virtual bool signal_is_received() const = 0;
    };

    // While it lives, run does not return for lack of work.
    class work {
    public:
        using ptr = std::unique_ptr<work>;
        virtual ~work() = default;
    };

    // Runs what is still queued (the completions of cancelled operations) for at most 10 s.
    virtual ~events_loop() = default;

    // Runs handlers on the calling thread until stopped or out of work; an exception thrown by
    // a handler leaves run and the loop can be entered again.
    virtual void run() = 0;
    // Runs, logging "Caught exeption" at _location and re-entering after every exception.
    virtual void run_catch_exceptions(source_location _location) = 0;
    // Makes run return once the running handler has returned; a stopped loop stays stopped.
    // Any thread may call it.
    virtual void stop() = 0;
    // Also true once run has returned for lack of work.
    virtual bool is_stopped() const = 0;
    virtual signals_handle::ptr stop_on_signals() = 0;

    virtual timers_manager& get_timers() = 0;
    virtual timer::ptr create_timer(timer::time_point _time_point, const std::string& _name,
                                    timer::callback _callback, source_location _location) = 0;
    virtual periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                                      const std::string& _name,
                                                      timer::callback _callback,
                                                      source_location _location) = 0;
    virtual periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                                      periodic_timer::execute_now _execute_now,
                                                      const std::string& _name,
                                                      timer::callback _callback,
                                                      source_location _location) = 0;

    // The JSON stream on the ZeroMQ endpoint _address: topic "notify" receives the frames that
    // begin "#notify", from their first "{" on. Raises boost::system::system_error when the
    // endpoint is refused.
    virtual message_stream::ptr create_zmq_message_stream(const std::string& _address) = 0;
    // The raw stream: topics are ZeroMQ prefixes and callbacks get whole frames.
    virtual message_stream::ptr create_zmq_raw_message_stream(const std::string& _address) = 0;

    // A UDP socket bound to the wildcard address of _protocol, or to the numeric _address.
    // Raises boost::system::system_error when it cannot be bound or the address is not
    // numeric, tvk::libs::core::exception for a port outside 0 to 65535.
    virtual udp::socket::ptr create_udp_socket(ip_protocol _protocol, int _port) = 0;
    virtual udp::socket::ptr create_udp_socket(const std::string& _address, int _port) = 0;
    // The loop's makers of TCP connections and acceptors, and of ZeroMQ sockets.
    virtual tcp::manager& get_tcp() = 0;
    virtual zmq::manager& get_zmq() = 0;

    // An HTTP client for the base URL _address with no disabled method and 10 worker threads.
    virtual http::client::ptr create_http_client(const std::string& _address,
                                                 std::chrono::seconds _timeout) = 0;
    // An HTTP client whose asynchronous results come back to this loop. A disabled method
    // sends nothing and answers 200 with an empty body.
    virtual http::client::ptr create_http_client(const std::string& _address,
                                                 std::chrono::seconds _timeout,
                                                 const std::vector<http::method>& _disabled_methods,
                                                 int _num_threads) = 0;

    // Connects to database _db of the Redis server at _ip:_port; the handle delivers the
    // context on this loop, or an empty result when it cannot connect (restarting the handle
    // tries again). Raises when hiredis refuses the address at once, and for a port outside
    // 0..65535.
    virtual async_operation_handle<boost::optional<std::unique_ptr<redis::context>>>::ptr
    create_redis_context(boost::string_view _ip, int _port, int _db) = 0;

    // Queues _handler; it runs later on the thread that runs the loop. Any thread may call it.
    virtual void post(std::function<void()> _handler, source_location _location) = 0;
    virtual work::ptr create_work() = 0;
    virtual boost::asio::io_context& get_io_context() = 0;
    virtual const boost::asio::io_context& get_io_context() const = 0;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
