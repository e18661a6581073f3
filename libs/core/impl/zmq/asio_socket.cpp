#include "core/zmq/asio_socket.hpp"

#include <zmq.h>

#include <boost/asio/error.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>

#include "core/zmq/context.hpp"
#include "core/zmq/error.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

void socket_deleter::operator()(void* _socket) const noexcept {
    zmq_close(_socket);
}

// What the socket's pending operations share: they hold it weakly and do nothing once the
// socket is gone.
//
// ZMQ_FD signals only that libzmq has internal commands to process, and only on the edge;
// any libzmq call on the socket may process them and so swallow the signal. Hence: a receive
// always first tries a non-waiting zmq_msg_recv and waits on the descriptor only after EAGAIN
// (which leaves libzmq's signal reset, so the next arrival raises a fresh edge), and after any
// other call on the socket ZMQ_EVENTS is checked while a receive waits.
class asio_socket::state : public std::enable_shared_from_this<state> {
public:
    state(boost::asio::io_context& _io_context, int _type)
        : m_io_context(_io_context)
        , m_context(context::shared())
        , m_socket(zmq_socket(m_context->handle(), _type))
        , m_descriptor(_io_context) {
        if (!m_socket) {
            throw boost::system::system_error(last_error(), "zmq_socket");
        }
        int fd = -1;
        std::size_t size = sizeof(fd);
        if (zmq_getsockopt(m_socket.get(), ZMQ_FD, &fd, &size) != 0) {
            throw boost::system::system_error(last_error(), "zmq_getsockopt(ZMQ_FD)");
        }
        m_descriptor.assign(fd);
    }

    ~state() {
        try {
            if (m_pending) {
                complete(boost::asio::error::operation_aborted, message());
            }
        } catch (...) {
            // The handler cannot be posted (no memory): it is dropped.
        }
        boost::system::error_code ignored;
        m_descriptor.cancel(ignored);
        // The descriptor belongs to libzmq: Asio must let it go without closing it.
        m_descriptor.release();
        // An infinite linger would make the context's termination wait for unsent parts forever.
        int linger = -1;
        std::size_t size = sizeof(linger);
        if (zmq_getsockopt(m_socket.get(), ZMQ_LINGER, &linger, &size) == 0 && linger < 0) {
            linger = default_close_linger_ms;
            zmq_setsockopt(m_socket.get(), ZMQ_LINGER, &linger, sizeof(linger));
        }
    }

    void start_receive(receive_handler&& _handler) {
        if (m_pending) {
            boost::asio::post(m_io_context, [handler = std::move(_handler)]() mutable {
                handler(boost::asio::error::already_started, message());
            });
            return;
        }
        m_pending = std::move(_handler);
        pump();
    }

    void cancel(boost::system::error_code& _ec) {
        if (m_pending) {
            complete(boost::asio::error::operation_aborted, message());
        }
        _ec.clear();
        if (m_waiting) {
            m_descriptor.cancel(_ec);
        }
    }

    // After any call on the socket: a waiting receive whose signal that call may have
    // swallowed looks again.
    void recheck() {
        if (!m_pending || !m_waiting) {
            return;
        }
        int events = 0;
        std::size_t size = sizeof(events);
        if (zmq_getsockopt(m_socket.get(), ZMQ_EVENTS, &events, &size) == 0 &&
            (events & ZMQ_POLLIN) != 0) {
            pump();
        }
    }

    void send(message& _message, int _flags, boost::system::error_code& _ec) {
        _ec = retry_on_interrupt(
            [&] { return zmq_msg_send(_message.handle(), m_socket.get(), _flags); });
        recheck();
    }

    void receive(message& _message, int _flags, boost::system::error_code& _ec) {
        _ec = retry_on_interrupt(
            [&] { return zmq_msg_recv(_message.handle(), m_socket.get(), _flags); });
        recheck();
    }

