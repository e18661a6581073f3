#include "redis/async_context.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "core/async_operation_handle_impl.hpp"
#include "core/exception.hpp"
#include "core/redis/reader.hpp"
#include "ip_endpoint.hpp"
#include "redis/sigpipe_suppressor.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

namespace {

// What hiredis keeps for one queued command until its reply comes.
struct pending_command {
    async_context::callback m_callback;
    const component_logger& m_logger;
};

// Moves hiredis's reply, which hiredis frees when the reply function returns, into a reply of
// our own; a missing reply (the connection went away) becomes a NIL reply.
redisReply* take_reply(redisReply* _reply) {
    // calloc, because freeReplyObject frees with free.
    auto* taken = static_cast<redisReply*>(std::calloc(1, sizeof(redisReply)));
    if (taken == nullptr) {
        throw std::bad_alloc();
    }
    if (_reply == nullptr) {
        taken->type = REDIS_REPLY_NIL;
        return taken;
    }
    *taken = *_reply;
    _reply->str = nullptr;
    _reply->len = 0;
    _reply->element = nullptr;
    _reply->elements = 0;
    return taken;
}

void reply_function(redisAsyncContext* /*_context*/, void* _reply, void* _privdata) {
    std::unique_ptr<pending_command> pending(static_cast<pending_command*>(_privdata));
    // Nothing may unwind through hiredis.
    try {
        pending->m_logger.execute(
            [&] { pending->m_callback(reply(take_reply(static_cast<redisReply*>(_reply)))); });
    } catch (...) {
    }
}

std::string command_name(const std::vector<const char*>& _argv,
                         const std::vector<std::size_t>& _argv_len) {
    return _argv.empty() ? std::string() : std::string(_argv[0], _argv_len[0]);
}

// Whether hiredis (or the server) would answer _name more than once: hiredis keeps calling the
// reply function of a subscription or a monitor with the same private data, which one reply
// per command cannot serve. hiredis takes any name starting with "p" for a pattern variant.
bool is_subscribing(std::string _name) {
    std::transform(_name.begin(), _name.end(), _name.begin(),
                   [](unsigned char _c) { return static_cast<char>(std::tolower(_c)); });
    boost::string_view name(_name);
    if (name.starts_with('p')) {
        name.remove_prefix(1);
    }
    return name == "subscribe" || name == "ssubscribe" || name == "monitor";
}

int connectable_port(int _port) {
    if (!is_port(_port)) {
        TVK_THROW("Cannot open connection to the redis server: port " + std::to_string(_port) +
                  " is outside 0..65535");
    }
    return _port;
}

// A write that meets a connection the server has reset fails instead of raising SIGPIPE;
// hiredis then drops the connection, and the commands still waiting get a NIL reply.
void handle_write_without_sigpipe(redisAsyncContext* _context) {
    const sigpipe_suppressor no_sigpipe;
    redisAsyncHandleWrite(_context);
}

async_context& cast(void* _privdata) {
    return *static_cast<async_context*>(_privdata);
}

void add_read_wrapper(void* _privdata) {
    cast(_privdata).add_read();
}

void del_read_wrapper(void* _privdata) {
    cast(_privdata).del_read();
}

void add_write_wrapper(void* _privdata) {
    cast(_privdata).add_write();
}

void del_write_wrapper(void* _privdata) {
    cast(_privdata).del_write();
}

void cleanup_wrapper(void* _privdata) {
    cast(_privdata).cleanup();
}

void connect_callback_wrapper(const redisAsyncContext* _context, int _status) {
    async_context& self = cast(_context->data);
    if (_status != REDIS_OK) {
        // hiredis frees its context when this callback returns.
        clear_context(self);
    }
    self.connect_callback(_status);
}

void disconnect_callback_wrapper(const redisAsyncContext* _context, int _status) {
    cast(_context->data).disconnect_callback(_status);
}

}  // namespace

std::string refused_command_text(boost::string_view _name) {
    return "Command: " + _name.to_string() + ", error";
}

