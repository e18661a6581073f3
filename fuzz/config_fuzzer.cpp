// The configuration reader through the service's settings: the input is the file's text.
// A file is either refused with one of the reader's errors or gives settings; settings are
// read twice alike.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

#include "config.hpp"
#include "core/exception.hpp"
#include "fuzz_support.hpp"

namespace {

const char* const entry = "tvk::config";

bool same(const tvk::config& _a, const tvk::config& _b) {
    return _a.system.pidfile == _b.system.pidfile && _a.system.debug_port == _b.system.debug_port &&
           _a.system.local_debug == _b.system.local_debug &&
           _a.proxy.output_port == _b.proxy.output_port && _a.server.url == _b.server.url &&
           _a.server.timeout == _b.server.timeout && _a.redis.address == _b.redis.address &&
           _a.redis.port == _b.redis.port && _a.modify_server_state == _b.modify_server_state &&
           _a.zone_types == _b.zone_types;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    const std::string text = fuzz::text_of(_data, _size);
    try {
        std::istringstream first_stream(text);
        const tvk::config first(first_stream);
        std::istringstream second_stream(text);
        const tvk::config second(second_stream);
        if (!same(first, second)) {
            fuzz::property_failed(entry, "one file read twice gives two settings");
        }
    } catch (const tvk::libs::core::exception&) {
        // "Config file is invalid: ..."
    } catch (const Json::LogicError&) {
        // A port or time-out beyond the int range, named by its key.
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()).rfind("Cannot parse json: ", 0) != 0) {
            fuzz::unexpected_exception(entry);
        }
    } catch (...) {
        fuzz::unexpected_exception(entry);
    }
    return 0;
}
