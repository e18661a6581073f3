#pragma once

#include <hiredis/hiredis.h>

#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/exception.hpp"
#include "core/source_location.hpp"
#include "redis/reply.hpp"

namespace tvk {
namespace redis {

// An error reply of the server to a command: "Command: <name>, error: <reply>".
class error_reply : public libs::core::exception {
public:
    error_reply(boost::string_view _name, std::string _reply,
                libs::core::source_location _location);

    // True when the same command on the same data gets the same answer (a key of another
    // type); otherwise the server could not take the command now (LOADING while it reloads
    // its data, BUSY, MASTERDOWN, ...), and the data may be there all the same.
    bool is_lasting() const;

private:
    std::string m_reply;
};

// A blocking connection to one database of a Redis server. Every command raises
// tvk::libs::core::exception for an error reply or a broken connection, or when the server
// has not answered within the time-out (5 seconds unless set otherwise). A connection that the
// server has closed, or that failed, is reopened before the next command is sent. One thread
// at a time.
class context {
public:
    // A command as zero-terminated texts, the command name first.
    typedef std::vector<const char*> args;
    // A command as texts with lengths (binary-safe), the command name first.
    typedef std::vector<boost::string_view> sv_args;

    // Connects within 1.5 s and selects _db_number (a connection reopened later connects
    // within the command time-out); raises "Connection error: " and
    // hiredis's text when the server cannot be reached or does not answer.
    context(const std::string& _host, int _port, unsigned int _db_number);
    virtual ~context();
    context(const context&) = delete;
    context& operator=(const context&) = delete;

    // The time-out of each command, on this connection and on those reopened later.
    void set_timeout(std::chrono::milliseconds _timeout);
    // How many connections have been opened so far, the first included. A new one may be to a
    // server that restarted and lost, or went back on, what was written before.
    std::uint64_t get_connection_number() const { return m_connection_number; }
    // True when the server has closed the connection or it has failed; sends nothing.
    bool is_connection_lost() const;
    // True when _failure, raised by a command on this connection, says nothing lasting of the
    // data: the connection failed, or the server could not take the command now (an error
    // reply that is not lasting). The command may then be sent again later.
    bool is_passing(const std::exception_ptr& _failure) const;
    // Reopens the connection if it is lost, then sends PING: each within _timeout, so that a
    // server that does not answer is found out without waiting for the command time-out.
    // Raises as connecting and commands do.
    void ping(std::chrono::milliseconds _timeout);

    reply flush_db();
    // Deletes every key whose name is _branch, ":" and anything.
    void clear_branch(const char* _branch);
    // HGET: a string, or nil when the table or field is absent.
    reply get_from_table(const std::string& _table, const std::string& _field);
    // HMGET: an array with one element per field, nil for each absent one.
    reply get_from_table(const std::string& _table,
                         std::initializer_list<std::reference_wrapper<const std::string>> _fields);
    reply set_to_table(const std::string& _table, const std::string& _field,
                       const std::string& _value);
    reply set_to_table(
        const std::string& _table,
        std::initializer_list<std::pair<const std::string&, const std::string>> _key_values);
    // The HMSET that set_to_table sends, for execute_commands_sv; it refers to the texts given.
    static sv_args set_to_table_command(
        const std::string& _table,
        std::initializer_list<std::pair<const std::string&, const std::string>> _key_values);
    // Writes the fields with a value (HMSET) and deletes those without one (HDEL).
    void set_to_table_opt(const std::string& _table,
                          std::initializer_list<std::pair<const std::string&,
                                                          const boost::optional<const std::string>>>
                              _key_values);
    reply increment_in_table(const std::string& _table, const std::string& _field,
                             const std::string& _value);
    reply delete_from_table(const std::string& _table, const std::string& _field);
    // SMEMBERS: an array of strings.
    reply get_set_members(const std::string& _set);

    // Each text ends at its first zero byte.
    reply execute_command_argv(const args& _args);
    reply execute_command_sv(const sv_args& _args);
    // The commands in one round trip: every one is sent, in order, before any reply is read.
    // Raises for the first that failed, once the replies that can be read have been; the
    // commands after a failed one have been sent (and carried out) all the same.
    std::vector<reply> execute_commands_sv(const std::vector<sv_args>& _commands);
    // The commands as one transaction (MULTI, the commands, EXEC) in one round trip: the server
    // carries out all of them or none. Gives EXEC's array of their replies. Raises for the
    // first that failed, named as the command itself; a broken connection is named after the
    // first command.
    reply execute_transaction_sv(const std::vector<sv_args>& _commands);

    // hiredis's formatted command: the format is split at blanks and each "%s" or "%u" takes
    // the next argument (a const char* or an unsigned int).
    template <class... Args>
    reply execute_command(const std::string& _format, Args... _args) {
        static_assert(
            ((std::is_integral<Args>::value || std::is_same<Args, const char*>::value) && ...),
            "only integers and C texts can be formatted into a command");
        redisContext* connection = usable_context();
        return take_reply(connection, redisCommand(connection, _format.c_str(), _args...), _format,
                          TVK_SOURCE_LOCATION);
    }

private:
    struct context_deleter {
        void operator()(redisContext* _context) const noexcept { redisFree(_context); }
    };
    typedef std::unique_ptr<redisContext, context_deleter> context_ptr;

    // A connection with its database selected, connected within _connect_timeout and answering
    // within _command_timeout; raises when it cannot be made.
    context_ptr open(std::chrono::milliseconds _connect_timeout,
                     std::chrono::milliseconds _command_timeout);
    // Sends _commands in one round trip and gives the replies read, in order, up to the first
    // that did not come (a broken connection or a time-out): fewer than the commands then.
    std::vector<reply> pipeline(const std::vector<sv_args>& _commands);
    // The connection to send the next command on: reopened first when the server closed it
    // or it is in an error state.
    redisContext* usable_context();
    // Sends _args binary-safe; its errors name the command _name.
    reply execute_named_sv(boost::string_view _name, const sv_args& _args);
    // Owns the reply of a command; raises, with _location, when there is none or it is an
    // error reply.
    static reply take_reply(redisContext* _connection, void* _reply, boost::string_view _name,
                            const tvk::libs::core::source_location& _location);
    // Raises "Command: ", _name, ", error: " and the text of the error reply _reply.
    [[noreturn]] static void throw_error_reply(boost::string_view _name,
                                               const reply_element& _reply,
                                               const tvk::libs::core::source_location& _location);

    context_ptr m_context_ptr;
    // Where a closed connection is reopened.
    std::string m_host;
    int m_port;
    unsigned int m_db_number;
    std::chrono::milliseconds m_timeout{std::chrono::seconds(5)};
    std::uint64_t m_connection_number = 0;
};

}  // namespace redis
}  // namespace tvk
