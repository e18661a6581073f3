#pragma once

#include <boost/range/any_range.hpp>
#include <string>

namespace tvk {
namespace libs {
namespace context_utils {
namespace parsers {

// A list of texts read from a JSON array: each element is converted when the range is read,
// in array order. It refers into the JSON and must not outlive it.
typedef boost::any_range<std::string, boost::bidirectional_traversal_tag, const std::string, long>
    string_list;

}  // namespace parsers
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
