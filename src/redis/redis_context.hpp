#pragma once

#include <hiredis/hiredis.h>

#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/source_location.hpp"
#include "redis/reply.hpp"

namespace tvk {
namespace redis {

// A blocking connection to one database of a Redis server. Every command raises
// tvk::libs::core::exception for an error reply or a broken connection, or when the server
// has not answered within 5 seconds. A connection that the server has closed, or that failed,
// is reopened before the next command is sent. One thread at a time.
class context {
public:
    // A command as zero-terminated texts, the command name first.
    typedef std::vector<const char*> args;
    // A command as texts with lengths (binary-safe), the command name first.
    typedef std::vector<boost::string_view> sv_args;

    // Connects within 1.5 s and selects _db_number; raises "Connection error: " and
    // hiredis's text when the server cannot be reached.
    context(const std::string& _host, int _port, unsigned int _db_number);
    virtual ~context();
    context(const context&) = delete;
    context& operator=(const context&) = delete;

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

    // A connection with its database selected; raises when it cannot be made.
    context_ptr open() const;
    // The connection to send the next command on: reopened first when the server closed it
    // or it is in an error state.
    redisContext* usable_context();
    // Owns the reply of a command; raises, with _location, when there is none or it is an
    // error reply.
    static reply take_reply(redisContext* _connection, void* _reply, boost::string_view _name,
                            const tvk::libs::core::source_location& _location);

    context_ptr m_context_ptr;
    // Where a closed connection is reopened.
    std::string m_host;
    int m_port;
    unsigned int m_db_number;
};

}  // namespace redis
}  // namespace tvk