void clear_context(async_context& _context) {
    _context.m_context = nullptr;
    _context.m_read_requested = false;
    _context.m_write_requested = false;
    // Cancels the pending waits: the duplicate descriptor would stay readable at end of file.
    boost::system::error_code ignored;
    _context.m_socket.close(ignored);
}

async_operation_handle<async_context::ptr>::ptr async_context::create(
    events_loop& _events_loop, const component_logger& _logger, std::string _ip, int _port,
    int _db) {
    using handle_impl = async_operation_handle_impl<ptr>;
    // The connection being made belongs to the handle, so dropping the handle abandons it;
    // the connect callback holds it weakly and hands it over once it is up.
    auto connecting = std::make_shared<ptr>();
    auto handle = handle_impl::create(
        _events_loop, [&_events_loop, &_logger, _ip, _port, _db, connecting](
                          const handle_impl::ptr&, const std::weak_ptr<handle_impl>& _weak) {
            *connecting = std::make_shared<async_context>(_events_loop, _logger, _ip, _port, _db);
            const std::weak_ptr<ptr> weak_connecting = connecting;
            (*connecting)->set_connect_callback([_weak, weak_connecting](int _status) {
                const auto handle = _weak.lock();
                const auto holder = weak_connecting.lock();
                if (!handle || !holder) {
                    return;
                }
                if (_status != REDIS_OK) {
                    // The dead connection stays with the handle: it must not be destroyed
                    // while hiredis is inside this call.
                    handle->return_result(nullptr);
                    return;
                }
                handle->return_result(std::move(*holder));
            });
        });
    handle->start();
    return handle;
}

async_context::async_context(events_loop& _events_loop, const component_logger& _logger,
                             std::string _ip, int _port, int _db)
    : m_events_loop(_events_loop)
    , m_logger(_logger)
    , m_context(redisAsyncConnect(_ip.c_str(), connectable_port(_port)))
    , m_socket(_events_loop.get_io_context())
    , m_db(_db)
    , m_context_is_alive(std::make_shared<bool>(false)) {
    if (m_context == nullptr || m_context->err != 0) {
        const std::string text = m_context != nullptr ? m_context->errstr : "";
        if (m_context != nullptr) {
            redisAsyncFree(m_context);
            m_context = nullptr;
        }
        TVK_THROW("Cannot open connection to the redis server: " + text);
    }
    limit_array_replies(*m_context->c.reader);
    try {
        // Asio gets a descriptor of its own: hiredis closes its descriptor when it frees the
        // context, whatever Asio still holds.
        const int descriptor = ::fcntl(m_context->c.fd, F_DUPFD_CLOEXEC, 0);
        if (descriptor < 0) {
            TVK_THROW(std::string("Cannot duplicate the redis socket: ") + std::strerror(errno));
        }
        boost::system::error_code ec;
        m_socket.assign(boost::asio::ip::tcp::v4(), descriptor, ec);
        if (ec) {
            ::close(descriptor);
            TVK_THROW("Cannot watch the redis socket: " + ec.message());
        }
    } catch (...) {
        redisAsyncFree(m_context);
        throw;
    }
    m_context->data = this;
    m_context->ev.data = this;
    m_context->ev.addRead = add_read_wrapper;
    m_context->ev.delRead = del_read_wrapper;
    m_context->ev.addWrite = add_write_wrapper;
    m_context->ev.delWrite = del_write_wrapper;
    m_context->ev.cleanup = cleanup_wrapper;
    // After the hooks: setting the connect callback asks for write readiness at once.
    redisAsyncSetConnectCallback(m_context, connect_callback_wrapper);
    redisAsyncSetDisconnectCallback(m_context, disconnect_callback_wrapper);
    *m_context_is_alive = true;
}

async_context::~async_context() {
    *m_context_is_alive = false;
    if (m_context != nullptr) {
        // Not a graceful disconnect: that waits for pending replies, and nothing would drive
        // the connection any more.
        redisAsyncFree(m_context);
        m_context = nullptr;
    }
    boost::system::error_code ignored;
    m_socket.close(ignored);
}

