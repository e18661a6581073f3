#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <string>
#include <vector>

#include "core/ip_protocol.hpp"
#include "core/logger.hpp"
#include "core/udp/socket.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace udp {

class socket_impl : public socket {
public:
    // Binds to the wildcard address of _protocol.
    socket_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                ip_protocol _protocol, int _port);
    // Binds to the numeric _address.
    socket_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                const std::string& _address, int _port);
    // Binds to _endpoint (raises boost::system::system_error) and asks for the local address
    // of each IPv4 datagram.
    socket_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                const endpoint& _endpoint);
    ~socket_impl() override;

    socket_impl(const socket_impl&) = delete;
    socket_impl& operator=(const socket_impl&) = delete;

    void set_receive_callback(callback _callback) override;
    void send_to(const endpoint& _destination, const boost::string_view& _message) override;
    void send_to(const boost::string_view& _address, int _port,
                 const boost::string_view& _message) override;
    endpoint make_endpoint(const boost::string_view& _address, int _port) const override;

private:
    // What the pending wait's handler shares with the socket. The callback is held for each
    // call, so it may replace itself or destroy the socket while it runs.
    struct shared_data {
        std::vector<char> m_buffer;
        bool m_socket_alive = true;
        std::shared_ptr<callback> m_callback;
    };

    void setup_receive();
    // Reads the datagram that readiness announced and hands it to the callback.
    void receive(shared_data& _data);

    boost::asio::ip::udp::socket m_socket;
    const component_logger& m_logger;
    std::shared_ptr<shared_data> m_data;
};

}  // namespace udp
}  // namespace core
}  // namespace libs
}  // namespace tvk
