#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/utility/string_view.hpp>
#include <cstddef>
#include <functional>
#include <memory>

namespace tvk {
namespace libs {
namespace core {
namespace tcp {

// A connected TCP socket on an events loop; all calls belong on the loop's thread. Callbacks
// may destroy the socket; none runs after it is destroyed.
class socket {
public:
    using ptr = std::unique_ptr<socket>;
    // Gets the bytes received, valid during the call only.
    using receive_callback = std::function<void(boost::string_view)>;
    using close_callback = std::function<void()>;
    using can_send_callback = std::function<void()>;
    using endpoint = boost::asio::ip::tcp::endpoint;

    virtual ~socket() = default;

    // Called once when the peer closes the connection in order; not on a reset (which is
    // logged) nor on destruction. An empty callback means none.
    virtual void set_close_callback(close_callback _callback) = 0;
    // The first call starts receiving; later calls only replace the callback.
    virtual void set_receive_callback(receive_callback _callback) = 0;
    // Raises boost::system::system_error when the socket is no longer connected.
    virtual endpoint get_remote_endpoint() const = 0;
    // An empty callback means none.
    virtual void set_can_send_callback(can_send_callback _callback) = 0;
    // Calls the can-send callback once the socket is writable; while a wait is in progress a
    // further call does nothing.
    virtual void notify_that_send_is_possible() = 0;
    // Writes what the socket takes now, without waiting, and returns its length (0 when the
    // socket is full). The caller keeps the rest. Raises boost::system::system_error on other
    // failures, a peer that has gone among them.
    virtual std::size_t send_some(boost::string_view _message) = 0;
};

}  // namespace tcp
}  // namespace core
}  // namespace libs
}  // namespace tvk
