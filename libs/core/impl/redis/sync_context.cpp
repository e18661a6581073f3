#include "redis/sync_context.hpp"

#include <string>

#include "core/exception.hpp"
#include "core/redis/reader.hpp"
#include "ip_endpoint.hpp"
#include "redis/sigpipe_suppressor.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

namespace {

const timeval connect_timeout{1, 500000};
// The connect time-out does not cover the commands: without one of their own, a server that
// takes the connection and never answers (frozen, cut off) would hold the caller for good.
const timeval command_timeout{5, 0};

int connectable_port(int _port) {
    if (!is_port(_port)) {
        TVK_THROW("Connection error: port " + std::to_string(_port) + " is outside 0..65535");
    }
    return _port;
}

}  // namespace

sync_context::sync_context(events_loop& _events_loop, const component_logger& _logger,
                           boost::string_view _ip, int _port, int _db)
    : m_events_loop(_events_loop)
    , m_logger(_logger)
    , m_context_ptr(redisConnectWithTimeout(_ip.to_string().c_str(), connectable_port(_port),
                                            connect_timeout)) {
    if (!m_context_ptr || m_context_ptr->err != 0 ||
        redisSetTimeout(m_context_ptr.get(), command_timeout) != REDIS_OK) {
        TVK_THROW(std::string("Connection error: ") +
                  (m_context_ptr ? m_context_ptr->errstr : "can't allocate redis context"));
    }
    limit_array_replies(*m_context_ptr->reader);
    std::string db = std::to_string(_db);
    std::vector<const char*> argv{"SELECT", db.c_str()};
    std::vector<std::size_t> argv_len{6, db.size()};
    run_command(argv, argv_len);
}

reply sync_context::run_command(std::vector<const char*>& _argv,
                                std::vector<std::size_t>& _argv_len) {
    TVK_CHECK(!_argv.empty() && _argv.size() == _argv_len.size());
    redisReply* raw = nullptr;
    {
        const sigpipe_suppressor no_sigpipe;
        raw = static_cast<redisReply*>(redisCommandArgv(
            m_context_ptr.get(), static_cast<int>(_argv.size()), _argv.data(), _argv_len.data()));
    }
    const std::string name(_argv[0], _argv_len[0]);
    if (raw == nullptr) {
        TVK_THROW("Command: " + name + ", connection error: " + m_context_ptr->errstr);
    }
    reply result(raw);
    if (result.get_type() == reply_type::ERROR) {
        TVK_THROW("Command: " + name + ", error: " + result.to_string());
    }
    return result;
}

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
