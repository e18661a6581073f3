#pragma once

#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace http {

enum class method : int {
    get = 0,
    post = 1,
    put = 2,
    del = 3,
    _count = 4  // the number of methods, not a method
};

// The method's name on the request line; any other value raises "Unknown enumeration value".
inline const char* to_string(method _method) {
    switch (_method) {
        case method::get:
            return "GET";
        case method::post:
            return "POST";
        case method::put:
            return "PUT";
        case method::del:
            return "DELETE";
        default:
            break;
    }
    TVK_THROW("Unknown enumeration value");
}

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
