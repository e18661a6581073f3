#pragma once

#include <json/json.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "test_support/http_server.hpp"
#include "test_support/redis_server.hpp"
#include "test_support/zmq_publisher.hpp"

namespace test_support {

// One frame that the service posted for a device.
struct posted_frame {
    std::string uid;
    std::string hex;
    std::string body;  // the request body as it arrived
};

// The world around the service under test: a location server that serves the REST lists of
// trackable objects and zones (every other list empty) and takes the device frames posted to
// "/api/v2/private/user_msg/" with 200, the publisher of the service's message stream, and a
// Redis server. Everything listens on free loopback ports.
class location_site {
public:
    static const char* const user_msg_path;  // "/api/v2/private/user_msg/"

    location_site();
    location_site(const location_site&) = delete;
    location_site& operator=(const location_site&) = delete;

    http_server& server() { return m_server; }
    const http_server& server() const { return m_server; }
    zmq_publisher& publisher() { return m_publisher; }
    const zmq_publisher& publisher() const { return m_publisher; }
    redis_server& redis() { return m_redis; }
    const redis_server& redis() const { return m_redis; }

    // Each serves _list (a JSON array) from now on; both lists start empty.
    void set_trackable_objects(const Json::Value& _list);
    void set_zones(const Json::Value& _list);

    // Queues a frame on the stream: "#", the topic, a blank and the text.
    void publish(const std::string& _topic, const std::string& _text);
    // The same with the compact text of _message.
    void publish(const std::string& _topic, const Json::Value& _message);
    // Queues the frames of _messages, made as by publish, as the parts of one ZeroMQ message:
    // a subscriber receives all of them or none, so the later ones are at hand as soon as the
    // first one is.
    void publish_together(const std::string& _topic, const std::vector<Json::Value>& _messages);

    // The frames posted so far, in order of arrival; a post whose body is not the frame object
    // has an empty uid and hex.
    std::vector<posted_frame> frames() const;
    // Waits until _predicate holds for the frames posted so far; false at the deadline.
    bool wait_for_frames(const std::function<bool(const std::vector<posted_frame>&)>& _predicate,
                         std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;
    bool wait_for_frame_count(std::size_t _count,
                              std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;
    // The number of GET requests of _path so far.
    std::size_t get_count(const std::string& _path) const;

private:
    http_server m_server;
    zmq_publisher m_publisher;
    redis_server m_redis;
};

// Location objects and stream messages as the location server writes them. Times are whole
// seconds and milliseconds since the epoch.
namespace site {

// "2023-11-14T22:13:20.250Z" for 1700000000 s and 250 ms.
std::string iso_time(long long _seconds, int _milliseconds = 0);

// A JSON array of _items, such as a list for set_trackable_objects or set_zones.
Json::Value list(std::initializer_list<Json::Value> _items);

// A trackable object; with a MAC address it has a node carrying it.
Json::Value tag(const std::string& _uid);
Json::Value tag(const std::string& _uid, const std::string& _mac);

// A zone of sublocation 3, zone type 2 and alarm level 1, with the shape "circle" (no
// vertices in its enter frames) and the trackables listed with their entry times.
Json::Value zone(const std::string& _uid, unsigned int _zone_id, const std::string& _type,
                 const std::vector<std::pair<std::string, long long>>& _trackables = {});

// A "zone_event" message.
Json::Value zone_event(const std::string& _obj_uid, const std::string& _zone_uid,
                       const std::string& _type, const std::string& _action, long long _ts,
                       long long _ms = 0);

// A "user_msg" message from the device of _dev_id carrying _hex.
Json::Value user_msg(const std::string& _dev_id, const std::string& _hex,
                     const std::string& _mac = "AA:BB:CC:DD:EE:FF", long long _ts = 1700000000,
                     long long _ms = 0);

// A "notify" message about an object: _plist is the object.
Json::Value notify(const std::string& _object, const std::string& _action,
                   const Json::Value& _plist, long long _ts, long long _ms = 0);

// A "notify" message of a device's life sign: action "NA" (reboot) or "HB" (heartbeat).
Json::Value device_notify(const std::string& _action, const std::string& _dev_id);

}  // namespace site

}  // namespace test_support
