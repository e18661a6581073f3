#pragma once

#include <memory>
#include <string>

#include "core/async_operation_handle.hpp"
#include "core/redis/reply.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

// One Redis command: a name and arguments, sent blocking or asynchronously, as often as
// wanted. It must not outlive the context that made it.
class command {
public:
    using ptr = std::unique_ptr<command>;

    virtual ~command() = default;

    // Appends one argument (any bytes); returns the command, so that calls chain.
    virtual command& add_argument(std::string _argument) = 0;
    // Sends the command on the blocking connection and waits for the reply, 5 s at most. Raises
    // "Command: <name>, error: <text>" for an error reply, and "Command: <name>, connection
    // error: <text>" when the connection is lost or the time-out passes, "Command: <name>,
    // error" once the context is gone. Never raises SIGPIPE.
    virtual reply execute() = 0;
    // Sends the command on the asynchronous connection; the handle delivers the reply of any
    // type on the events loop, a lost connection as a NIL reply. Restarting the handle sends
    // the command again. Raises "Command: <name>, error" when the connection refuses it at once
    // (it has been closed, or a restart comes after the context is gone), and for SUBSCRIBE,
    // PSUBSCRIBE, SSUBSCRIBE and MONITOR, whose answers never end. Never raises SIGPIPE. Call
    // it on the loop's thread.
    virtual async_operation_handle<reply>::ptr execute_async() = 0;
};

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
