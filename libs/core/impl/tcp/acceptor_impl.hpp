#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/utility/string_view.hpp>
#include <memory>

#include "core/ip_protocol.hpp"
#include "core/logger.hpp"
#include "core/tcp/acceptor.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace tcp {

class acceptor_impl : public acceptor {
public:
    // Listens on the numeric _address; raises boost::system::system_error.
    acceptor_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                  boost::string_view _address, unsigned short _port);
    // Listens on the wildcard address of _protocol.
    acceptor_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                  ip_protocol _protocol, unsigned short _port);
    // Opens, sets SO_REUSEADDR, binds and listens with the system's maximum backlog.
    acceptor_impl(boost::asio::io_context& _io_context, const component_logger& _logger,
                  boost::asio::ip::tcp::endpoint _endpoint);
    ~acceptor_impl() override;

    acceptor_impl(const acceptor_impl&) = delete;
    acceptor_impl& operator=(const acceptor_impl&) = delete;

    void set_callback(callback _callback) override;

private:
    // What the pending accept's handler shares with the acceptor. The callback is held for
    // each call, so it may replace itself or destroy the acceptor while it runs.
    struct shared_data {
        bool m_acceptor_alive = true;
        std::shared_ptr<callback> m_callback;
    };

    void setup_accept();

    boost::asio::io_context& m_io_context;
    const component_logger& m_logger;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::shared_ptr<shared_data> m_data;
};

}  // namespace tcp
}  // namespace core
}  // namespace libs
}  // namespace tvk
