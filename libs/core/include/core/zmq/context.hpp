#pragma once

#include <memory>

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

// Terminates a libzmq context, retrying when a signal interrupts the wait.
struct context_deleter {
    void operator()(void* _context) const noexcept;
};

// The libzmq context of the process's sockets. Every socket holds it, so it is terminated
// only after the last socket has been closed.
class context {
public:
    using ptr = std::shared_ptr<context>;

    // The process's context, made on first use and made anew when a later socket needs one
    // after every earlier holder has gone. Thread-safe.
    static ptr shared();

    void* handle() const noexcept { return m_handle.get(); }

private:
    context();

    std::unique_ptr<void, context_deleter> m_handle;
};

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
