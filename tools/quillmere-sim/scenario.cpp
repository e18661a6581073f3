#include "scenario.hpp"

#include <json/json.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/json.hpp"
#include "devices.hpp"
#include "frame_text.hpp"
#include "hex_frame.hpp"
#include "test_support/collected.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "test_support/location_site.hpp"
#include "test_support/polling_thread.hpp"
#include "test_support/process.hpp"
#include "test_support/redis_data.hpp"
#include "test_support/service_process.hpp"
#include "timeline.hpp"

namespace quillmere_sim {

namespace {
using namespace std::chrono_literals;
namespace site = test_support::site;

struct interrupted {};

struct step_failed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Time allowed for what the service does at once (a frame, an answer taken).
constexpr auto prompt = 5s;
// Time allowed for a resend: the service's own period of 2.5 s, and some.
constexpr auto resend_period = 2500ms;
constexpr auto resend_allowance = resend_period + 3s;

// The configured zone types; "canteen" zones are not among them.
const std::vector<std::string> zone_types = {"restricted", "workshop"};

struct tag_spec {
    const char* uid;
    const char* name;
    const char* mac;  // nullptr: no node
};

const tag_spec forklift_1{"forklift-1", "Forklift 1", "00:1A:2B:3C:4D:01"};
const tag_spec forklift_2{"forklift-2", "Forklift 2", "00:1A:2B:3C:4D:02"};
const tag_spec visitor_7{"visitor-7", "Visitor badge 7", nullptr};

struct zone_spec {
    const char* uid;
    unsigned int id;
    const char* type;
    unsigned int type_id;
    unsigned int alarm_level;
    std::vector<std::pair<int, int>> vertices;  // empty: a circle
};

const zone_spec loading_bay{
    "loading-bay", 17, "restricted", 7, 2, {{0, 0}, {1200, 0}, {1200, 800}, {0, 800}}};
const zone_spec paint_shop{"paint-shop", 18, "workshop", 4, 1, {}};
const zone_spec cold_store{
    "cold-store", 19, "restricted", 7, 3, {{1500, 0}, {2100, 0}, {1800, -450}}};
const zone_spec canteen{"canteen", 20, "canteen",
                        9,         0,  {{0, 900}, {400, 900}, {400, 1300}, {0, 1300}}};
// The cold store after it was enlarged.
const std::vector<std::pair<int, int>> cold_store_enlarged = {
    {1500, 0}, {2400, 0}, {2400, -600}, {1500, -600}};

struct wall_time {
    long long seconds;
    long long milliseconds;
};

wall_time now() {
    const auto since_epoch = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    return {since_epoch / 1000, since_epoch % 1000};
}

Json::Value tag_object(const tag_spec& _tag) {
    Json::Value tag = _tag.mac != nullptr ? site::tag(_tag.uid, _tag.mac) : site::tag(_tag.uid);
    tag["name"] = _tag.name;
    tag["project_uid"] = "demo-project";
    tag["company_uid"] = "demo-company";
    tag["default_height"] = 150;
    tag["type"] = _tag.mac != nullptr ? "vehicle" : "person";
    tag["category"] = _tag.mac != nullptr ? "forklift" : "visitor";
    tag["tag_config"]["stationary"] = false;
    return tag;
}

Json::Value zone_object(const zone_spec& _zone,
                        const std::vector<std::pair<std::string, long long>>& _trackables = {}) {
    Json::Value zone = site::zone(_zone.uid, _zone.id, _zone.type, _trackables);
    zone["project_uid"] = "demo-project";
    zone["active"] = true;
    zone["default_allowed"] = true;
    zone["priority"] = 0;
    zone["zone_type_id"] = _zone.type_id;
    zone["zone_alarm_level"] = _zone.alarm_level;
    zone["zone_exceptions"] = Json::Value(Json::arrayValue);
    zone["zone_exceptions_groups"] = Json::Value(Json::arrayValue);
    if (_zone.vertices.empty()) {
        zone["shape"] = "circle";
        zone["zone_geometry"]["radius"] = 250;
    } else {
        zone["shape"] = "polygon";
        zone["zone_geometry"] = Json::Value(Json::objectValue);
        for (const auto& vertex : _zone.vertices) {
            Json::Value point(Json::objectValue);
            point["x"] = vertex.first;
            point["y"] = vertex.second;
            zone["zone_geometry"]["positions"].append(point);
        }
    }
    return zone;
}

std::string shape_text(const Json::Value& _zone) {
    if (_zone["shape"].asString() != "polygon") {
        return _zone["shape"].asString();
    }
    std::ostringstream text;
    text << "polygon";
    for (const auto& point : _zone["zone_geometry"]["positions"]) {
        text << " (" << point["x"].asInt() << "," << point["y"].asInt() << ")";
    }
    return text.str();
}

// The line of a debug-socket copy: "&<module>:<component> <date> <time> <indentation><line>".
std::string message_of(const std::string& _copy) {
    std::size_t position = 0;
    for (int field = 0; field < 3 && position != std::string::npos; ++field) {
        position = _copy.find(' ', position);
        if (position != std::string::npos) {
            ++position;
        }
    }
    if (position == std::string::npos) {
        return _copy;
    }
    const auto text = _copy.find_first_not_of(' ', position);
    return text == std::string::npos ? std::string() : _copy.substr(text);
}

// The service's lines worth a place in the timeline; the rest shows with --verbose.
bool telling(const std::string& _line) {
    static const char* const marks[] = {"initializing...",  "Caught exeption", "Zone not found",
                                        "Connection error", "Request failed",  "user_msg: "};
    for (const char* mark : marks) {
        if (_line.find(mark) != std::string::npos) {
            return true;
        }
    }
    // The last line of a run, after its source location.
    const std::string last = "exit";
    return _line.size() >= last.size() &&
           _line.compare(_line.size() - last.size(), last.size(), last) == 0;
}

class demo {
public:
    demo(const options& _options, const std::atomic<bool>& _interrupted, std::ostream& _out)
        : m_options(_options), m_interrupted(_interrupted), m_timeline(_out) {}

