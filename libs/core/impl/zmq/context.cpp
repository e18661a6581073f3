#include "core/zmq/context.hpp"

#include <zmq.h>

#include <boost/system/system_error.hpp>
#include <cerrno>
#include <mutex>

#include "core/zmq/error.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

void context_deleter::operator()(void* _context) const noexcept {
    while (zmq_ctx_term(_context) != 0 && zmq_errno() == EINTR) {
    }
}

context::context() : m_handle(zmq_ctx_new()) {
    if (!m_handle) {
        throw boost::system::system_error(last_error(), "zmq_ctx_new");
    }
}

context::ptr context::shared() {
    static std::mutex mutex;
    static std::weak_ptr<context> current;
    std::lock_guard<std::mutex> lock(mutex);
    ptr result = current.lock();
    if (!result) {
        result = ptr(new context());
        current = result;
    }
    return result;
}

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
