#pragma once

#include <json/json.h>

#include <boost/optional.hpp>

#include "context_utils/lazy_value.hpp"
#include "json_value.hpp"

namespace tvk {
namespace libs {
namespace context_utils {
namespace objects {

// The fields of an object carried by a notification: its "plist" (null when absent).
inline const Json::Value& plist_of(const json_notify& _json) {
    return _json.get_json()["plist"];
}

// The update time of a REST element is its "updated_at"; that of a notification is the
// envelope's "ts" seconds and "ms" milliseconds, whatever "plist" says.
inline timestamp updated_at(const Json::Value& _json_value,
                            const boost::optional<Json::Value>& _json_notify,
                            const lazy_value<timestamp_value>& _updated_at,
                            const lazy_value<uint_value>& _ts, const lazy_value<uint_value>& _ms) {
    if (!_json_notify) {
        return _updated_at.get(_json_value, "updated_at", nullptr);
    }
    const unsigned int seconds = _ts.get(*_json_notify, "ts", nullptr);
    const unsigned int milliseconds = _ms.get(*_json_notify, "ms", nullptr);
    return timestamp(static_cast<time_t>(seconds), milliseconds);
}

// Calls _callback for each item of an optional list until it returns false.
template <class OptionalItems, class Callback>
bool for_each_item(const OptionalItems& _items, const Callback& _callback) {
    if (!_items) {
        return true;
    }
    for (const auto& item : *_items) {
        if (!_callback(item)) {
            return false;
        }
    }
    return true;
}

}  // namespace objects
}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
