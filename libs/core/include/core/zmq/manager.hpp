#pragma once

#include <string>

#include "core/zmq/socket.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

// Makes the ZeroMQ sockets of one events loop.
class manager {
public:
    virtual ~manager() = default;

    // Each raises tvk::libs::core::exception naming the address when ZeroMQ refuses it, and
    // boost::system::system_error when ZeroMQ cannot make a socket of that type.
    virtual socket::ptr connect(socket::type _type, std::string _address) = 0;
    virtual socket::ptr bind(socket::type _type, std::string _address) = 0;
};

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
