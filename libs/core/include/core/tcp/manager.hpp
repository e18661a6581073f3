#pragma once

#include <boost/utility/string_view.hpp>

#include "core/ip_protocol.hpp"
#include "core/tcp/acceptor.hpp"
#include "core/tcp/socket.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace tcp {

// Opens the TCP connections and acceptors of one events loop. Addresses are numeric IPv4 or
// IPv6 addresses (a host name raises boost::system::system_error); a port outside 0 to 65535
// raises tvk::libs::core::exception.
class manager {
public:
    virtual ~manager() = default;

    // Connects, blocking the calling thread; raises boost::system::system_error on failure.
    virtual socket::ptr connect(boost::string_view _address, int _port) = 0;
    // Listens on the wildcard address of the family (SO_REUSEADDR); raises
    // boost::system::system_error when the port cannot be bound.
    virtual acceptor::ptr listen(ip_protocol _protocol, int _port) = 0;
    virtual acceptor::ptr listen(boost::string_view _address, int _port) = 0;
};

}  // namespace tcp
}  // namespace core
}  // namespace libs
}  // namespace tvk
