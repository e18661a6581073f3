#include "redis/sigpipe_suppressor.hpp"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace tvk {
namespace libs {
namespace core {
namespace redis {

sigpipe_suppressor::sigpipe_suppressor() {
    sigemptyset(&m_sigpipe);
    sigaddset(&m_sigpipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &m_sigpipe, &m_previous_mask);
    m_was_pending = is_pending();
}

sigpipe_suppressor::~sigpipe_suppressor() {
    const int saved_errno = errno;
    // One that was pending already is the caller's, not ours.
    if (!m_was_pending && is_pending()) {
        const timespec no_wait{0, 0};
        while (sigtimedwait(&m_sigpipe, nullptr, &no_wait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_previous_mask, nullptr);
    errno = saved_errno;
}

bool sigpipe_suppressor::is_pending() const {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
