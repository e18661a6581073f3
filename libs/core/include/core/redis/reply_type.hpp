#pragma once

#include <boost/utility/string_view.hpp>

#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

// The kind of a reply, with hiredis's codes.
enum class reply_type {
    STRING = 1,
    ARRAY = 2,
    INTEGER = 3,
    NIL = 4,
    STATUS = 5,
    ERROR = 6,
    _count
};

// "string", "array", ...; raises for a value outside the enumeration.
inline boost::string_view to_string(reply_type _type) {
    switch (_type) {
        case reply_type::STRING:
            return "string";
        case reply_type::ARRAY:
            return "array";
        case reply_type::INTEGER:
            return "integer";
        case reply_type::NIL:
            return "nil";
        case reply_type::STATUS:
            return "status";
        case reply_type::ERROR:
            return "error";
        case reply_type::_count:
            break;
    }
    TVK_THROW("Unknown enumeration value");
}

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
