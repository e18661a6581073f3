#pragma once

#include <hiredis/async.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>
#include <boost/utility/string_view.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/async_operation_handle.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/redis/reply.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

// The asynchronous hiredis connection, driven by the events loop through readiness waits on
// a duplicate of hiredis's descriptor. Once hiredis has dropped the connection (a failed
// connect, or the server closed it; hiredis then frees its context itself), commands are
// refused and no wait is left on the loop. A write to a connection that the server has reset
// raises no SIGPIPE: the connection is dropped and its commands get a NIL reply.
class async_context {
public:
    using ptr = std::shared_ptr<async_context>;
    using callback = std::function<void(reply)>;

    // Connects; the result is the connected context, or an empty pointer when the connect
    // failed. Raises "Cannot open connection to the redis server: " when hiredis refuses the
    // address at once or the port is outside 0..65535. Dropping the handle abandons a connect
    // in progress.
    static async_operation_handle<ptr>::ptr create(events_loop& _events_loop,
                                                   const component_logger& _logger, std::string _ip,
                                                   int _port, int _db);

    // Starts a non-blocking connect; the database is selected once it is up.
    async_context(events_loop& _events_loop, const component_logger& _logger, std::string _ip,
                  int _port, int _db);
    // Frees hiredis's context: commands still waiting for their reply get a NIL reply.
    ~async_context();

    async_context(const async_context&) = delete;
    async_context& operator=(const async_context&) = delete;

    // Called at most once, with hiredis's connect status (0 when connected).
    void set_connect_callback(std::function<void(int)> _callback);

    // hiredis's event hooks.
    void add_read();
    void del_read();
    void add_write();
    void del_write();
    void cleanup();
    void connect_callback(int _status);
    // Told when hiredis lets go of a connection that was up; a lost one is logged.
    void disconnect_callback(int _status);

    // Queues one command (binary-safe); _callback gets its reply on the loop's thread, a NIL
    // reply when the connection goes away first. Raises "Command: <name>, error" when the
    // connection refuses it, and for a command answered more than once (SUBSCRIBE,
    // PSUBSCRIBE, SSUBSCRIBE, MONITOR).
    void run_command(std::vector<const char*>& _argv, std::vector<std::size_t>& _argv_len,
                     callback _callback);

private:
    friend void clear_context(async_context& _context);

    void operate();
    void handle_read(const boost::system::error_code& _ec);
    void handle_write(const boost::system::error_code& _ec);
    void start_wait(boost::asio::socket_base::wait_type _wait, bool& _in_progress,
                    void (async_context::*_handler)(const boost::system::error_code&));
    // Clears the pending mark, lets hiredis read or write through _handle, and waits again.
    void handle_ready(const boost::system::error_code& _ec, bool& _in_progress,
                      void (*_handle)(redisAsyncContext*));

    // Kept with the context that the loop and the logger serve; unused so far.
    [[maybe_unused]] events_loop& m_events_loop;
    const component_logger& m_logger;
    redisAsyncContext* m_context;
    boost::asio::ip::tcp::socket m_socket;
    int m_db;
    bool m_read_requested = false;
    bool m_write_requested = false;
    bool m_read_in_progress = false;
    bool m_write_in_progress = false;
    std::function<void(int)> m_connect_callback;
    std::shared_ptr<bool> m_context_is_alive;
};

// "Command: <name>, error": the text of a command that the asynchronous connection refuses.
std::string refused_command_text(boost::string_view _name);

// Forgets hiredis's context, which hiredis is about to free, and ends the readiness waits.
void clear_context(async_context& _context);

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
