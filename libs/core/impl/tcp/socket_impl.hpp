#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <memory>
#include <vector>

#include "core/logger.hpp"
#include "core/tcp/socket.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace tcp {

class socket_impl : public socket {
public:
    // Connects to the numeric _address, blocking; raises boost::system::system_error.
    static socket::ptr connect(boost::asio::io_context& _io_context,
                               const component_logger& _logger, boost::string_view _address,
                               unsigned short _port);

    // Takes over a connected socket and makes it non-blocking.
    socket_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                boost::asio::ip::tcp::socket _socket);
    ~socket_impl() override;

    socket_impl(const socket_impl&) = delete;
    socket_impl& operator=(const socket_impl&) = delete;

    void set_close_callback(close_callback _callback) override;
    void set_receive_callback(receive_callback _callback) override;
    endpoint get_remote_endpoint() const override;
    void set_can_send_callback(can_send_callback _callback) override;
    void notify_that_send_is_possible() override;
    std::size_t send_some(boost::string_view _message) override;

private:
    // What the pending handlers share with the socket; they hold it, so the buffer outlives a
    // read that completes after the socket has gone. The callbacks are held for each call, so
    // a callback may replace itself or destroy the socket while it runs.
    struct shared_data {
        std::vector<char> m_buffer;
        bool m_socket_alive = true;
        bool m_waiting_in_progress = false;
        std::shared_ptr<receive_callback> m_receive_callback;
        std::shared_ptr<close_callback> m_close_callback;
        std::shared_ptr<can_send_callback> m_can_send_callback;
    };

    void setup_receive();

    boost::asio::ip::tcp::socket m_socket;
    const component_logger& m_logger;
    std::shared_ptr<shared_data> m_data;
};

}  // namespace tcp
}  // namespace core
}  // namespace libs
}  // namespace tvk
