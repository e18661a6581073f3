#include "tcp/manager_impl.hpp"

#include "ip_endpoint.hpp"
#include "tcp/acceptor_impl.hpp"
#include "tcp/socket_impl.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace tcp {

manager_impl::manager_impl(boost::asio::io_context& _io_context, const component_logger& _logger)
    : m_io_context(_io_context), m_logger(_logger) {}

socket::ptr manager_impl::connect(boost::string_view _address, int _port) {
    return socket_impl::connect(m_io_context, m_logger, _address, checked_port(_port));
}

acceptor::ptr manager_impl::listen(ip_protocol _protocol, int _port) {
    return std::make_unique<acceptor_impl>(m_io_context, m_logger, _protocol, checked_port(_port));
}

acceptor::ptr manager_impl::listen(boost::string_view _address, int _port) {
    return std::make_unique<acceptor_impl>(m_io_context, m_logger, _address, checked_port(_port));
}

}  // namespace tcp
}  // namespace core
}  // namespace libs
}  // namespace tvk
