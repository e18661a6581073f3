#pragma once

#include <boost/asio/error.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <utility>

#include "core/exception.hpp"
#include "core/logger.hpp"
#include "core/scope_guard.hpp"
#include "core/source_location.hpp"

// The pieces that the receive and accept loops of the sockets share. Each loop keeps one
// operation outstanding; its handler holds the socket's shared data and finds there whether
// the socket still exists.
namespace tvk {
namespace libs {
namespace core {
namespace socket_loop {

// Stores _callback in _slot; true when it is the first, which starts the loop. An empty
// callback raises check_failed_exception.
template <class Callback>
bool store_callback(std::shared_ptr<Callback>& _slot, Callback _callback) {
    TVK_CHECK(_callback);
    const bool first = !_slot;
    _slot = std::make_shared<Callback>(std::move(_callback));
    return first;
}

// Calls the callback in _slot, if there is one. It is held for the call, so it may replace
// itself or destroy the socket that holds it.
template <class Callback, class... Args>
void call(const std::shared_ptr<Callback>& _slot, Args&&... _args) {
    if (const std::shared_ptr<Callback> callback = _slot) {
        (*callback)(std::forward<Args>(_args)...);
    }
}

// Runs _rearm when the handler that holds the guard is left, by a return or an exception,
// unless the socket was destroyed meanwhile (_alive turned false).
template <class Rearm>
scope_guard rearm_while_alive(const bool& _alive, Rearm _rearm) {
    return execute_on_scope_exit([&_alive, rearm = std::move(_rearm)] {
        if (_alive) {
            rearm();
        }
    });
}

// Logs the failure that ends a loop; cancellation, which destruction causes, is silent.
inline void log_failure(const component_logger& _logger, const boost::system::error_code& _ec,
                        source_location _location) {
    if (_ec != boost::asio::error::operation_aborted) {
        _logger.log_error(_ec, _location);
    }
}

}  // namespace socket_loop
}  // namespace core
}  // namespace libs
}  // namespace tvk
