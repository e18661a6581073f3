#pragma once

#include <functional>
#include <memory>

#include "core/tcp/socket.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace tcp {

// A listening TCP socket on an events loop that hands each accepted connection to a callback.
class acceptor {
public:
    using ptr = std::unique_ptr<acceptor>;
    using callback = std::function<void(std::unique_ptr<tcp::socket>)>;

    virtual ~acceptor() = default;

    // The first call starts accepting; later calls only replace the callback. A callback that
    // throws does not stop accepting; it may destroy the acceptor.
    virtual void set_callback(callback _callback) = 0;
};

}  // namespace tcp
}  // namespace core
}  // namespace libs
}  // namespace tvk
