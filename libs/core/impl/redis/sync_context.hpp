#pragma once

#include <hiredis/hiredis.h>

#include <boost/utility/string_view.hpp>
#include <cstddef>
#include <memory>
#include <vector>

#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/redis/reply.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

// The blocking hiredis connection; one thread at a time.
class sync_context {
public:
    // Connects (time-out 1.5 s) and selects database _db, or raises ("Connection error: ", also
    // for a port outside 0..65535). Each command then waits 5 s at most for the server.
    sync_context(events_loop& _events_loop, const component_logger& _logger, boost::string_view _ip,
                 int _port, int _db);

    // Sends one command (binary-safe) and waits for its reply. Raises "Command: <name>, error:
    // <text>" for an error reply, and "Command: <name>, connection error: <text>" when no
    // reply comes: the connection is lost or the time-out passed (the connection is then dead:
    // every later command raises too). A closed connection raises no SIGPIPE.
    reply run_command(std::vector<const char*>& _argv, std::vector<std::size_t>& _argv_len);

private:
    struct context_deleter {
        void operator()(redisContext* _context) const { redisFree(_context); }
    };

    // Kept with the context; unused so far.
    [[maybe_unused]] events_loop& m_events_loop;
    [[maybe_unused]] const component_logger& m_logger;
    std::unique_ptr<redisContext, context_deleter> m_context_ptr;
};

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