void async_context::set_connect_callback(std::function<void(int)> _callback) {
    m_connect_callback = std::move(_callback);
}

void async_context::add_read() {
    m_read_requested = true;
    operate();
}

void async_context::del_read() {
    m_read_requested = false;
}

void async_context::add_write() {
    m_write_requested = true;
    operate();
}

void async_context::del_write() {
    m_write_requested = false;
}

void async_context::cleanup() {}

void async_context::connect_callback(int _status) {
    int status = _status;
    if (status == REDIS_OK && !m_logger.execute([this] {
            std::string db = std::to_string(m_db);
            std::vector<const char*> argv{"SELECT", db.c_str()};
            std::vector<std::size_t> argv_len{6, db.size()};
            run_command(argv, argv_len, [](reply) {});
        })) {
        status = REDIS_ERR;
    }
    // Called at most once, also when it raises.
    std::function<void(int)> callback;
    callback.swap(m_connect_callback);
    if (callback) {
        // Nothing may unwind through hiredis.
        m_logger.execute([&] { callback(status); });
    }
}

void async_context::disconnect_callback(int _status) {
    if (_status != REDIS_OK && m_context != nullptr) {
        m_logger.error("Connection to the redis server is lost: %1%") % m_context->errstr;
    }
    // hiredis frees its context when this callback returns.
    clear_context(*this);
}

void async_context::run_command(std::vector<const char*>& _argv,
                                std::vector<std::size_t>& _argv_len, callback _callback) {
    TVK_CHECK(!_argv.empty() && _argv.size() == _argv_len.size());
    const std::string name = command_name(_argv, _argv_len);
    if (is_subscribing(name)) {
        TVK_THROW(refused_command_text(name));
    }
    auto pending =
        std::unique_ptr<pending_command>(new pending_command{std::move(_callback), m_logger});
    // hiredis refuses commands while it disconnects; once it has let go of its context,
    // there is nothing to send them on.
    if (m_context == nullptr || redisAsyncCommandArgv(m_context, reply_function, pending.get(),
                                                      static_cast<int>(_argv.size()), _argv.data(),
                                                      _argv_len.data()) != REDIS_OK) {
        TVK_THROW(refused_command_text(name));
    }
    pending.release();
}

void async_context::operate() {
    if (m_context == nullptr) {
        return;
    }
    if (m_read_requested && !m_read_in_progress) {
        start_wait(boost::asio::socket_base::wait_read, m_read_in_progress,
                   &async_context::handle_read);
    }
    if (m_write_requested && !m_write_in_progress) {
        start_wait(boost::asio::socket_base::wait_write, m_write_in_progress,
                   &async_context::handle_write);
    }
}

void async_context::start_wait(boost::asio::socket_base::wait_type _wait, bool& _in_progress,
                               void (async_context::*_handler)(const boost::system::error_code&)) {
    _in_progress = true;
    m_socket.async_wait(
        _wait, [this, _handler, alive = m_context_is_alive](const boost::system::error_code& _ec) {
            if (*alive) {
                (this->*_handler)(_ec);
            }
        });
}

void async_context::handle_read(const boost::system::error_code& _ec) {
    handle_ready(_ec, m_read_in_progress, redisAsyncHandleRead);
}

void async_context::handle_write(const boost::system::error_code& _ec) {
    handle_ready(_ec, m_write_in_progress, handle_write_without_sigpipe);
}

void async_context::handle_ready(const boost::system::error_code& _ec, bool& _in_progress,
                                 void (*_handle)(redisAsyncContext*)) {
    _in_progress = false;
    if (_ec && _ec != boost::asio::error::would_block) {
        // Cancelled, or failed: hiredis learns nothing more of this socket.
        return;
    }
    if (!_ec && m_context != nullptr) {
        _handle(m_context);
    }
    operate();
}

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
