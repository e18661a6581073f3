#pragma once

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/utility/string_view.hpp>
#include <functional>
#include <memory>

namespace tvk {
namespace libs {
namespace core {
namespace udp {

using endpoint = boost::asio::ip::udp::endpoint;

// A bound UDP socket on an events loop; all calls belong on the loop's thread. Made by the
// events loop's create_udp_socket.
class socket {
public:
    using ptr = std::unique_ptr<socket>;
    // Gets the sender (in the socket's own family: an IPv4 sender reaches an IPv6 socket as
    // ::ffff:a.b.c.d), the local IPv4 address at which the datagram arrived (0.0.0.0 when it
    // is not known, as for IPv6 datagrams) and the datagram, valid during the call only.
    using callback =
        std::function<void(const endpoint& _sender, const boost::asio::ip::address_v4& _local,
                           const boost::string_view& _data)>;

    virtual ~socket() = default;

    // The first call starts receiving; later calls only replace the callback. A failed read
    // is logged and receiving goes on. The callback may destroy the socket.
    virtual void set_receive_callback(callback _callback) = 0;
    // Sends one datagram, waiting until the system takes it; raises
    // boost::system::system_error on failure.
    virtual void send_to(const endpoint& _destination, const boost::string_view& _message) = 0;
    virtual void send_to(const boost::string_view& _address, int _port,
                         const boost::string_view& _message) = 0;
    // The numeric address and the port; raises boost::system::system_error for a host name
    // and tvk::libs::core::exception for a port outside 0 to 65535.
    virtual endpoint make_endpoint(const boost::string_view& _address, int _port) const = 0;
};

}  // namespace udp
}  // namespace core
}  // namespace libs
}  // namespace tvk
