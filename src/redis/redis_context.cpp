#include "redis/redis_context.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstddef>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/exception.hpp"
#include "core/redis/reader.hpp"
#include "core/scope_guard.hpp"

namespace tvk {
namespace redis {

namespace {

// True when the peer has closed the connection or it has failed: readable with nothing to
// read, or in an error state. A blocking connection has nothing to read between commands.
bool closed_by_peer(int _fd) {
    if (_fd < 0) {
        return true;
    }
    pollfd waiting{_fd, POLLIN, 0};
    if (::poll(&waiting, 1, 0) <= 0) {
        return false;
    }
    if ((waiting.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        return true;
    }
    char byte = 0;
    const auto received = ::recv(_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return received == 0 ||
           (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// SCAN's cursor, an unsigned 64-bit number in decimal.
unsigned long long parse_cursor(const std::string& _text) {
    if (_text.empty() || _text.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("SCAN cursor is not a number: " + _text);
    }
    return std::stoull(_text);
}

// _text with the glob characters of a MATCH pattern escaped, so that it matches only itself.
std::string escape_pattern(const char* _text) {
    std::string escaped;
    for (const char* c = _text; *c != '\0'; ++c) {
        switch (*c) {
            case '*':
            case '?':
            case '[':
            case ']':
            case '\\':
                escaped += '\\';
                break;
            default:
                break;
        }
        escaped += *c;
    }
    return escaped;
}

// The connect time-out of the first connection; a reopened one connects within the command
// time-out, so that a command never waits longer than that for an address that drops
// connections.
constexpr std::chrono::milliseconds first_connect_timeout(1500);

// What errors of these commands are named after: their command text as it reads, placeholders
// and all, though they are sent binary-safe.
const char* const scan_name = "SCAN %u MATCH %s:*";
const std::string smembers_name = "SMEMBERS ";

timeval to_timeval(std::chrono::milliseconds _duration) {
    timeval result{};
    result.tv_sec = static_cast<decltype(result.tv_sec)>(_duration.count() / 1000);
    result.tv_usec = static_cast<decltype(result.tv_usec)>((_duration.count() % 1000) * 1000);
    return result;
}

}  // namespace

error_reply::error_reply(boost::string_view _name, std::string _reply,
                         libs::core::source_location _location)
    : libs::core::exception(
          "Command: " + std::string(_name.data(), _name.size()) + ", error: " + _reply, _location)
    , m_reply(std::move(_reply)) {}

bool error_reply::is_lasting() const {
    return m_reply.compare(0, 10, "WRONGTYPE ") == 0;
}

context::context(const std::string& _host, int _port, unsigned int _db_number)
    : m_host(_host), m_port(_port), m_db_number(_db_number) {
    m_context_ptr = open(first_connect_timeout, m_timeout);
}

context::~context() = default;

context::context_ptr context::open(std::chrono::milliseconds _connect_timeout,
                                   std::chrono::milliseconds _command_timeout) {
    // hiredis would take the port modulo 65536 and reach another server.
    if (m_port < 0 || m_port > 65535) {
        TVK_THROW("Connection error: port " + std::to_string(m_port) + " is outside 0..65535");
    }
    context_ptr connection(
        redisConnectWithTimeout(m_host.c_str(), m_port, to_timeval(_connect_timeout)));
    if (!connection) {
        TVK_THROW("Connection error: can't allocate redis context");
    }
    // The connect time-out does not cover the commands: without one of their own, a server
    // that takes the connection and never answers (stopped, cut off) would hold the service,
    // signals included, for good.
    if (connection->err == 0) {
        redisSetTimeout(connection.get(), to_timeval(_command_timeout));
    }
    if (connection->err != 0) {
        TVK_THROW(std::string("Connection error: ") + connection->errstr);
    }
    libs::core::redis::limit_array_replies(*connection->reader);
    const char* select_format = "SELECT %u";
    void* selected = redisCommand(connection.get(), select_format, m_db_number);
    if (selected == nullptr) {
        // Taken but not answered (a frozen server) is a failed connect like a refused one.
        TVK_THROW(std::string("Connection error: ") + connection->errstr);
    }
    take_reply(connection.get(), selected, select_format, TVK_SOURCE_LOCATION);
    ++m_connection_number;
    return connection;
}

redisContext* context::usable_context() {
    if (is_connection_lost()) {
        // The old connection stays until a new one is ready, so a failed reopen is tried
        // again by the next command.
        m_context_ptr = open(m_timeout, m_timeout);
    }
    return m_context_ptr.get();
}

bool context::is_connection_lost() const {
    return m_context_ptr->err != 0 || closed_by_peer(m_context_ptr->fd);
}

bool context::is_passing(const std::exception_ptr& _failure) const {
    try {
        std::rethrow_exception(_failure);
    } catch (const error_reply& e) {
        return !e.is_lasting();
    } catch (...) {
        return is_connection_lost();
    }
}

void context::set_timeout(std::chrono::milliseconds _timeout) {
    m_timeout = _timeout;
    if (m_context_ptr->err == 0) {
        redisSetTimeout(m_context_ptr.get(), to_timeval(m_timeout));
    }
}

void context::ping(std::chrono::milliseconds _timeout) {
    if (is_connection_lost()) {
        m_context_ptr = open(_timeout, _timeout);
    } else {
        redisSetTimeout(m_context_ptr.get(), to_timeval(_timeout));
    }
    // The usual time-out comes back whatever the answer; a connection that failed is not
    // used again anyway.
    const auto restore = libs::core::execute_on_scope_exit([this]() noexcept {
        if (m_context_ptr->err == 0) {
            redisSetTimeout(m_context_ptr.get(), to_timeval(m_timeout));
        }
    });
    execute_command_sv({"PING"});
}

reply context::take_reply(redisContext* _connection, void* _reply, boost::string_view _name,
                          const tvk::libs::core::source_location& _location) {
    const std::string name(_name.data(), _name.size());
    if (_reply == nullptr) {
        // The command may or may not have reached the server: it is not sent again.
        throw tvk::libs::core::exception(
            "Command: " + name + ", connection error: " + _connection->errstr, _location);
    }
    reply result(static_cast<redisReply*>(_reply));
    if (result.get_type() == reply_type::ERROR) {
        throw_error_reply(_name, result, _location);
    }
    return result;
}

reply context::flush_db() {
    return execute_command("FLUSHDB");
}

void context::clear_branch(const char* _branch) {
    if (_branch == nullptr) {
        TVK_THROW("Branch is null");
    }
    const std::string branch = escape_pattern(_branch);
    unsigned long long cursor = 0;
    do {
        const std::string cursor_text = std::to_string(cursor);
        const std::string pattern = branch + ":*";
        const reply step = execute_named_sv(scan_name, {"SCAN", cursor_text, "MATCH", pattern});
        const reply_array parts = step.as_array();
        cursor = parse_cursor(parts[0].to_string());
        const reply_array keys = parts[1].as_array();
        if (keys.size() == 0) {
            continue;
        }
        // The names are kept until DEL has been sent; they are sent with their lengths.
        std::vector<std::string> names;
        names.reserve(keys.size());
        keys.for_each_element([&names](const reply_element& _key) {
            names.push_back(_key.to_string());
            return true;
        });
        sv_args command{"DEL"};
        command.insert(command.end(), names.begin(), names.end());
        execute_command_sv(command);
    } while (cursor != 0);
}

reply context::get_from_table(const std::string& _table, const std::string& _field) {
    return execute_command_sv({"HGET", _table, _field});
}

reply context::get_from_table(
    const std::string& _table,
    std::initializer_list<std::reference_wrapper<const std::string>> _fields) {
    sv_args command{"HMGET", _table};
    for (const std::string& field : _fields) {
        command.emplace_back(field);
    }
    return execute_command_sv(command);
}

reply context::set_to_table(const std::string& _table, const std::string& _field,
                            const std::string& _value) {
    return execute_command_sv({"HSET", _table, _field, _value});
}

reply context::set_to_table(
    const std::string& _table,
    std::initializer_list<std::pair<const std::string&, const std::string>> _key_values) {
    return execute_command_sv(set_to_table_command(_table, _key_values));
}

context::sv_args context::set_to_table_command(
    const std::string& _table,
    std::initializer_list<std::pair<const std::string&, const std::string>> _key_values) {
    sv_args command{"HMSET", _table};
    for (const auto& key_value : _key_values) {
        command.emplace_back(key_value.first);
        command.emplace_back(key_value.second);
    }
    return command;
}

void context::set_to_table_opt(
    const std::string& _table,
    std::initializer_list<std::pair<const std::string&, const boost::optional<const std::string>>>
        _key_values) {
    sv_args set_command{"HMSET", _table};
    sv_args delete_command{"HDEL", _table};
    for (const auto& key_value : _key_values) {
        if (key_value.second) {
            set_command.emplace_back(key_value.first);
            set_command.emplace_back(*key_value.second);
        } else {
            delete_command.emplace_back(key_value.first);
        }
    }
    if (set_command.size() > 2) {
        execute_command_sv(set_command);
    }
    if (delete_command.size() > 2) {
        execute_command_sv(delete_command);
    }
}

reply context::increment_in_table(const std::string& _table, const std::string& _field,
                                  const std::string& _value) {
    return execute_command_sv({"HINCRBY", _table, _field, _value});
}

reply context::delete_from_table(const std::string& _table, const std::string& _field) {
    return execute_command_sv({"HDEL", _table, _field});
}

reply context::get_set_members(const std::string& _set) {
    // As separate arguments, so that a set name with blanks or "%" stays one argument.
    return execute_named_sv(smembers_name + _set, {"SMEMBERS", _set});
}

reply context::execute_command_argv(const args& _args) {
    for (const char* text : _args) {
        if (text == nullptr) {
            TVK_THROW("Command text is null");
        }
    }
    sv_args command(_args.begin(), _args.end());
    return execute_command_sv(command);
}

namespace {

// A command's texts and lengths as hiredis takes them.
struct argv_texts {
    std::vector<const char*> texts;
    std::vector<std::size_t> lengths;

    explicit argv_texts(const context::sv_args& _args) {
        // An empty command gets no answer from the server: it would block for ever.
        if (_args.empty()) {
            TVK_THROW("Command is empty");
        }
        texts.reserve(_args.size());
        lengths.reserve(_args.size());
        for (const auto& text : _args) {
            texts.push_back(text.data());
            lengths.push_back(text.size());
        }
    }
    int count() const { return static_cast<int>(texts.size()); }
};

}  // namespace

reply context::execute_command_sv(const sv_args& _args) {
    // An empty command is refused by execute_named_sv.
    return execute_named_sv(_args.empty() ? boost::string_view() : _args.front(), _args);
}

reply context::execute_named_sv(boost::string_view _name, const sv_args& _args) {
    argv_texts command(_args);
    redisContext* connection = usable_context();
    return take_reply(
        connection,
        redisCommandArgv(connection, command.count(), command.texts.data(), command.lengths.data()),
        _name, TVK_SOURCE_LOCATION);
}

std::vector<reply> context::pipeline(const std::vector<sv_args>& _commands) {
    std::vector<argv_texts> commands;
    commands.reserve(_commands.size());
    for (const auto& args : _commands) {
        commands.emplace_back(args);
    }
    redisContext* connection = usable_context();
    std::vector<reply> replies;
    replies.reserve(commands.size());
    for (auto& command : commands) {
        // Only a lack of memory fails here; the connection is then in an error state and is
        // reopened, with what was queued, before the next command.
        if (redisAppendCommandArgv(connection, command.count(), command.texts.data(),
                                   command.lengths.data()) != REDIS_OK) {
            return replies;
        }
    }
    for (std::size_t i = 0; i < commands.size(); ++i) {
        void* raw = nullptr;
        // The first read writes every queued command.
        if (redisGetReply(connection, &raw) != REDIS_OK || raw == nullptr) {
            break;
        }
        replies.emplace_back(static_cast<redisReply*>(raw));
    }
    return replies;
}

std::vector<reply> context::execute_commands_sv(const std::vector<sv_args>& _commands) {
    std::vector<reply> replies = pipeline(_commands);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        if (replies[i].get_type() == reply_type::ERROR) {
            throw_error_reply(_commands[i].front(), replies[i], TVK_SOURCE_LOCATION);
        }
    }
    if (replies.size() < _commands.size()) {
        take_reply(m_context_ptr.get(), nullptr, _commands[replies.size()].front(),
                   TVK_SOURCE_LOCATION);
    }
    return replies;
}

reply context::execute_transaction_sv(const std::vector<sv_args>& _commands) {
    if (_commands.empty()) {
        TVK_THROW("Transaction is empty");
    }
    std::vector<sv_args> transaction;
    transaction.reserve(_commands.size() + 2);
    transaction.push_back({"MULTI"});
    transaction.insert(transaction.end(), _commands.begin(), _commands.end());
    transaction.push_back({"EXEC"});
    std::vector<reply> replies = pipeline(transaction);
    // A command refused while queued (its QUEUED reply is an error) aborts the transaction.
    for (std::size_t i = 0; i < replies.size(); ++i) {
        if (replies[i].get_type() == reply_type::ERROR) {
            throw_error_reply(transaction[i].front(), replies[i], TVK_SOURCE_LOCATION);
        }
    }
    if (replies.size() < transaction.size()) {
        // Without EXEC the server drops what was queued: nothing of it was carried out.
        take_reply(m_context_ptr.get(), nullptr, _commands.front().front(), TVK_SOURCE_LOCATION);
    }
    reply& result = replies.back();
    const reply_array results = result.as_array();
    for (std::size_t i = 0; i < results.size() && i < _commands.size(); ++i) {
        if (results[i].get_type() == reply_type::ERROR) {
            throw_error_reply(_commands[i].front(), results[i], TVK_SOURCE_LOCATION);
        }
    }
    return std::move(result);
}

void context::throw_error_reply(boost::string_view _name, const reply_element& _reply,
                                const tvk::libs::core::source_location& _location) {
    throw error_reply(_name, _reply.to_string(), _location);
}

}  // namespace redis
}  // namespace tvk
