#pragma once

// What the fuzz targets share: a quiet logger, the input as text, and the report of an
// exception that the entry point under test must not raise.
#include <json/json.h>
#include <syslog.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <typeinfo>

#include "core/exception.hpp"
#include "core/logger.hpp"

namespace fuzz {

// One logger for the process. Its lines are formatted as the service's are, but reach
// neither syslog (masked after the start line) nor a socket.
inline tvk::libs::core::logger& quiet_logger() {
    static tvk::libs::core::logger logger("quillmere-fuzz", "fuzz");
    static const bool quiet = [] {
        logger.set_writing_to_socket(false);
        setlogmask(LOG_MASK(LOG_EMERG));
        return true;
    }();
    (void)quiet;
    return logger;
}

inline std::string text_of(const std::uint8_t* _data, std::size_t _size) {
    return std::string(reinterpret_cast<const char*>(_data), _size);
}

// Call inside a catch block for an exception of a type that _entry must not raise: prints
// it and aborts, which libFuzzer reports as a crash with the input that caused it.
[[noreturn]] inline void unexpected_exception(const char* _entry) {
    try {
        throw;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s raised an unexpected %s: %s\n", _entry, typeid(e).name(),
                     e.what());
    } catch (...) {
        std::fprintf(stderr, "%s raised an unexpected exception that is not std::exception\n",
                     _entry);
    }
    std::abort();
}

// Runs _read, letting pass what an entry point reports for bad input: the core library's
// exception, jsoncpp's own errors, and the other kinds that _also_allowed accepts. Any
// other exception is a finding.
template <class Read>
void reporting_unexpected(const char* _entry, Read&& _read,
                          bool (*_also_allowed)(const std::exception&) = nullptr) {
    try {
        _read();
    } catch (const tvk::libs::core::exception&) {
    } catch (const Json::Exception&) {
    } catch (const std::exception& e) {
        if (_also_allowed == nullptr || !_also_allowed(e)) {
            unexpected_exception(_entry);
        }
    } catch (...) {
        unexpected_exception(_entry);
    }
}

// A failed property of an entry point: printed, then aborts like a crash.
[[noreturn]] inline void property_failed(const char* _entry, const std::string& _what) {
    std::fprintf(stderr, "%s: %s\n", _entry, _what.c_str());
    std::abort();
}

}  // namespace fuzz
