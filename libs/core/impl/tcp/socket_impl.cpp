#include "tcp/socket_impl.hpp"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>
#include <string>
#include <utility>

#include "ip_endpoint.hpp"
#include "socket_loop.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace tcp {

namespace {

constexpr std::size_t receive_buffer_size = 65536;

// The slot of an optional callback: an empty callback means none, so the slot is left empty.
template <class Callback>
std::shared_ptr<Callback> optional_callback(Callback _callback) {
    return _callback ? std::make_shared<Callback>(std::move(_callback)) : nullptr;
}

}  // namespace

socket::ptr socket_impl::connect(boost::asio::io_context& _io_context,
                                 const component_logger& _logger, boost::string_view _address,
                                 unsigned short _port) {
    const endpoint peer(parse_address(_address), _port);
    boost::asio::ip::tcp::socket socket(_io_context);
    boost::system::error_code ec;
    socket.connect(peer, ec);
    if (ec) {
        throw boost::system::system_error(
            ec, "tcp connect to " + std::string(_address) + " port " + std::to_string(_port));
    }
    return std::make_unique<socket_impl>(_io_context, _logger, std::move(socket));
}

socket_impl::socket_impl(boost::asio::io_context& /*_io_context*/, const component_logger& _logger,
                         boost::asio::ip::tcp::socket _socket)
    : m_socket(std::move(_socket)), m_logger(_logger), m_data(std::make_shared<shared_data>()) {
    m_data->m_buffer.resize(receive_buffer_size);
    m_socket.non_blocking(true);
}

socket_impl::~socket_impl() {
    m_data->m_socket_alive = false;
    m_data.reset();
    // Closing cancels the pending operations; their completions find the socket gone.
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

void socket_impl::set_close_callback(close_callback _callback) {
    m_data->m_close_callback = optional_callback(std::move(_callback));
}

void socket_impl::set_receive_callback(receive_callback _callback) {
    if (socket_loop::store_callback(m_data->m_receive_callback, std::move(_callback))) {
        setup_receive();
    }
}

socket::endpoint socket_impl::get_remote_endpoint() const {
    return m_socket.remote_endpoint();
}

void socket_impl::set_can_send_callback(can_send_callback _callback) {
    m_data->m_can_send_callback = optional_callback(std::move(_callback));
}

void socket_impl::notify_that_send_is_possible() {
    if (m_data->m_waiting_in_progress) {
        return;
    }
    m_socket.async_wait(boost::asio::ip::tcp::socket::wait_write,
                        [data = m_data](const boost::system::error_code& _ec) {
                            if (!data->m_socket_alive) {
                                return;
                            }
                            data->m_waiting_in_progress = false;
                            if (_ec) {
                                throw boost::system::system_error(
                                    _ec, "tcp::socket_impl: waiting for writability");
                            }
                            socket_loop::call(data->m_can_send_callback);
                        });
    m_data->m_waiting_in_progress = true;
}

std::size_t socket_impl::send_some(boost::string_view _message) {
    boost::system::error_code ec;
    // Asio sends with MSG_NOSIGNAL: a peer that has gone gives EPIPE here, not SIGPIPE.
    const std::size_t sent =
        m_socket.send(boost::asio::buffer(_message.data(), _message.size()), 0, ec);
    if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
        return 0;
    }
    if (ec) {
        throw boost::system::system_error(ec, "tcp::socket_impl::send_some");
    }
    return sent;
}

void socket_impl::setup_receive() {
    m_socket.async_read_some(
        boost::asio::buffer(m_data->m_buffer),
        [data = m_data, this](const boost::system::error_code& _ec, std::size_t _size) {
            if (!data->m_socket_alive) {
                return;
            }
            if (_ec == boost::asio::error::eof) {
                socket_loop::call(data->m_close_callback);
                return;
            }
            if (_ec) {
                socket_loop::log_failure(m_logger, _ec, TVK_SOURCE_LOCATION);
                return;
            }
            const auto rearm =
                socket_loop::rearm_while_alive(data->m_socket_alive, [this] { setup_receive(); });
            socket_loop::call(data->m_receive_callback,
                              boost::string_view(data->m_buffer.data(), _size));
        });
}

}  // namespace tcp
}  // namespace core
}  // namespace libs
}  // namespace tvk
