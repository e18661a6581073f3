#pragma once

#include <functional>
#include <memory>

#include "core/zmq/message.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

// Send flags, handed to ZeroMQ unchanged.
enum class flags : int {
    none = 0,
    sndmore = 2,  // ZMQ_SNDMORE: more parts of the message follow
};

// A connected or bound ZeroMQ socket on an events loop. Made by zmq::manager; all calls belong
// on the loop's thread.
class socket {
public:
    enum class type : int {
        push = 0,
        pull = 1,
        pub = 2,
        req = 3,
        rep = 4,
    };

    using ptr = std::unique_ptr<socket>;
    // Gets one received part, valid during the call only.
    using callback = std::function<void(message&)>;

    virtual ~socket() = default;

    // The first call starts receiving, one part at a time; later calls only replace the
    // callback. Receiving ends silently when a receive fails. The callback may destroy the
    // socket.
    virtual void set_receive_callback(callback _callback) = 0;
    // Wait until ZeroMQ takes the part; raise boost::system::system_error on failure.
    virtual void send(message _message) = 0;
    virtual void send(message _message, flags _flags) = 0;
    // Without waiting: false when ZeroMQ cannot take the part now (no peer, queue full);
    // other failures raise boost::system::system_error.
    virtual bool try_send(message _message) = 0;
    virtual bool try_send(message _message, flags _flags) = 0;
    // The next part of the message being received, waiting for it; for use inside the receive
    // callback while the part it got has more parts following. Raises
    // boost::system::system_error on failure.
    virtual message receive_more() = 0;
};

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
