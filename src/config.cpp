#include "config.hpp"

#include <tuple>

#include "core/exception.hpp"

namespace tvk {

libs::config::result<std::set<std::string>> get_zone_types(const libs::config::array& _zone_types) {
    std::set<std::string> zone_types;
    std::size_t index = 0;
    for (const libs::config::value& entry : _zone_types) {
        const auto name = entry.get<std::string>();
        if (!name) {
            return libs::config::error_reason{"zone_types: not a zone type: " +
                                              std::to_string(index)};
        }
        zone_types.insert(*name);
        ++index;
    }
    return zone_types;
}

config::config(std::istream& _stream) {
    const auto document = libs::config::config::create<libs::config::type::json>(_stream);
    // Every required key is looked up before any is checked, so that one report lists them all.
    const auto pidfile = document->get_by_path<std::string>({"system", "pidfile"});
    const auto debug_port = document->get_by_path<std::string>({"system", "debug_port"});
    const auto local_debug = document->get_by_path<bool>({"system", "local_debug"});
    const auto output_port = document->get_by_path<std::string>({"proxy", "output_port"});
    const auto url = document->get_by_path<std::string>({"server", "url"});
    const auto timeout = document->get_by_path<int>({"server", "timeout"});
    const auto address = document->get_by_path<std::string>({"redis", "address"});
    const auto port = document->get_by_path<int>({"redis", "port"});
    const auto zone_types_array = document->get_by_path<libs::config::array>({"zone_types"});

    modify_server_state =
        document->get_by_path<bool>({"debug", "modify_server_state"}).try_get().value_or(true);

    const auto required = pidfile + debug_port + local_debug + output_port + url + timeout +
                          address + port + zone_types_array;
    if (!required.ok()) {
        TVK_THROW("Config file is invalid: " + required.reason());
    }
    system.pidfile = pidfile.value();
    system.debug_port = debug_port.value();
    system.local_debug = local_debug.value();
    proxy.output_port = output_port.value();
    server.url = url.value();
    server.timeout = timeout.value();
    redis.address = address.value();
    redis.port = port.value();

    const auto types = get_zone_types(zone_types_array.value());
    if (!types.ok()) {
        TVK_THROW("Config file is invalid: " + types.reason());
    }
    zone_types = types.value();
}

}  // namespace tvk