    int run() {
        int status = 0;
        try {
            set_up();
            start_service();
            if (m_options.short_run) {
                register_device(forklift_1);
                resend();
                leave();
            } else {
                register_device(forklift_1);
                register_device(forklift_2);
                zone_events();
                resend();
                full_device();
                zone_change_and_reboot();
                heartbeat();
                node_lost();
            }
        } catch (const interrupted&) {
            m_timeline.line("demo", "interrupted: stopping the service and Redis");
            status = 130;
        } catch (const std::exception& _error) {
            m_timeline.line("demo", std::string("FAILED: ") + _error.what());
            status = 1;
        }
        finish();
        return status;
    }

private:
    // ---- the world around the service

    void set_up() {
        m_timeline.heading("The stand-in location system");
        m_site = std::make_unique<test_support::location_site>();
        m_directory.write_file("redis.pid", std::to_string(m_site->redis().pid()));
        for (const auto& tag : {forklift_1, forklift_2}) {
            m_devices.add(tag.uid, tag.mac);
        }
        m_tags = {tag_object(forklift_1), tag_object(forklift_2), tag_object(visitor_7)};
        const auto entered = now().seconds - 300;
        for (const auto* zone : {&loading_bay, &paint_shop, &cold_store, &canteen}) {
            m_zones[zone->uid] = zone == &loading_bay
                                     ? zone_object(*zone, {{forklift_1.uid, entered}})
                                     : zone_object(*zone);
            m_zone_names[zone->id] = zone->uid;
        }
        serve_lists();
        m_site->server().answer_with("POST", test_support::location_site::user_msg_path,
                                     [this](const test_support::http_request& _request) {
                                         take_post(_request.body);
                                         return test_support::http_answer{200, "{}"};
                                     });

        m_timeline.line("demo", "location server " + m_site->server().url() + ", stream " +
                                    m_site->publisher().endpoint() + ", Redis " +
                                    m_site->redis().address() + ":" +
                                    std::to_string(m_site->redis().port()) + " (pid " +
                                    std::to_string(m_site->redis().pid()) + ")");
        for (const auto& tag : m_tags) {
            m_timeline.line("demo", "tag " + tag["uid"].asString() +
                                        (tag.isMember("node")
                                             ? ", node " + tag["node"]["mac_address"].asString()
                                             : ", no node"));
        }
        for (const auto* zone : {&loading_bay, &paint_shop, &cold_store, &canteen}) {
            const auto& object = m_zones[zone->uid];
            std::string text = "zone " + std::to_string(zone->id) + " " + zone->uid + ", " +
                               zone->type + ", " + shape_text(object);
            if (!object["trackables_in_zone"].empty()) {
                text += ", lists " + object["trackables_in_zone"][0]["uid"].asString();
            }
            m_timeline.line("demo", text);
        }
        m_timeline.line("demo", "the service handles the zone types restricted and workshop");
    }

