#include "core/logger.hpp"

#include <sstream>

namespace tvk {
namespace libs {
namespace core {

std::string exception_to_string() {
    try {
        throw;
    } catch (const located_exception& e) {
        return exception_to_string(e);
    } catch (const std::exception& e) {
        return std::string("std::exception::what(): ") + e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

std::string exception_to_string(const located_exception& _e) {
    std::ostringstream stream;
    _e.describe(stream);
    return stream.str();
}

std::string cut_for_log(boost::string_view _text) {
    if (_text.size() <= max_logged_text_size) {
        return std::string(_text);
    }
    // Back to the start of the character that the limit would split; at most three bytes of
    // a UTF-8 sequence follow its first.
    std::size_t end = max_logged_text_size;
    const auto is_continuation = [](char _byte) {
        return (static_cast<unsigned char>(_byte) & 0xC0u) == 0x80u;
    };
    for (int step = 0; step < 3 && is_continuation(_text[end]); ++step) {
        --end;
    }
    std::string cut(_text.substr(0, end));
    cut += "... (" + std::to_string(_text.size()) + " bytes)";
    return cut;
}

// formatter

component_logger::formatter::formatter(int _log_level, const boost::string_view& _format,
                                       const component_logger& _logger)
    : m_format(_format.data()), m_log_level(_log_level), m_logger(_logger) {}

component_logger::formatter::~formatter() {
    // The line is written from a destructor, so nothing may escape: a format whose arguments
    // do not match still gives what it holds, and a failure to write is swallowed.
    try {
        const timestamp time = m_timestamp ? *m_timestamp : timestamp::current_time();
        std::string body;
        if (m_source_location) {
            body += std::string(m_source_location->short_file());
            body += ':';
            body += std::to_string(m_source_location->line());
            body += ' ';
        }
        if (!m_function.empty()) {
            body.append(m_function.data(), m_function.size());
            body += ": ";
        }
        try {
            body += m_format.str();
        } catch (...) {
            m_format.exceptions(boost::io::no_error_bits);
            body += m_format.str();
        }
        m_logger.write(m_log_level, body, time);
    } catch (...) {
    }
}

component_logger::formatter& component_logger::formatter::location(source_location _location) {
    m_source_location = _location;
    return *this;
}

component_logger::formatter& component_logger::formatter::function(source_location _location) {
    m_function = _location.function();
    return *this;
}

component_logger::formatter& component_logger::formatter::short_function(
    source_location _location) {
    m_function = _location.short_function();
    return *this;
}

component_logger::formatter& component_logger::formatter::date_time(timestamp _t) {
    m_timestamp = _t;
    return *this;
}

// component_logger

component_logger::component_logger(const logger& _logger, const std::string& _module_name,
                                   const std::string& _component_name)
    : m_logger(_logger)
    , m_module_name(_module_name)
    , m_zmq_prefix("&" + _module_name + ":" + _component_name + " ") {}

component_logger::formatter component_logger::debug(const boost::string_view& _format) const {
    return formatter(LOG_DEBUG, _format, *this);
}

component_logger::formatter component_logger::info(const boost::string_view& _format) const {
    return formatter(LOG_INFO, _format, *this);
}

component_logger::formatter component_logger::warning(const boost::string_view& _format) const {
    return formatter(LOG_WARNING, _format, *this);
}

component_logger::formatter component_logger::error(const boost::string_view& _format) const {
    return formatter(LOG_ERR, _format, *this);
}

component_logger::ptr component_logger::component(const std::string& _name) const {
    return std::make_unique<component_logger>(m_logger, m_module_name, _name);
}

component_logger::indent_guard component_logger::indent() const {
    ++m_indent;
    return execute_on_scope_exit([this] { --m_indent; });
}

component_logger::indent_guard component_logger::enter_function(source_location _location) const {
    debug("%1%") % _location.function();
    return indent();
}

component_logger::indent_guard component_logger::enter_function_short(
    source_location _location, const boost::string_view& _name) const {
    debug("%1%: %2%") % _location.short_function() % _name;
    return indent();
}

component_logger::indent_guard component_logger::enter_scope(source_location _location) const {
    debug("%1%:%2%") % _location.short_file() % _location.line();
    return indent();
}

component_logger::indent_guard component_logger::enter_scope(
    const boost::string_view& _name) const {
    debug("%1%") % _name;
    return indent();
}

component_logger::indent_guard component_logger::enter_scope(
    source_location _location, const boost::string_view& _name) const {
    debug("%1%:%2% (%3%)") % _location.short_file() % _location.line() % _name;
    return indent();
}

void component_logger::log_exception() const {
    if (m_logger.m_enable_logger) {
        error("%1%") % exception_to_string();
    }
}

void component_logger::log_exception(source_location _location) const {
    m_logger.error("Caught exeption").location(_location);
    log_exception();
}

void component_logger::log_exception(const located_exception& _e) const {
    if (m_logger.m_enable_logger) {
        error("%1%") % exception_to_string(_e);
    }
}

void component_logger::log_error(const boost::system::error_code& _ec,
                                 source_location _location) const {
    if (m_logger.m_enable_logger) {
        error("%1%:%2%: %3%") % _location.short_file() % _location.line() % _ec.message();
    }
}

std::string component_logger::make_indent() const {
    const int depth = m_indent;
    if (depth <= 0) {
        return std::string();
    }
    return std::string(static_cast<std::size_t>(depth) * 4, ' ') + "| ";
}

void component_logger::write(int _log_level, const std::string& _body,
                             const timestamp& _time) const noexcept {
    try {
        const std::string time_text = _time.to_iso_8601(true, ' ', false) + " ";
        const std::string indent = make_indent();
        if (m_logger.m_debug) {
            const std::string text = time_text + indent + _body;
            syslog(_log_level, "%s", text.c_str());
        } else {
            syslog(_log_level, "%s", _body.c_str());
        }
        if (m_logger.m_writing_to_socket) {
            m_logger.send_to_socket(m_zmq_prefix + time_text + indent + _body);
        }
    } catch (...) {
    }
}

// logger

logger::logger(const std::string& _module_name, const std::string& _component_name)
    : component_logger(*this, _module_name, _component_name)
    , m_module_name(_module_name)
    , m_zmq_context()
    , m_debug_socket(m_zmq_context, ::zmq::socket_type::push) {
    m_debug_socket.set(::zmq::sockopt::linger, 5000);
    openlog(m_module_name.c_str(), 0, LOG_USER);
    set_debug(false);
    info("Starting %1%") % m_module_name;
}

logger::~logger() {
    closelog();
    // libzmq 4.3 drops a message queued shortly after connect when the socket is closed
    // before it processed its pending commands (seen after a send refused before connect,
    // that is the start line). Reading the events processes them, so the linger below
    // delivers what was queued; a start-up failure's last lines must reach the socket too.
    try {
        std::lock_guard<std::mutex> lock(m_socket_mutex);
        (void)m_debug_socket.get(zmq::sockopt::events);
    } catch (...) {
    }
    // Members close the socket, then the context; closing waits up to the linger time.
}

void logger::set_debug(bool _debug) {
    closelog();
    openlog(m_module_name.c_str(), _debug ? LOG_PERROR : 0, LOG_USER);
    setlogmask(_debug ? LOG_UPTO(LOG_DEBUG) : LOG_UPTO(LOG_INFO));
    m_debug = _debug;
}

void logger::connect(std::string _address) {
    {
        std::lock_guard<std::mutex> lock(m_socket_mutex);
        m_debug_socket.connect(_address);
    }
    debug("Connected to socket");
}

void logger::send_to_socket(const std::string& _message) const noexcept {
    try {
        std::lock_guard<std::mutex> lock(m_socket_mutex);
        // Dropped when it cannot be queued at once (no peer, queue full).
        (void)m_debug_socket.send(::zmq::buffer(_message), ::zmq::send_flags::dontwait);
    } catch (...) {
    }
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
