#pragma once

#include <json/json.h>

#include <utility>

namespace tvk {
namespace libs {
namespace context_utils {

// One parsed JSON value, tagged by where it came from so that the forms cannot be mixed up.
template <class _tag>
class json_template {
public:
    explicit json_template(Json::Value _value) : m_value(std::move(_value)) {}

    const Json::Value& get_json() const& { return m_value; }
    Json::Value get_json() && { return std::move(m_value); }

private:
    Json::Value m_value;
};

struct _json_answer_tag;
struct _json_notify_tag;
struct _json_object_tag;

// The whole body of one REST answer.
typedef json_template<_json_answer_tag> json_answer;
// One whole "notify" (or position) message: the envelope and its "plist".
typedef json_template<_json_notify_tag> json_notify;
// One element of a REST answer's array: one object of a kind.
typedef json_template<_json_object_tag> json_object;

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
