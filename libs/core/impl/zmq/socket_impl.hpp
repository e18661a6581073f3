#pragma once

#include <boost/asio/io_context.hpp>
#include <memory>
#include <string>

#include "core/logger.hpp"
#include "core/zmq/asio_socket.hpp"
#include "core/zmq/socket.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

class socket_impl : public socket {
public:
    // The libzmq socket type of _type; -1, which libzmq refuses, for a value outside the enum.
    static int enum_to_constant(type _type);

    static socket::ptr connect(type _type, boost::asio::io_context& _io_context,
                               const component_logger& _logger, std::string _address);
    static socket::ptr bind(type _type, boost::asio::io_context& _io_context,
                            const component_logger& _logger, std::string _address);

    socket_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                asio_socket _socket);
    ~socket_impl() override;

    socket_impl(const socket_impl&) = delete;
    socket_impl& operator=(const socket_impl&) = delete;

    void set_receive_callback(callback _callback) override;
    void send(message _message) override;
    void send(message _message, flags _flags) override;
    bool try_send(message _message) override;
    bool try_send(message _message, flags _flags) override;
    message receive_more() override;

private:
    using open_function = void (asio_socket::*)(const std::string&, boost::system::error_code&);

    // A socket of _type connected or bound (_open) to _address; raises naming _verb.
    static socket::ptr open(type _type, boost::asio::io_context& _io_context,
                            const component_logger& _logger, const std::string& _address,
                            open_function _open, const char* _verb);

    // What the pending receive's handler shares with the socket.
    struct shared_data {
        bool m_socket_alive = true;
        // Held by the handler for the call, so a callback may replace itself or destroy the
        // socket while it runs.
        std::shared_ptr<callback> m_receive_callback;
    };

    void setup_receive();

    asio_socket m_socket;
    const component_logger& m_logger;
    std::shared_ptr<shared_data> m_data;
};

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
