#include "zmq/socket_impl.hpp"

#include <zmq.h>

#include <utility>

#include "core/exception.hpp"
#include "core/zmq/error.hpp"
#include "socket_loop.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

int socket_impl::enum_to_constant(type _type) {
    switch (_type) {
        case type::push:
            return ZMQ_PUSH;
        case type::pull:
            return ZMQ_PULL;
        case type::pub:
            return ZMQ_PUB;
        case type::req:
            return ZMQ_REQ;
        case type::rep:
            return ZMQ_REP;
    }
    return -1;
}

socket::ptr socket_impl::connect(type _type, boost::asio::io_context& _io_context,
                                 const component_logger& _logger, std::string _address) {
    return open(_type, _io_context, _logger, _address, &asio_socket::connect, "connect");
}

socket::ptr socket_impl::bind(type _type, boost::asio::io_context& _io_context,
                              const component_logger& _logger, std::string _address) {
    return open(_type, _io_context, _logger, _address, &asio_socket::bind, "bind");
}

socket::ptr socket_impl::open(type _type, boost::asio::io_context& _io_context,
                              const component_logger& _logger, const std::string& _address,
                              open_function _open, const char* _verb) {
    asio_socket socket(_io_context, enum_to_constant(_type));
    boost::system::error_code ec;
    (socket.*_open)(_address, ec);
    if (ec) {
        TVK_THROW(std::string("zmq::socket_impl::") + _verb + " to " + _address + ": " +
                  ec.message());
    }
    return std::make_unique<socket_impl>(_io_context, _logger, std::move(socket));
}

socket_impl::socket_impl(boost::asio::io_context& /*_io_context*/, const component_logger& _logger,
                         asio_socket _socket)
    : m_socket(std::move(_socket)), m_logger(_logger), m_data(std::make_shared<shared_data>()) {}

socket_impl::~socket_impl() {
    m_data->m_socket_alive = false;
    boost::system::error_code ec;
    m_socket.cancel(ec);
    if (ec) {
        m_logger.log_error(ec, TVK_SOURCE_LOCATION);
    }
    m_data.reset();
}

void socket_impl::set_receive_callback(callback _callback) {
    if (socket_loop::store_callback(m_data->m_receive_callback, std::move(_callback))) {
        setup_receive();
    }
}

void socket_impl::send(message _message) {
    send(std::move(_message), flags::none);
}

void socket_impl::send(message _message, flags _flags) {
    boost::system::error_code ec;
    m_socket.send(_message, static_cast<int>(_flags), ec);
    throw_on_error(ec, "zmq::socket_impl::send");
}

bool socket_impl::try_send(message _message) {
    return try_send(std::move(_message), flags::none);
}

bool socket_impl::try_send(message _message, flags _flags) {
    boost::system::error_code ec;
    const bool sent = m_socket.try_send(_message, static_cast<int>(_flags), ec);
    throw_on_error(ec, "zmq::socket_impl::try_send");
    return sent;
}

message socket_impl::receive_more() {
    message part;
    boost::system::error_code ec;
    m_socket.receive(part, 0, ec);
    throw_on_error(ec, "zmq::socket_impl::receive_more");
    return part;
}

void socket_impl::setup_receive() {
    m_socket.async_receive(
        [data = m_data, this](const boost::system::error_code& _ec, message _part) {
            // Any failure, cancellation included, ends receiving without a word.
            if (!data->m_socket_alive || _ec) {
                return;
            }
            const auto rearm =
                socket_loop::rearm_while_alive(data->m_socket_alive, [this] { setup_receive(); });
            socket_loop::call(data->m_receive_callback, _part);
        });
}

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
