#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <boost/utility/string_view.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "core/zmq/message.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

// Closes a libzmq socket.
struct socket_deleter {
    void operator()(void* _socket) const noexcept;
};

// A libzmq socket whose receives complete on a Boost.Asio io_context.
//
// All calls belong on the thread that runs the io_context. Completion handlers are always
// posted to the io_context, never called from inside the call that starts or cancels them.
// A moved-from socket may only be destroyed or assigned to.
// Errors are boost::system::error_code values of zmq::error_category() (EAGAIN is 11), or
// Boost.Asio's operation_aborted for a cancelled receive. Move-only.
class asio_socket {
public:
    // The linger that closing sets when the socket's own is infinite.
    static constexpr int default_close_linger_ms = 1000;

    // A socket of the libzmq type _type (ZMQ_SUB, ZMQ_PUSH, ...); raises
    // boost::system::system_error when libzmq refuses it.
    asio_socket(boost::asio::io_context& _io_context, int _type);
    asio_socket(asio_socket&& _other) noexcept;
    asio_socket& operator=(asio_socket&& _other) noexcept;
    asio_socket(const asio_socket&) = delete;
    asio_socket& operator=(const asio_socket&) = delete;
    // Cancels a pending receive (its handler gets operation_aborted), then closes the socket
    // with a finite linger.
    ~asio_socket();

    boost::asio::io_context& get_io_context() const;

    void connect(const std::string& _endpoint, boost::system::error_code& _ec);
    void connect(const std::string& _endpoint);  // raises boost::system::system_error
    void bind(const std::string& _endpoint, boost::system::error_code& _ec);
    void bind(const std::string& _endpoint);  // raises boost::system::system_error

    // Socket options; the throwing forms raise boost::system::system_error.
    void set_option(int _option, int _value, boost::system::error_code& _ec);
    void set_option(int _option, int _value);
    void set_option(int _option, boost::string_view _value, boost::system::error_code& _ec);
    void set_option(int _option, boost::string_view _value);
    int get_int_option(int _option, boost::system::error_code& _ec) const;
    std::string get_string_option(int _option, boost::system::error_code& _ec) const;

    // ZMQ_SUBSCRIBE to the prefix _topic.
    void subscribe(boost::string_view _topic, boost::system::error_code& _ec);
    void subscribe(boost::string_view _topic);
    // The endpoint the socket was last bound or connected to (ZMQ_LAST_ENDPOINT), with the
    // port that a wildcard bind chose.
    std::string last_endpoint() const;

    // Sends one part with libzmq's send flags (ZMQ_SNDMORE, ZMQ_DONTWAIT). Without
    // ZMQ_DONTWAIT it waits until libzmq takes the part, retrying after signals. On success
    // _message is left empty; on failure it keeps its content.
    void send(message& _message, int _flags, boost::system::error_code& _ec);
    // Sends without waiting: false when libzmq cannot take the part now (EAGAIN); other
    // failures in _ec.
    bool try_send(message& _message, int _flags, boost::system::error_code& _ec);

    // Receives one part into _message, waiting unless _flags holds ZMQ_DONTWAIT (then EAGAIN
    // when nothing is queued). Retries after signals.
    void receive(message& _message, int _flags, boost::system::error_code& _ec);

    // Receives one part; _handler(const boost::system::error_code&, message) is posted when it
    // has arrived or failed. One receive at a time: a second one started while the first is
    // pending fails with boost::asio::error::already_started. On a REQ or REP socket that must
    // send first, the receive waits for the reply that follows that send.
    template <class Handler>
    void async_receive(Handler&& _handler) {
        start_receive(receive_handler(std::forward<Handler>(_handler)));
    }

    // Cancels a pending receive: its handler is posted with operation_aborted.
    void cancel(boost::system::error_code& _ec);

    // The latest time at which a receive found no part queued: every part that arrived before
    // it has been taken by a receive. A receive that waits now with nothing queued makes it now.
    std::chrono::steady_clock::time_point emptied_at();

    // The libzmq socket, for options this class does not wrap.
    void* native_handle() const;

private:
    class state;

    // A move-only type-erased receive handler.
    class receive_handler {
    public:
        receive_handler() = default;
        template <class Handler, class = std::enable_if_t<
                                     !std::is_same<std::decay_t<Handler>, receive_handler>::value>>
        explicit receive_handler(Handler&& _handler)
            : m_impl(
                  std::make_unique<impl<std::decay_t<Handler>>>(std::forward<Handler>(_handler))) {}

        explicit operator bool() const noexcept { return static_cast<bool>(m_impl); }
        void operator()(const boost::system::error_code& _ec, message&& _message) {
            m_impl->call(_ec, std::move(_message));
        }

    private:
        struct base {
            virtual ~base() = default;
            virtual void call(const boost::system::error_code& _ec, message&& _message) = 0;
        };
        template <class Handler>
        struct impl final : base {
            explicit impl(Handler&& _handler) : m_handler(std::move(_handler)) {}
            explicit impl(const Handler& _handler) : m_handler(_handler) {}
            void call(const boost::system::error_code& _ec, message&& _message) override {
                m_handler(_ec, std::move(_message));
            }
            Handler m_handler;
        };
        std::unique_ptr<base> m_impl;
    };

    void start_receive(receive_handler&& _handler);

    std::shared_ptr<state> m_state;
};

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