    void serve_lists() {
        Json::Value tags(Json::arrayValue);
        for (const auto& tag : m_tags) {
            tags.append(tag);
        }
        m_site->set_trackable_objects(tags);
        Json::Value zones(Json::arrayValue);
        for (const auto& zone : m_zones) {
            zones.append(zone.second);
        }
        m_site->set_zones(zones);
    }

    void start_service() {
        m_timeline.heading("The service starts");
        m_relay.start([this] {
            print_new_log_lines();
            std::this_thread::sleep_for(50ms);
        });
        auto config =
            test_support::service_config(*m_site, m_directory, m_log.endpoint(), zone_types);
        m_service =
            std::make_unique<test_support::service_process>(m_options.service, m_directory, config);
        m_timeline.line("service", "started, pid " + std::to_string(m_service->pid()) +
                                       ", configuration " + m_service->config_file());
        m_timeline.line("demo",
                        "it loads the tags and zones, adds the zone event forklift-1:loading-bay "
                        "from the zone's list, and starts delivering a second later");
        wait_until([this] { return m_log.wait_for_line_containing(": called", 0ms); }, 30s,
                   "the service starting its deliveries");
        print_new_log_lines();
        m_timeline.line("demo", "forklift-1 has no registered device yet: nothing is sent");
    }

    // ---- the scenario

    void register_device(const tag_spec& _tag) {
        m_timeline.heading(std::string("The device of ") + _tag.uid + " registers itself");
        const auto mark = m_frames.size();
        const std::string frame = m_devices.register_tag(_tag.uid);
        const auto time = now();
        m_site->publish("user_msg",
                        site::user_msg(_tag.uid, frame, _tag.mac, time.seconds, time.milliseconds));
        m_timeline.line(
            "device", std::string(_tag.uid) + ": " + describe(decode(frame)) + ", mac " + _tag.mac,
            frame);
        wait_until([&] { return posted(mark, _tag.uid, tvk::ACK); }, prompt,
                   "the acknowledgement of the registration");
        if (_tag.uid == forklift_1.uid) {
            wait_until(
                [&] { return answered(mark, _tag.uid, tvk::ZONE_ENTER_EVENT, loading_bay.id); },
                prompt, "the enter of loading-bay acknowledged");
        }
        pause();
    }

    void zone_events() {
        m_timeline.heading("Zone events");
        acknowledged_zone_event(forklift_2.uid, paint_shop, "enter");
        pause();
        publish_zone_event(visitor_7.uid, loading_bay, "enter");
        m_timeline.line("demo", "visitor-7 has no device: the event is kept, nothing is sent");
        pause();
        publish_zone_event(forklift_1.uid, canteen, "enter");
        m_timeline.line("demo", "canteen is not a handled zone type: the event is dropped");
        pause();
    }

    void resend() {
        m_timeline.heading("A missed frame is sent again");
        m_timeline.line("demo", "forklift-1 drives behind a wall: its device misses one frame");
        m_devices.plan(forklift_1.uid, reply::ignore);
        acknowledged_zone_event(forklift_1.uid, cold_store, "enter", prompt + resend_allowance);
        pause();
    }

    void leave() {
        m_timeline.heading("A tag leaves a zone");
        acknowledged_zone_event(forklift_1.uid, loading_bay, "leave");
        pause();
    }

    void full_device() {
        m_timeline.heading("A full device pauses its enters until a leave makes room");
        m_timeline.line("demo", "forklift-2's device is full: it refuses the next frame");
        m_devices.plan(forklift_2.uid, reply::refuse);
        auto mark = m_frames.size();
        publish_zone_event(forklift_2.uid, loading_bay, "enter");
        wait_until(
            [&] { return seen(mark, forklift_2.uid, tvk::ZONE_ENTER_EVENT, loading_bay.id); },
            prompt, "the enter of loading-bay refused");
        pause();
        publish_zone_event(forklift_2.uid, cold_store, "enter");
        m_timeline.line("demo", "the device is marked full: this enter waits");
        pause();
        m_timeline.line("demo",
                        "leaves still go to a full device; an acknowledged one ends "
                        "the pause");
        mark = m_frames.size();
        publish_zone_event(forklift_2.uid, paint_shop, "leave");
        wait_until(
            [&] {
                return answered(mark, forklift_2.uid, tvk::ZONE_LEAVE_EVENT, paint_shop.id) &&
                       answered(mark, forklift_2.uid, tvk::ZONE_ENTER_EVENT, loading_bay.id) &&
                       answered(mark, forklift_2.uid, tvk::ZONE_ENTER_EVENT, cold_store.id);
            },
            prompt, "the leave acknowledged and the waiting enters sent");
        pause();
    }

