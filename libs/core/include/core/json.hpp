#pragma once

#include <json/json.h>

#include <boost/utility/string_view.hpp>
#include <memory>
#include <string>

#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace json {

struct parse_result {
    Json::Value result;
    bool ok;
    std::string error;
};

// Parses exactly the characters of the view; reports bad input only through the result.
inline parse_result try_parse(boost::string_view _str) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    parse_result parsed{Json::Value(), false, std::string()};
    const char* begin = _str.data();
    // jsoncpp wants a pointer range; an empty view may have a null data pointer.
    if (begin == nullptr) {
        begin = "";
    }
    Json::Value document;
    std::string errors;
    bool ok = false;
    try {
        ok = reader->parse(begin, begin + _str.size(), &document, &errors);
    } catch (const Json::Exception& e) {
        // The reader raises, instead of reporting, for text nested beyond its stack limit.
        errors = e.what();
    }
    if (ok) {
        parsed.result = std::move(document);
        parsed.ok = true;
    } else {
        parsed.error = errors.empty() ? std::string("unknown parse error") : std::move(errors);
    }
    return parsed;
}

// Parses or raises exception "parse error: ..." at the caller's location.
inline Json::Value parse(boost::string_view _str, source_location _location) {
    auto parsed = try_parse(_str);
    if (!parsed.ok) {
        throw exception("parse error: " + parsed.error, _location);
    }
    return std::move(parsed.result);
}

// The compact one-line form.
inline std::string to_string(const Json::Value& _json) {
    Json::StreamWriterBuilder builder;
    builder["commentStyle"] = "None";
    builder["indentation"] = "";
    return Json::writeString(builder, _json);
}

// A view of a string value's bytes; empty for any other value.
inline boost::string_view as_string_view(const Json::Value& _json) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (_json.isString() && _json.getString(&begin, &end)) {
        return boost::string_view(begin, static_cast<std::size_t>(end - begin));
    }
    return boost::string_view();
}

}  // namespace json
}  // namespace core
}  // namespace libs
}  // namespace tvk
