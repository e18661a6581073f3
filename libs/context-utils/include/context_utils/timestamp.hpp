#pragma once

#include "core/timestamp.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

// The context library's name for the system's point of wall-clock time.
using timestamp = tvk::libs::core::timestamp;

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
