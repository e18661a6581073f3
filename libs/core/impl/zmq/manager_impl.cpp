#include "zmq/manager_impl.hpp"

#include <utility>

#include "zmq/socket_impl.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

manager_impl::manager_impl(boost::asio::io_context& _io_context, const component_logger& _logger)
    : m_io_context(_io_context), m_logger(_logger) {}

socket::ptr manager_impl::connect(socket::type _type, std::string _address) {
    return socket_impl::connect(_type, m_io_context, m_logger, std::move(_address));
}

socket::ptr manager_impl::bind(socket::type _type, std::string _address) {
    return socket_impl::bind(_type, m_io_context, m_logger, std::move(_address));
}

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
