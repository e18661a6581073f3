#include "udp/socket_impl.hpp"

#include <netinet/in.h>
#include <sys/socket.h>

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <cstring>
#include <utility>

#include "ip_endpoint.hpp"
#include "socket_loop.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace udp {

namespace {

constexpr std::size_t receive_buffer_size = 65536;

// The local address of the IPv4 packet information among the control messages of _message;
// 0.0.0.0 when there is none.
boost::asio::ip::address_v4 local_address(msghdr& _message) {
    for (cmsghdr* control = CMSG_FIRSTHDR(&_message); control != nullptr;
         control = CMSG_NXTHDR(&_message, control)) {
        if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(control), sizeof(info));
            return boost::asio::ip::address_v4(ntohl(info.ipi_spec_dst.s_addr));
        }
    }
    return boost::asio::ip::address_v4::any();
}

}  // namespace

socket_impl::socket_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                         ip_protocol _protocol, int _port)
    : socket_impl(_io_context, _logger,
                  endpoint(wildcard_address(_protocol), checked_port(_port))) {}

socket_impl::socket_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                         const std::string& _address, int _port)
    : socket_impl(_io_context, _logger, endpoint(parse_address(_address), checked_port(_port))) {}

socket_impl::socket_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                         const endpoint& _endpoint)
    : m_socket(_io_context, _endpoint.protocol())
    , m_logger(_logger)
    , m_data(std::make_shared<shared_data>()) {
    m_socket.bind(_endpoint);
    m_data->m_buffer.resize(receive_buffer_size);
    // An IPv6 socket takes it too and reports the IPv4 datagrams it receives; where it fails
    // the local address is simply 0.0.0.0.
    const int on = 1;
    ::setsockopt(m_socket.native_handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
}

socket_impl::~socket_impl() {
    m_data->m_socket_alive = false;
    m_data.reset();
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

void socket_impl::set_receive_callback(callback _callback) {
    if (socket_loop::store_callback(m_data->m_callback, std::move(_callback))) {
        setup_receive();
    }
}

void socket_impl::send_to(const endpoint& _destination, const boost::string_view& _message) {
    m_socket.send_to(boost::asio::buffer(_message.data(), _message.size()), _destination);
}

void socket_impl::send_to(const boost::string_view& _address, int _port,
                          const boost::string_view& _message) {
    send_to(make_endpoint(_address, _port), _message);
}

endpoint socket_impl::make_endpoint(const boost::string_view& _address, int _port) const {
    return endpoint(parse_address(_address), checked_port(_port));
}

void socket_impl::setup_receive() {
    m_socket.async_wait(boost::asio::ip::udp::socket::wait_read,
                        [data = m_data, this](const boost::system::error_code& _ec) {
                            if (!data->m_socket_alive) {
                                return;
                            }
                            if (_ec) {
                                socket_loop::log_failure(m_logger, _ec, TVK_SOURCE_LOCATION);
                                return;
                            }
                            const auto rearm = socket_loop::rearm_while_alive(
                                data->m_socket_alive, [this] { setup_receive(); });
                            receive(*data);
                        });
}

void socket_impl::receive(shared_data& _data) {
    endpoint sender;
    iovec data{_data.m_buffer.data(), _data.m_buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    // The sender comes in the socket's own family: IPv4, or IPv6 for an IPv6 socket.
    message.msg_name = sender.data();
    message.msg_namelen = static_cast<socklen_t>(sender.capacity());
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);

    ssize_t size = 0;
    int error = 0;
    do {
        // Not waiting: readiness may be spurious, and the loop must never block here.
        size = ::recvmsg(m_socket.native_handle(), &message, MSG_DONTWAIT);
        error = size < 0 ? errno : 0;
    } while (error == EINTR);
    if (size < 0) {
        // A failed read (say, an ICMP error reported on the socket) is no datagram.
        if (error != EAGAIN && error != EWOULDBLOCK) {
            m_logger.log_error(boost::system::error_code(error, boost::system::system_category()),
                               TVK_SOURCE_LOCATION);
        }
        return;
    }
    sender.resize(message.msg_namelen);
    socket_loop::call(_data.m_callback, sender, local_address(message),
                      boost::string_view(_data.m_buffer.data(), static_cast<std::size_t>(size)));
}

}  // namespace udp
}  // namespace core
}  // namespace libs
}  // namespace tvk
