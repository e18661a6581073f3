#include "tcp/acceptor_impl.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/socket_base.hpp>
#include <utility>

#include "ip_endpoint.hpp"
#include "socket_loop.hpp"
#include "tcp/socket_impl.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace tcp {

acceptor_impl::acceptor_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                             boost::string_view _address, unsigned short _port)
    : acceptor_impl(_io_context, _logger,
                    boost::asio::ip::tcp::endpoint(parse_address(_address), _port)) {}

acceptor_impl::acceptor_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                             ip_protocol _protocol, unsigned short _port)
    : acceptor_impl(_io_context, _logger,
                    boost::asio::ip::tcp::endpoint(wildcard_address(_protocol), _port)) {}

acceptor_impl::acceptor_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                             boost::asio::ip::tcp::endpoint _endpoint)
    : m_io_context(_io_context)
    , m_logger(_logger)
    , m_acceptor(_io_context)
    , m_data(std::make_shared<shared_data>()) {
    m_acceptor.open(_endpoint.protocol());
    m_acceptor.set_option(boost::asio::socket_base::reuse_address(true));
    m_acceptor.bind(_endpoint);
    m_acceptor.listen(boost::asio::socket_base::max_listen_connections);
}

acceptor_impl::~acceptor_impl() {
    m_data->m_acceptor_alive = false;
    m_data.reset();
    boost::system::error_code ignored;
    m_acceptor.close(ignored);
}

void acceptor_impl::set_callback(callback _callback) {
    if (socket_loop::store_callback(m_data->m_callback, std::move(_callback))) {
        setup_accept();
    }
}

void acceptor_impl::setup_accept() {
    m_acceptor.async_accept([data = m_data, this](const boost::system::error_code& _ec,
                                                  boost::asio::ip::tcp::socket _peer) {
        if (!data->m_acceptor_alive) {
            return;
        }
        if (_ec) {
            socket_loop::log_failure(m_logger, _ec, TVK_SOURCE_LOCATION);
            return;
        }
        const auto rearm =
            socket_loop::rearm_while_alive(data->m_acceptor_alive, [this] { setup_accept(); });
        socket_loop::call(data->m_callback,
                          std::make_unique<socket_impl>(m_io_context, m_logger, std::move(_peer)));
    });
}

}  // namespace tcp
}  // namespace core
}  // namespace libs
}  // namespace tvk
