#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "config_parser/config.hpp"

namespace config_parser_tests {

inline std::unique_ptr<tvk::libs::config::config> load(const std::string& _text) {
    std::istringstream stream(_text);
    return tvk::libs::config::config::create<tvk::libs::config::type::json>(stream);
}

}  // namespace config_parser_tests
