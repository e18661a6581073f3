#pragma once

#include <boost/asio/ip/address.hpp>
#include <boost/utility/string_view.hpp>

#include "core/ip_protocol.hpp"

namespace tvk {
namespace libs {
namespace core {

// Whether _port is a port number, 0 to 65535. Connections that take an int port check it
// first: the resolver would take it modulo 65536 and reach another port.
bool is_port(int _port);

// _port as a port number; raises tvk::libs::core::exception naming it when it is outside
// 0 to 65535.
unsigned short checked_port(int _port);

// The numeric IPv4 or IPv6 address _address; a host name is not resolved. Raises
// boost::system::system_error naming the text when it is not an address.
boost::asio::ip::address parse_address(boost::string_view _address);

// The wildcard address of the family; raises tvk::libs::core::exception for a value outside
// the enum.
boost::asio::ip::address wildcard_address(ip_protocol _protocol);

}  // namespace core
}  // namespace libs
}  // namespace tvk