    void zone_change_and_reboot() {
        m_timeline.heading("A zone changes, then a device reboots");
        auto& zone = m_zones[cold_store.uid];
        zone = zone_object({cold_store.uid, cold_store.id, cold_store.type, cold_store.type_id,
                            cold_store.alarm_level, cold_store_enlarged});
        serve_lists();
        const auto time = now();
        m_site->publish("notify",
                        site::notify("ZONE", "updated", zone, time.seconds, time.milliseconds));
        m_timeline.line("stream", "notify ZONE updated: cold-store is now " + shape_text(zone));
        m_timeline.line("demo", "no frame for that: the next enters carry the new shape");
        pause();
        const auto mark = m_frames.size();
        m_site->publish("notify", site::device_notify("NA", forklift_1.uid));
        m_timeline.line("stream", "notify NA: the device of forklift-1 rebooted");
        m_timeline.line("demo", "it lost what it knew: every zone of forklift-1 is sent again");
        wait_until(
            [&] {
                return answered(mark, forklift_1.uid, tvk::ZONE_ENTER_EVENT, loading_bay.id) &&
                       answered(mark, forklift_1.uid, tvk::ZONE_ENTER_EVENT, cold_store.id);
            },
            prompt, "the enters of forklift-1 sent again");
        pause();
    }

    void heartbeat() {
        m_timeline.heading("A heartbeat restarts the resends");
        m_timeline.line("demo", "forklift-1's device misses one frame again");
        m_devices.plan(forklift_1.uid, reply::ignore);
        const auto mark = m_frames.size();
        publish_zone_event(forklift_1.uid, cold_store, "leave");
        wait_until([&] { return seen(mark, forklift_1.uid, tvk::ZONE_LEAVE_EVENT, cold_store.id); },
                   prompt, "the leave of cold-store");
        pause(1s);
        m_site->publish("notify", site::device_notify("HB", forklift_1.uid));
        m_timeline.line("stream", "notify HB: heartbeat of forklift-1's device");
        m_timeline.line("demo",
                        "the leave goes again 2.5 s after the heartbeat, not after the "
                        "first send");
        wait_until(
            [&] { return answered(mark, forklift_1.uid, tvk::ZONE_LEAVE_EVENT, cold_store.id); },
            resend_allowance, "the leave of cold-store resent and acknowledged");
        pause();
    }

    void node_lost() {
        m_timeline.heading("A tag loses its node");
        for (auto& tag : m_tags) {
            if (tag["uid"].asString() == forklift_2.uid) {
                tag.removeMember("node");
                serve_lists();
                const auto time = now();
                m_site->publish("notify", site::notify("TRACKABLE_OBJECT", "updated", tag,
                                                       time.seconds, time.milliseconds));
            }
        }
        m_timeline.line("stream", "notify TRACKABLE_OBJECT updated: forklift-2 without a node");
        m_timeline.line("demo", "the service drops forklift-2's device, in Redis too");
        pause();
        publish_zone_event(forklift_2.uid, loading_bay, "leave");
        m_timeline.line("demo", "forklift-2 has no device any more: its leave is not sent");
        pause();
    }

    // ---- the stream and the devices

    void publish_zone_event(const std::string& _tag, const zone_spec& _zone,
                            const std::string& _action) {
        const auto time = now();
        m_site->publish("zone_event", site::zone_event(_tag, _zone.uid, _zone.type, _action,
                                                       time.seconds, time.milliseconds));
        m_timeline.line("stream", "zone_event: " + _tag +
                                      (_action == "leave" ? " leaves " : " enters ") + _zone.uid +
                                      " (" + _zone.type + ")");
    }

