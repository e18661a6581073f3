#pragma once

#include <string>

namespace tvk {
namespace libs {
namespace core {
namespace constants {

// Fixed by the build (a generated source file).
extern const std::string git_version;
extern const std::string git_subversion;
extern const std::string library_name;
extern const std::string project_name;
// The absolute source root without a trailing separator.
extern const std::string source_directory;

}  // namespace constants
}  // namespace core
}  // namespace libs
}  // namespace tvk
