#pragma once

#include <string>
#include <utility>

#include "core/exception.hpp"

namespace test_support {

// The message (without its location) of the core exception that _f raises; "" when it raises
// none. Other exceptions pass through.
template <class F>
std::string core_error(F&& _f) {
    try {
        std::forward<F>(_f)();
    } catch (const tvk::libs::core::exception& e) {
        return e.get_string_error();
    }
    return std::string();
}

}  // namespace test_support