    // Publishes a zone event and waits until the device acknowledged its notice.
    void acknowledged_zone_event(const std::string& _tag, const zone_spec& _zone,
                                 const std::string& _action,
                                 std::chrono::milliseconds _timeout = prompt) {
        const auto mark = m_frames.size();
        publish_zone_event(_tag, _zone, _action);
        const bool leave = _action == "leave";
        const unsigned int type = leave ? tvk::ZONE_LEAVE_EVENT : tvk::ZONE_ENTER_EVENT;
        wait_until([&] { return answered(mark, _tag, type, _zone.id); }, _timeout,
                   _tag + "'s device acknowledging the " + (leave ? "leave of " : "enter of ") +
                       _zone.uid);
    }

    // A frame posted to the location server for a device: shown, answered as the device
    // plans, and kept for the scenario's waits. Runs on the server's thread.
    void take_post(const std::string& _body) {
        const auto parsed = tvk::libs::core::json::try_parse(_body);
        const Json::Value& body = parsed.result;
        if (!parsed.ok || !body.isObject() || !body["uid"].isString() || !body["data"].isObject() ||
            !body["data"]["hex"].isString()) {
            m_timeline.line("post", "not a frame: " + _body);
            return;
        }
        const std::string uid = body["uid"].asString();
        const auto handled = m_devices.take(uid, body["data"]["hex"].asString());
        std::string text = uid + ": ";
        if (handled.resend) {
            text += "resend ";
        }
        text += describe(handled.frame, m_zone_names);
        if (handled.frame.valid && handled.frame.type == tvk::ACK) {
            // The devices send nothing else that the service acknowledges.
            text += ", acknowledges the REGISTER_TAG";
        }
        if (!handled.known_device) {
            text += " (no such device here)";
        }
        m_timeline.line("post", text, handled.hex);
        const auto& frame = handled.frame;
        const bool notice =
            frame.type == tvk::ZONE_ENTER_EVENT || frame.type == tvk::ZONE_LEAVE_EVENT;
        if (handled.known_device && frame.valid && notice) {
            const auto name = m_zone_names.find(frame.zone_id());
            const std::string what =
                type_name(frame.type) + " of zone " + std::to_string(frame.zone_id()) +
                (name != m_zone_names.end() ? " " + name->second : std::string());
            if (handled.answer_hex.empty()) {
                m_timeline.line("device", uid + ": no answer, misses " + type_name(frame.type) +
                                              " seq " + tvk::hex_frame::to_hex(frame.seq_no, 2));
            } else {
                const auto time = now();
                m_site->publish("user_msg",
                                site::user_msg(uid, handled.answer_hex, m_devices.mac(uid),
                                               time.seconds, time.milliseconds));
                m_timeline.line(
                    "device",
                    uid + ": " + describe(decode(handled.answer_hex)) +
                        (handled.answer == reply::refuse ? ", full: refuses " : ", acknowledges ") +
                        what,
                    handled.answer_hex);
            }
        }
        m_frames.add(handled);
    }

    // Whether a notice of _type for _zone_id reached _device since the frame _mark.
    bool seen(std::size_t _mark, const std::string& _device, unsigned int _type,
              unsigned int _zone_id) const {
        return find(_mark, [&](const handled_frame& _frame) {
            return _frame.device == _device && _frame.frame.type == _type &&
                   _frame.frame.zone_id() == _zone_id;
        });
    }

    // The same, and the device acknowledged it.
    bool answered(std::size_t _mark, const std::string& _device, unsigned int _type,
                  unsigned int _zone_id) const {
        return find(_mark, [&](const handled_frame& _frame) {
            return _frame.device == _device && _frame.frame.type == _type &&
                   _frame.frame.zone_id() == _zone_id && _frame.answer == reply::ack &&
                   _frame.answered;
        });
    }

    bool posted(std::size_t _mark, const std::string& _device, unsigned int _type) const {
        return find(_mark, [&](const handled_frame& _frame) {
            return _frame.device == _device && _frame.frame.type == _type;
        });
    }

    bool find(std::size_t _mark, const std::function<bool(const handled_frame&)>& _match) const {
        const auto frames = m_frames.items();
        for (std::size_t i = _mark; i < frames.size(); ++i) {
            if (_match(frames[i])) {
                return true;
            }
        }
        return false;
    }

    // ---- waiting

    void check_interrupted() const {
        if (m_interrupted) {
            throw interrupted();
        }
    }

