#pragma once

#include <boost/utility/string_view.hpp>

namespace tvk {
namespace libs {
namespace core {

// A call site: line, file and enclosing function. The texts are views of string literals.
class source_location {
public:
    source_location() = default;
    source_location(long _line, boost::string_view _file, boost::string_view _function)
        : m_line(_line), m_file(_file), m_function(_function) {}

    long line() const { return m_line; }
    boost::string_view file() const { return m_file; }
    boost::string_view function() const { return m_function; }

    // The file path relative to the source root, with a leading "/".
    boost::string_view short_file() const;
    // The qualified function name without return type and parameters.
    boost::string_view short_function() const;

private:
    boost::string_view remove_directory_prefix(boost::string_view _path) const;

    long m_line = 0;
    boost::string_view m_file = "unknown file";
    boost::string_view m_function = "unknown function";
};

}  // namespace core
}  // namespace libs
}  // namespace tvk

// The source location of the line where it is written.
#define TVK_SOURCE_LOCATION \
    ::tvk::libs::core::source_location(__LINE__, __FILE__, __PRETTY_FUNCTION__)