    std::chrono::steady_clock::time_point emptied_at() {
        if (m_pending && m_waiting) {
            int events = 0;
            std::size_t size = sizeof(events);
            if (zmq_getsockopt(m_socket.get(), ZMQ_EVENTS, &events, &size) == 0 &&
                (events & ZMQ_POLLIN) == 0) {
                m_emptied_at = std::chrono::steady_clock::now();
            } else {
                // A part came that the descriptor has not told of yet, or the call took its
                // signal: the receive takes it.
                pump();
            }
        }
        return m_emptied_at;
    }

    template <class Call>
    static boost::system::error_code retry_on_interrupt(Call&& _call) {
        for (;;) {
            if (_call() >= 0) {
                return boost::system::error_code();
            }
            const int error = zmq_errno();
            if (error != EINTR) {
                return make_error_code(error);
            }
        }
    }

    boost::asio::io_context& m_io_context;
    context::ptr m_context;  // outlives the socket
    std::unique_ptr<void, socket_deleter> m_socket;
    boost::asio::posix::stream_descriptor m_descriptor;
    receive_handler m_pending;
    bool m_waiting = false;  // an async_wait on the descriptor is outstanding
    std::chrono::steady_clock::time_point m_emptied_at = std::chrono::steady_clock::now();

private:
    // Takes a queued part for the pending receive, or waits for the descriptor.
    void pump() {
        if (!m_pending) {
            return;
        }
        message part;
        const boost::system::error_code ec = retry_on_interrupt(
            [&] { return zmq_msg_recv(part.handle(), m_socket.get(), ZMQ_DONTWAIT); });
        if (!ec) {
            complete(ec, std::move(part));
            return;
        }
        // A REQ or REP socket that must send before it may receive (EFSM) waits like an empty
        // one: the send that allows the receive is followed by a re-check.
        if (ec.value() != EAGAIN && ec.value() != EFSM) {
            complete(ec, message());
            return;
        }
        m_emptied_at = std::chrono::steady_clock::now();
        if (!m_waiting) {
            m_waiting = true;
            m_descriptor.async_wait(
                boost::asio::posix::stream_descriptor::wait_read,
                [weak = weak_from_this()](const boost::system::error_code& _ec) {
                    if (auto self = weak.lock()) {
                        self->on_readable(_ec);
                    }
                });
        }
    }

    void on_readable(const boost::system::error_code& _ec) {
        m_waiting = false;
        // A cancelled wait may find a receive started since the cancel: it waits anew.
        if (_ec && _ec != boost::asio::error::operation_aborted) {
            if (m_pending) {
                complete(_ec, message());
            }
            return;
        }
        pump();
    }

    // The part travels with the posted handler, so whatever the handler does to the socket
    // cannot free the part it is working on.
    void complete(const boost::system::error_code& _ec, message&& _part) {
        boost::asio::post(m_io_context,
                          [handler = std::move(m_pending), _ec, part = std::move(_part)]() mutable {
                              handler(_ec, std::move(part));
                          });
        m_pending = receive_handler();
    }
};

asio_socket::asio_socket(boost::asio::io_context& _io_context, int _type)
    : m_state(std::make_shared<state>(_io_context, _type)) {}

asio_socket::asio_socket(asio_socket&& _other) noexcept = default;

asio_socket& asio_socket::operator=(asio_socket&& _other) noexcept = default;

asio_socket::~asio_socket() = default;

boost::asio::io_context& asio_socket::get_io_context() const {
    return m_state->m_io_context;
}

void asio_socket::connect(const std::string& _endpoint, boost::system::error_code& _ec) {
    _ec = zmq_connect(m_state->m_socket.get(), _endpoint.c_str()) == 0 ? boost::system::error_code()
                                                                       : last_error();
    m_state->recheck();
}

void asio_socket::connect(const std::string& _endpoint) {
    boost::system::error_code ec;
    connect(_endpoint, ec);
    throw_on_error(ec, "zmq_connect");
}