    template <class Predicate>
    void wait_until(Predicate&& _done, std::chrono::milliseconds _timeout,
                    const std::string& _what) {
        const auto deadline = std::chrono::steady_clock::now() + _timeout;
        while (!_done()) {
            check_interrupted();
            if (m_service && m_service->wait(0ms)) {
                throw step_failed("the service ended early (exit status " +
                                  std::to_string(m_service->exit_code()) + ")");
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                throw step_failed("did not see " + _what + " within " +
                                  std::to_string(_timeout.count() / 1000) + " s");
            }
            std::this_thread::sleep_for(10ms);
        }
    }

    // A moment for the reader between two steps.
    void pause(std::chrono::milliseconds _length = 0ms) {
        if (_length == 0ms) {
            _length = m_options.short_run ? 100ms : 600ms;
        }
        const auto until = std::chrono::steady_clock::now() + _length;
        while (std::chrono::steady_clock::now() < until) {
            check_interrupted();
            std::this_thread::sleep_for(10ms);
        }
    }

    // ---- the end

    // From the relay's thread, and from the scenario where the order matters.
    void print_new_log_lines() {
        std::lock_guard<std::mutex> lock(m_log_mutex);
        const auto lines = m_log.lines();
        for (; m_log_printed < lines.size(); ++m_log_printed) {
            const std::string text = message_of(lines[m_log_printed]);
            if (m_options.verbose || telling(text)) {
                m_timeline.line("service", text);
            }
        }
    }

    void finish() {
        m_timeline.heading("The end");
        if (m_service) {
            // Run by hand, Ctrl-C reaches the service too, and it may have ended already.
            const bool running = !m_service->wait(0ms);
            const bool ended = m_service->stop(SIGTERM, 10s);
            // Its last lines come on their own way; they belong before the verdict.
            m_log.wait_for_line_containing("exit", 500ms);
            m_relay.stop();
            print_new_log_lines();
            const std::string status = "exit status " + std::to_string(m_service->exit_code());
            m_timeline.line("service", !ended    ? "did not end within 10 s of SIGTERM"
                                       : running ? "ended on SIGTERM, " + status
                                                 : "had ended, " + status);
        }
        m_relay.stop();
        if (m_site) {
            print_redis();
        }
    }

    void print_redis() {
        const auto& redis = m_site->redis();
        try {
            const auto keys = test_support::redis_keys(redis, "quillmere:*");
            m_timeline.line("redis", std::to_string(keys.size()) + " keys under quillmere:");
            for (const auto& key : keys) {
                const auto type = test_support::parse_redis_reply(redis.command({"TYPE", key}));
                std::string content;
                if (type.text == "hash") {
                    for (const auto& field : test_support::redis_hash(redis, key)) {
                        content += (content.empty() ? "" : "  ") + field.first + "=" + field.second;
                    }
                } else if (type.text == "set") {
                    for (const auto& member : test_support::redis_set(redis, key)) {
                        content += (content.empty() ? "" : ", ") + member;
                    }
                }
                m_timeline.line("redis", key + " (" + type.text + ")", content);
            }
        } catch (const std::exception& _error) {
            m_timeline.line("redis", std::string("not readable: ") + _error.what());
        }
    }

    const options& m_options;
    const std::atomic<bool>& m_interrupted;
    timeline m_timeline;
    // What the server's thread uses lives longer than the site that runs it.
    devices m_devices;
    test_support::collected<handled_frame> m_frames;
    std::map<unsigned int, std::string> m_zone_names;
    std::vector<Json::Value> m_tags;
    std::map<std::string, Json::Value> m_zones;
    test_support::temporary_directory m_directory;
    std::unique_ptr<test_support::location_site> m_site;
    test_support::debug_socket_collector m_log;
    std::unique_ptr<test_support::service_process> m_service;
    std::mutex m_log_mutex;
    std::size_t m_log_printed = 0;
    test_support::polling_thread m_relay;  // last: stopped before what it reads goes
};
}  // namespace

int run_demo(const options& _options, const std::atomic<bool>& _interrupted, std::ostream& _out) {
    int status = 0;
    {
        demo run(_options, _interrupted, _out);
        status = run.run();
    }
    _out << "\nThe service and Redis have stopped." << std::endl;
    return status;
}

}  // namespace quillmere_sim
