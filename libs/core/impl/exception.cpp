#include "core/exception.hpp"

#include <sstream>

namespace tvk {
namespace libs {
namespace core {

located_exception::located_exception(source_location _location) : m_source_location(_location) {}

std::ostream& located_exception::describe(std::ostream& _stream) const {
    return _stream << m_source_location.short_file() << ":" << m_source_location.line();
}

const char* located_exception::what() const noexcept {
    try {
        std::ostringstream stream;
        describe(stream);
        m_what = stream.str();
    } catch (...) {
        // Out of memory while describing: keep whatever text was there before.
    }
    return m_what.c_str();
}

exception::exception(std::string _message, source_location _location)
    : located_exception(_location), m_str_error(std::move(_message)) {}

std::ostream& exception::describe(std::ostream& _stream) const {
    return located_exception::describe(_stream) << " " << m_str_error;
}

check_failed_exception::check_failed_exception(std::string _condition, source_location _location)
    : exception("check failed: " + std::move(_condition), _location) {}

}  // namespace core
}  // namespace libs
}  // namespace tvk