void asio_socket::bind(const std::string& _endpoint, boost::system::error_code& _ec) {
    _ec = zmq_bind(m_state->m_socket.get(), _endpoint.c_str()) == 0 ? boost::system::error_code()
                                                                    : last_error();
    m_state->recheck();
}

void asio_socket::bind(const std::string& _endpoint) {
    boost::system::error_code ec;
    bind(_endpoint, ec);
    throw_on_error(ec, "zmq_bind");
}

void asio_socket::set_option(int _option, int _value, boost::system::error_code& _ec) {
    _ec = zmq_setsockopt(m_state->m_socket.get(), _option, &_value, sizeof(_value)) == 0
              ? boost::system::error_code()
              : last_error();
    m_state->recheck();
}

void asio_socket::set_option(int _option, int _value) {
    boost::system::error_code ec;
    set_option(_option, _value, ec);
    throw_on_error(ec, "zmq_setsockopt");
}

void asio_socket::set_option(int _option, boost::string_view _value,
                             boost::system::error_code& _ec) {
    _ec = zmq_setsockopt(m_state->m_socket.get(), _option, _value.data(), _value.size()) == 0
              ? boost::system::error_code()
              : last_error();
    m_state->recheck();
}

void asio_socket::set_option(int _option, boost::string_view _value) {
    boost::system::error_code ec;
    set_option(_option, _value, ec);
    throw_on_error(ec, "zmq_setsockopt");
}

int asio_socket::get_int_option(int _option, boost::system::error_code& _ec) const {
    int value = 0;
    std::size_t size = sizeof(value);
    _ec = zmq_getsockopt(m_state->m_socket.get(), _option, &value, &size) == 0
              ? boost::system::error_code()
              : last_error();
    // Reading ZMQ_EVENTS lets libzmq take the descriptor's signal.
    m_state->recheck();
    return value;
}

std::string asio_socket::get_string_option(int _option, boost::system::error_code& _ec) const {
    char buffer[1024];
    std::size_t size = sizeof(buffer);
    if (zmq_getsockopt(m_state->m_socket.get(), _option, buffer, &size) != 0) {
        _ec = last_error();
        return std::string();
    }
    _ec.clear();
    // String options come with their terminating NUL.
    if (size > 0 && buffer[size - 1] == '\0') {
        --size;
    }
    return std::string(buffer, size);
}

void asio_socket::subscribe(boost::string_view _topic, boost::system::error_code& _ec) {
    set_option(ZMQ_SUBSCRIBE, _topic, _ec);
}

void asio_socket::subscribe(boost::string_view _topic) {
    boost::system::error_code ec;
    subscribe(_topic, ec);
    throw_on_error(ec, "zmq_setsockopt(ZMQ_SUBSCRIBE)");
}

std::string asio_socket::last_endpoint() const {
    boost::system::error_code ec;
    std::string endpoint = get_string_option(ZMQ_LAST_ENDPOINT, ec);
    throw_on_error(ec, "zmq_getsockopt(ZMQ_LAST_ENDPOINT)");
    return endpoint;
}

void asio_socket::send(message& _message, int _flags, boost::system::error_code& _ec) {
    m_state->send(_message, _flags, _ec);
}

bool asio_socket::try_send(message& _message, int _flags, boost::system::error_code& _ec) {
    m_state->send(_message, _flags | ZMQ_DONTWAIT, _ec);
    if (_ec.value() == EAGAIN && _ec.category() == error_category()) {
        _ec.clear();
        return false;
    }
    return !_ec;
}

void asio_socket::receive(message& _message, int _flags, boost::system::error_code& _ec) {
    m_state->receive(_message, _flags, _ec);
}

void asio_socket::start_receive(receive_handler&& _handler) {
    m_state->start_receive(std::move(_handler));
}

void asio_socket::cancel(boost::system::error_code& _ec) {
    m_state->cancel(_ec);
}

std::chrono::steady_clock::time_point asio_socket::emptied_at() {
    return m_state->emptied_at();
}

void* asio_socket::native_handle() const {
    return m_state->m_socket.get();
}

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
