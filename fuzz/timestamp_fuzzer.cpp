// The timestamp readers: the core timestamp's ISO 8601 reader and the message parsers'
// fixed-position reader, over the input text. A time the core reader accepts must read back
// from the text it is written as (the Redis mirror stores times so and reads them back).
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "core/exception.hpp"
#include "core/timestamp.hpp"
#include "fuzz_support.hpp"
#include "parsers/iso8601_time.hpp"
#include "parsers/parser_utils.hpp"

namespace {

using tvk::libs::context_utils::parsers::iso8601_time;
using tvk::libs::context_utils::parsers::parser_utils;
using tvk::libs::core::timestamp;

void check_core_reader(const std::string& _text) {
    const auto parsed = timestamp::try_parse(_text);
    try {
        const timestamp raised(_text);
        if (!parsed || raised != *parsed) {
            fuzz::property_failed("tvk::libs::core::timestamp", "the two readers differ");
        }
    } catch (const tvk::libs::core::exception&) {
        if (parsed) {
            fuzz::property_failed("tvk::libs::core::timestamp", "a readable text raised");
        }
    } catch (...) {
        fuzz::unexpected_exception("tvk::libs::core::timestamp");
    }
    if (!parsed) {
        return;
    }
    if (parsed->get_ms() > 999) {
        fuzz::property_failed("tvk::libs::core::timestamp", "milliseconds beyond 999");
    }
    (void)parsed->to_iso_8601(false, ' ', false);
    const std::string written = parsed->to_iso_8601(true, 'T', true);
    const auto read_back = timestamp::try_parse(written);
    if (!read_back || *read_back != *parsed) {
        fuzz::property_failed("tvk::libs::core::timestamp",
                              "the time written as " + written + " does not read back");
    }
}

void check_message_reader(const std::string& _text) {
    const auto parsed = iso8601_time::parse_time(_text);
    Json::Value object(Json::objectValue);
    object["t"] = _text;
    try {
        const auto optional = parser_utils::try_get_iso8601_timestamp(object, "t");
        const auto required = parser_utils::get_iso8601_timestamp(object, "t", nullptr);
        if (!optional || *optional != required || !parsed) {
            fuzz::property_failed("parser_utils", "the two readers differ");
        }
    } catch (const std::logic_error&) {
        if (parsed) {
            fuzz::property_failed("parser_utils", "a readable text raised");
        }
    } catch (...) {
        fuzz::unexpected_exception("parser_utils");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    const std::string text = fuzz::text_of(_data, _size);
    check_core_reader(text);
    check_message_reader(text);
    return 0;
}
