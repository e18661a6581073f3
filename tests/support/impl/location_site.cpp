#include "test_support/location_site.hpp"

#include <time.h>

#include <cstdio>
#include <memory>
#include <thread>

namespace test_support {

const char* const location_site::user_msg_path = "/api/v2/private/user_msg/";

namespace {
std::string compact(const Json::Value& _value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, _value);
}

http_answer list_answer(const std::string& _key, const Json::Value& _list) {
    Json::Value answer(Json::objectValue);
    answer[_key] = _list;
    return {200, compact(answer)};
}

// "#", the topic, a blank and the text: one frame of the stream.
std::string stream_frame(const std::string& _topic, const std::string& _text) {
    return "#" + _topic + " " + _text;
}

posted_frame read_frame(const http_request& _request) {
    posted_frame frame;
    frame.body = _request.body;
    Json::Value body;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    if (reader->parse(_request.body.data(), _request.body.data() + _request.body.size(), &body,
                      &errors) &&
        body.isObject() && body["uid"].isString() && body["data"].isObject() &&
        body["data"]["hex"].isString()) {
        frame.uid = body["uid"].asString();
        frame.hex = body["data"]["hex"].asString();
    }
    return frame;
}
}  // namespace

location_site::location_site() {
    set_trackable_objects(Json::Value(Json::arrayValue));
    set_zones(Json::Value(Json::arrayValue));
    m_server.answer("GET", "/api/private/win_anchors/",
                    list_answer("win_anchors", Json::Value(Json::arrayValue)));
    m_server.answer("GET", "/api/private/sublocations/",
                    list_answer("sublocations", Json::Value(Json::arrayValue)));
    m_server.answer("GET", "/api/private/alarms/",
                    list_answer("alarms", Json::Value(Json::arrayValue)));
    m_server.answer("GET", "/api/private/nodes/",
                    list_answer("nodes", Json::Value(Json::arrayValue)));
    m_server.answer("POST", user_msg_path, {200, "{}"});
}

void location_site::set_trackable_objects(const Json::Value& _list) {
    m_server.answer("GET", "/api/private/track_obj/", list_answer("trackableObjects", _list));
}

void location_site::set_zones(const Json::Value& _list) {
    m_server.answer("GET", "/api/private/zones/", list_answer("zones", _list));
}

void location_site::publish(const std::string& _topic, const std::string& _text) {
    m_publisher.publish(stream_frame(_topic, _text));
}

void location_site::publish(const std::string& _topic, const Json::Value& _message) {
    publish(_topic, compact(_message));
}

void location_site::publish_together(const std::string& _topic,
                                     const std::vector<Json::Value>& _messages) {
    std::vector<std::string> parts;
    for (const auto& message : _messages) {
        parts.push_back(stream_frame(_topic, compact(message)));
    }
    m_publisher.publish_parts(std::move(parts));
}

std::vector<posted_frame> location_site::frames() const {
    std::vector<posted_frame> frames;
    for (const auto& request : m_server.requests()) {
        if (request.method == "POST" && request.path == user_msg_path) {
            frames.push_back(read_frame(request));
        }
    }
    return frames;
}

bool location_site::wait_for_frames(
    const std::function<bool(const std::vector<posted_frame>&)>& _predicate,
    std::chrono::milliseconds _timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + _timeout;
    for (;;) {
        if (_predicate(frames())) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool location_site::wait_for_frame_count(std::size_t _count,
                                         std::chrono::milliseconds _timeout) const {
    return wait_for_frames(
        [_count](const std::vector<posted_frame>& _frames) { return _frames.size() >= _count; },
        _timeout);
}

std::size_t location_site::get_count(const std::string& _path) const {
    std::size_t count = 0;
    for (const auto& request : m_server.requests()) {
        if (request.method == "GET" && request.path == _path) {
            ++count;
        }
    }
    return count;
}

namespace site {

std::string iso_time(long long _seconds, int _milliseconds) {
    const time_t seconds = static_cast<time_t>(_seconds);
    struct tm broken_down {};
    gmtime_r(&seconds, &broken_down);
    char buffer[80] = {};
    std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                  broken_down.tm_year + 1900, broken_down.tm_mon + 1, broken_down.tm_mday,
                  broken_down.tm_hour, broken_down.tm_min, broken_down.tm_sec, _milliseconds);
    return buffer;
}

Json::Value list(std::initializer_list<Json::Value> _items) {
    Json::Value result(Json::arrayValue);
    for (const auto& item : _items) {
        result.append(item);
    }
    return result;
}

Json::Value tag(const std::string& _uid) {
    Json::Value tag(Json::objectValue);
    tag["uid"] = _uid;
    tag["name"] = "tag " + _uid;
    tag["updated_at"] = iso_time(1690000000);
    return tag;
}

Json::Value tag(const std::string& _uid, const std::string& _mac) {
    Json::Value result = tag(_uid);
    result["node"]["mac_address"] = _mac;
    result["node"]["responsive"] = true;
    return result;
}

Json::Value zone(const std::string& _uid, unsigned int _zone_id, const std::string& _type,
                 const std::vector<std::pair<std::string, long long>>& _trackables) {
    Json::Value zone(Json::objectValue);
    zone["uid"] = _uid;
    zone["name"] = "zone " + _uid;
    zone["zone_id"] = _zone_id;
    zone["zone_type_name"] = _type;
    zone["zone_type_id"] = 2;
    zone["zone_alarm_level"] = 1;
    zone["sublocation_id"] = 3;
    zone["shape"] = "circle";
    zone["zone_geometry"]["radius"] = 5;
    zone["updated_at"] = iso_time(1690000000);
    zone["trackables_in_zone"] = Json::Value(Json::arrayValue);
    for (const auto& trackable : _trackables) {
        Json::Value entry(Json::objectValue);
        entry["uid"] = trackable.first;
        entry["entered"]["x"] = 1;
        entry["entered"]["y"] = 2;
        entry["entered"]["z"] = 0;
        entry["entered"]["time"] = iso_time(trackable.second);
        zone["trackables_in_zone"].append(entry);
    }
    return zone;
}

Json::Value zone_event(const std::string& _obj_uid, const std::string& _zone_uid,
                       const std::string& _type, const std::string& _action, long long _ts,
                       long long _ms) {
    Json::Value message(Json::objectValue);
    message["ts"] = Json::Int64(_ts);
    message["ms"] = Json::Int64(_ms);
    message["obj_uid"] = _obj_uid;
    message["zone_uid"] = _zone_uid;
    message["zone_type_name"] = _type;
    message["action"] = _action;
    return message;
}

Json::Value user_msg(const std::string& _dev_id, const std::string& _hex, const std::string& _mac,
                     long long _ts, long long _ms) {
    Json::Value message(Json::objectValue);
    message["hex"] = _hex;
    message["dev_id"] = _dev_id;
    message["mac"] = _mac;
    message["ts"] = Json::Int64(_ts);
    message["ms"] = Json::Int64(_ms);
    return message;
}

Json::Value notify(const std::string& _object, const std::string& _action,
                   const Json::Value& _plist, long long _ts, long long _ms) {
    Json::Value message(Json::objectValue);
    message["object"] = _object;
    message["action"] = _action;
    message["plist"] = _plist;
    message["ts"] = Json::Int64(_ts);
    message["ms"] = Json::Int64(_ms);
    return message;
}

Json::Value device_notify(const std::string& _action, const std::string& _dev_id) {
    Json::Value message(Json::objectValue);
    message["object"] = "DEVICE";
    message["action"] = _action;
    message["dev_id"] = _dev_id;
    return message;
}

}  // namespace site

}  // namespace test_support
