#pragma once

#include <exception>
#include <ostream>
#include <string>

#include "core/source_location.hpp"

namespace tvk {
namespace libs {
namespace core {

// An exception that knows where it was raised.
class located_exception : public std::exception {
public:
    explicit located_exception(source_location _location);

    source_location get_source_location() const { return m_source_location; }

    // Writes the short file name, ":" and the line.
    virtual std::ostream& describe(std::ostream& _stream) const;

    // The text of describe(); valid until the next call on this object.
    const char* what() const noexcept override;

private:
    source_location m_source_location;
    mutable std::string m_what;
};

// The exception of the whole system: a message and where it was raised.
class exception : public located_exception {
public:
    exception(std::string _message, source_location _location);

    std::ostream& describe(std::ostream& _stream) const override;

    const std::string& get_string_error() const { return m_str_error; }

private:
    std::string m_str_error;
};

// A failed internal check; the message is "check failed: " and the condition.
class check_failed_exception : public exception {
public:
    check_failed_exception(std::string _condition, source_location _location);
};

}  // namespace core
}  // namespace libs
}  // namespace tvk

// Raises tvk::libs::core::exception with the given message at this line.
#define TVK_THROW(message) throw ::tvk::libs::core::exception((message), TVK_SOURCE_LOCATION)

// Raises check_failed_exception with the condition's text when it does not hold.
#define TVK_CHECK(condition)                                                                  \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            throw ::tvk::libs::core::check_failed_exception(#condition, TVK_SOURCE_LOCATION); \
        }                                                                                     \
    } while (false)
