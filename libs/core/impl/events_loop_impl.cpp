#include "events_loop_impl.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "http/client_impl.hpp"
#include "message_stream_zmq.hpp"
#include "message_stream_zmq_raw.hpp"
#include "redis/context_impl.hpp"
#include "signals_handle_impl.hpp"
#include "tcp/manager_impl.hpp"
#include "timers_manager_impl.hpp"
#include "udp/socket_impl.hpp"
#include "zmq/manager_impl.hpp"

namespace tvk {
namespace libs {
namespace core {

namespace {
// The longest time the destructor lets queued completions run.
constexpr std::chrono::seconds drain_time_limit{10};
}  // namespace

events_loop_impl::events_loop_impl(core& _core, const component_logger& _logger)
    : m_core(_core)
    , m_logger(_logger)
    , m_timers(std::make_unique<timers_manager_impl>(*this, m_logger))
    , m_tcp(std::make_unique<tcp::manager_impl>(m_io_context, m_logger))
    , m_zmq(std::make_unique<zmq::manager_impl>(m_io_context, m_logger)) {}

events_loop_impl::~events_loop_impl() {
    // The members then go in reverse order: the managers before the io_context.
    drain();
}

void events_loop_impl::drain() noexcept {
    // The completions of operations that were cancelled or whose owners are gone run here,
    // while the loop still exists; their handlers find nothing to do. A handler that throws
    // is logged and the rest still run, within the same time limit.
    const auto deadline = std::chrono::steady_clock::now() + drain_time_limit;
    try {
        m_io_context.restart();
        while (!m_logger.execute([&] { m_io_context.run_until(deadline); }) &&
               std::chrono::steady_clock::now() < deadline) {
        }
    } catch (...) {
        // Logging itself failed; nothing may leave a destructor.
    }
}

void events_loop_impl::run() {
    m_io_context.run();
}

void events_loop_impl::run_catch_exceptions(source_location _location) {
    // An exception does not stop the Asio loop, so running again goes on with what is left.
    while (!m_logger.execute(_location, [this] { run(); })) {
    }
}

void events_loop_impl::stop() {
    m_io_context.stop();
}

bool events_loop_impl::is_stopped() const {
    return m_io_context.stopped();
}

events_loop::signals_handle::ptr events_loop_impl::stop_on_signals() {
    return std::make_unique<signals_handle_impl>(m_core, *this);
}

timers_manager& events_loop_impl::get_timers() {
    return *m_timers;
}

timer::ptr events_loop_impl::create_timer(timer::time_point _time_point, const std::string& _name,
                                          timer::callback _callback, source_location _location) {
    return get_timers().create_timer(_time_point, _name, std::move(_callback), _location);
}

periodic_timer::ptr events_loop_impl::create_periodic_timer(std::chrono::nanoseconds _period,
                                                            const std::string& _name,
                                                            timer::callback _callback,
                                                            source_location _location) {
    return get_timers().create_periodic_timer(_period, _name, std::move(_callback), _location);
}

periodic_timer::ptr events_loop_impl::create_periodic_timer(
    std::chrono::nanoseconds _period, periodic_timer::execute_now _execute_now,
    const std::string& _name, timer::callback _callback, source_location _location) {
    return get_timers().create_periodic_timer(_period, _execute_now, _name, std::move(_callback),
                                              _location);
}

message_stream::ptr events_loop_impl::create_zmq_message_stream(const std::string& _address) {
    return std::make_unique<message_stream_zmq>(get_io_context(), m_logger, _address);
}

message_stream::ptr events_loop_impl::create_zmq_raw_message_stream(const std::string& _address) {
    return std::make_unique<message_stream_zmq_raw>(get_io_context(), m_logger, _address);
}

udp::socket::ptr events_loop_impl::create_udp_socket(ip_protocol _protocol, int _port) {
    return std::make_unique<udp::socket_impl>(get_io_context(), m_logger, _protocol, _port);
}

udp::socket::ptr events_loop_impl::create_udp_socket(const std::string& _address, int _port) {
    return std::make_unique<udp::socket_impl>(get_io_context(), m_logger, _address, _port);
}

tcp::manager& events_loop_impl::get_tcp() {
    return *m_tcp;
}

zmq::manager& events_loop_impl::get_zmq() {
    return *m_zmq;
}

http::client::ptr events_loop_impl::create_http_client(const std::string& _address,
                                                       std::chrono::seconds _timeout) {
    return create_http_client(_address, _timeout, {}, 10);
}

http::client::ptr events_loop_impl::create_http_client(
    const std::string& _address, std::chrono::seconds _timeout,
    const std::vector<http::method>& _disabled_methods, int _num_threads) {
    return std::make_unique<http::client_impl>(*this, m_core, m_logger, _address, _timeout,
                                               _disabled_methods, _num_threads);
}

async_operation_handle<boost::optional<std::unique_ptr<redis::context>>>::ptr
events_loop_impl::create_redis_context(boost::string_view _ip, int _port, int _db) {
    return redis::context_impl::create(*this, m_logger, _ip, _port, _db);
}

void events_loop_impl::post(std::function<void()> _handler, source_location /*_location*/) {
    boost::asio::post(m_io_context, std::move(_handler));
}

events_loop::work::ptr events_loop_impl::create_work() {
    class work_impl : public work {
    public:
        explicit work_impl(boost::asio::io_context& _io_context)
            : m_guard(boost::asio::make_work_guard(_io_context)) {}

    private:
        boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_guard;
    };
    return std::make_unique<work_impl>(m_io_context);
}

boost::asio::io_context& events_loop_impl::get_io_context() {
    return m_io_context;
}

const boost::asio::io_context& events_loop_impl::get_io_context() const {
    return m_io_context;
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
