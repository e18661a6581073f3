#include "ip_endpoint.hpp"

#include <boost/system/system_error.hpp>
#include <limits>
#include <string>

#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {

bool is_port(int _port) {
    return _port >= 0 && _port <= std::numeric_limits<unsigned short>::max();
}

unsigned short checked_port(int _port) {
    if (!is_port(_port)) {
        TVK_THROW("Port " + std::to_string(_port) + " is outside 0..65535");
    }
    return static_cast<unsigned short>(_port);
}

boost::asio::ip::address parse_address(boost::string_view _address) {
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address(std::string(_address), ec);
    if (ec) {
        throw boost::system::system_error(
            ec, "Not a numeric IP address: \"" + std::string(_address) + "\"");
    }
    return address;
}

boost::asio::ip::address wildcard_address(ip_protocol _protocol) {
    switch (_protocol) {
        case ip_protocol::v4:
            return boost::asio::ip::address_v4::any();
        case ip_protocol::v6:
            return boost::asio::ip::address_v6::any();
    }
    TVK_THROW("Unknown ip_protocol " + std::to_string(static_cast<int>(_protocol)));
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
