#include "core/source_location.hpp"

#include "core/constants.hpp"

namespace tvk {
namespace libs {
namespace core {

boost::string_view source_location::short_file() const {
    return remove_directory_prefix(m_file);
}

boost::string_view source_location::remove_directory_prefix(boost::string_view _path) const {
    // Cut by length only: every file of the tree starts with the source root.
    const auto prefix_length = constants::source_directory.size();
    if (_path.size() < prefix_length) {
        return _path;
    }
    return _path.substr(prefix_length);
}

boost::string_view source_location::short_function() const {
    const auto paren = m_function.find('(');
    if (paren == boost::string_view::npos) {
        return m_function;
    }
    static constexpr boost::string_view ns = "tvk::";
    // The last "tvk::" that starts at or before the first "(".
    const auto start = m_function.rfind(ns, paren);
    if (start == boost::string_view::npos) {
        return m_function;
    }
    return m_function.substr(start, paren - start);
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
