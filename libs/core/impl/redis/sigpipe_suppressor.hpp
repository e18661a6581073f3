#pragma once

#include <signal.h>

namespace tvk {
namespace libs {
namespace core {
namespace redis {

// Keeps hiredis's writes, which use write(2), from raising SIGPIPE on a connection that the
// server has closed: the write fails with EPIPE instead. The process's disposition of the
// signal is not the library's to change, so SIGPIPE is blocked in the calling thread while the
// object lives, and one raised meanwhile is taken off again before the thread's mask is
// restored.
class sigpipe_suppressor {
public:
    sigpipe_suppressor();
    ~sigpipe_suppressor();

    sigpipe_suppressor(const sigpipe_suppressor&) = delete;
    sigpipe_suppressor& operator=(const sigpipe_suppressor&) = delete;

private:
    bool is_pending() const;

    sigset_t m_sigpipe{};
    sigset_t m_previous_mask{};
    bool m_was_pending = false;
};

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
