#pragma once

namespace tvk {
namespace libs {
namespace core {

// The address family of an endpoint on the wildcard address.
enum class ip_protocol : int {
    v4 = 0,
    v6 = 1,
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
