#pragma once

#include <syslog.h>

#include <atomic>
#include <boost/format.hpp>
#include <boost/optional.hpp>
#include <boost/system/error_code.hpp>
#include <boost/utility/string_view.hpp>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <zmq.hpp>

#include "core/exception.hpp"
#include "core/scope_guard.hpp"
#include "core/source_location.hpp"
#include "core/timestamp.hpp"

namespace tvk {
namespace libs {
namespace core {

class logger;

// The text of the exception being handled; call only inside a catch block.
std::string exception_to_string();
// The text that _e.describe() writes.
std::string exception_to_string(const located_exception& _e);

// The most bytes of a peer's text that a log line carries.
constexpr std::size_t max_logged_text_size = 1024;
// _text as a log line carries a text from a peer: unchanged up to max_logged_text_size bytes,
// else its first bytes up to that limit (no UTF-8 character split) and "... (<size> bytes)".
std::string cut_for_log(boost::string_view _text);

// Logs for one component of the program through the root logger.
class component_logger {
public:
    using ptr = std::unique_ptr<component_logger>;
    using indent_guard = scope_guard;

    // One log record; the line is written when it is destroyed, at the end of the full
    // expression that made it. Writing never throws.
    class formatter {
    public:
        formatter(int _log_level, const boost::string_view& _format,
                  const component_logger& _logger);
        formatter(const formatter&) = delete;
        formatter& operator=(const formatter&) = delete;
        ~formatter();

        template <class T>
        formatter& operator%(T&& _argument) {
            m_format % std::forward<T>(_argument);
            return *this;
        }

        formatter& location(source_location _location);
        formatter& function(source_location _location);
        formatter& short_function(source_location _location);
        formatter& date_time(timestamp _t);

    private:
        boost::format m_format;
        int m_log_level;
        const component_logger& m_logger;
        boost::optional<source_location> m_source_location;
        boost::string_view m_function;
        boost::optional<timestamp> m_timestamp;
    };

    component_logger(const logger& _logger, const std::string& _module_name,
                     const std::string& _component_name);
    component_logger(const component_logger&) = delete;
    component_logger& operator=(const component_logger&) = delete;

    // Each starts a record of its level; _format is a NUL-terminated Boost.Format text.
    formatter debug(const boost::string_view& _format) const;
    formatter info(const boost::string_view& _format) const;
    formatter warning(const boost::string_view& _format) const;
    formatter error(const boost::string_view& _format) const;

    // A logger for another component of the same module, at depth 0.
    ptr component(const std::string& _name) const;

    // Each writes one debug line, then indents this component's lines until the guard goes.
    indent_guard enter_function(source_location _location) const;
    indent_guard enter_function_short(source_location _location,
                                      const boost::string_view& _name) const;
    indent_guard enter_scope(source_location _location) const;
    indent_guard enter_scope(const boost::string_view& _name) const;
    indent_guard enter_scope(source_location _location, const boost::string_view& _name) const;

    // Inside a catch block: the text of the exception being handled, at error level.
    void log_exception() const;
    // Inside a catch block: "Caught exeption" at _location through the root, then the text.
    void log_exception(source_location _location) const;
    void log_exception(const located_exception& _e) const;
    void log_error(const boost::system::error_code& _ec, source_location _location) const;

    // Calls _f(); logs whatever it throws. True when _f completed.
    template <class F>
    bool execute(F&& _f) const {
        try {
            std::forward<F>(_f)();
            return true;
        } catch (...) {
            log_exception();
            return false;
        }
    }

    template <class F>
    bool execute(source_location _location, F&& _f) const {
        try {
            std::forward<F>(_f)();
            return true;
        } catch (...) {
            log_exception(_location);
            return false;
        }
    }

private:
    friend class logger;
    indent_guard indent() const;
    std::string make_indent() const;
    void write(int _log_level, const std::string& _body, const timestamp& _time) const noexcept;

    mutable std::atomic_int m_indent{0};
    const logger& m_logger;
    std::string m_module_name;
    std::string m_zmq_prefix;
};

// The process's root logger: syslog, and a copy of every line on a ZeroMQ PUSH socket.
class logger : public component_logger {
public:
    logger(const std::string& _module_name, const std::string& _component_name);
    ~logger();

    bool is_debug() const { return m_debug; }
    // Debug mode: lines are copied to standard error, carry the time and reach syslog at
    // every level.
    void set_debug(bool _debug);
    // Connects the debug socket; raises zmq::error_t for an endpoint ZeroMQ rejects.
    void connect(std::string _address);
    bool is_writing_to_socket() const { return m_writing_to_socket; }
    void set_writing_to_socket(bool _writing) { m_writing_to_socket = _writing; }
    bool is_logger_enabled() const { return m_enable_logger; }

private:
    friend class component_logger;
    void send_to_socket(const std::string& _message) const noexcept;

    const std::string m_module_name;
    std::atomic_bool m_debug{false};
    std::atomic_bool m_writing_to_socket{true};
    bool m_enable_logger = true;
    ::zmq::context_t m_zmq_context;
    mutable std::mutex m_socket_mutex;
    mutable ::zmq::socket_t m_debug_socket;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
