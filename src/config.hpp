#pragma once

#include <istream>
#include <set>
#include <string>

#include "config_parser/config.hpp"
#include "config_parser/result.hpp"

namespace tvk {

// The service's settings, read once from its JSON configuration file.
struct config {
    struct {
        std::string pidfile;
        std::string debug_port;
        bool local_debug = false;
    } system;
    struct {
        std::string output_port;
    } proxy;
    struct {
        std::string url;
        int timeout = 0;
    } server;
    struct {
        std::string address;
        int port = 0;
    } redis;
    bool modify_server_state = true;
    std::set<std::string> zone_types;

    // Raises std::runtime_error "Cannot parse json: ..." for a stream that is not JSON, and
    // exception "Config file is invalid: ..." listing every missing or mistyped key; a port or
    // time-out outside the int range raises Json::LogicError naming its key.
    explicit config(std::istream& _stream);
};

// The zone type names of the array; fails at the first entry that is not a string.
libs::config::result<std::set<std::string>> get_zone_types(const libs::config::array& _zone_types);

}  // namespace tvk
