// A reboot of a tag in 1 000 zones: from the "NA" notice to the end of its walk, the post that
// acknowledges a registration queued after the notice. The walk posts the enters that can wait
// for their answers at once, as many as enters may hold sequence numbers (192); the others
// stay due for the ticks. Against as many bare POSTs to the same server; once with the tag
// alone and once among 100 000 zone events of other tags, over which the dispatcher walks too.
// Between reboots the device refuses every enter posted, which parks the enters, so that no
// resend mixes in, and frees their numbers for the next walk once they have rested. The walks
// are also timed alone: a reboot of a registered tag in no zone, and an acknowledgement that
// matches no record, each up to the post that acknowledges a registration queued after it.

#include <algorithm>
#include <iostream>

#include "bench_support.hpp"
#include "device_numbers.hpp"

namespace bench {

namespace {

const std::string zone_type = "room";
const std::string rebooter = "rebooter";
const std::string rebooter_mac = "AA:BB:CC:DD:EE:01";
// The enters of one device that may wait for their answers at once.
const std::size_t waiting_frames = tvk::device_numbers::ENTER_NUMBERS;

struct variant_result {
    std::vector<double> service;  // seconds to the end of the walk
    std::vector<double> floor;    // seconds for as many bare posts as it posted
    std::vector<double> idle;     // seconds from the reboot of a tag in no zone to the marker
    std::vector<double> ack;      // seconds from an acknowledgement of no record to the marker
};

// _message, which makes the service post _posts_for_message, then a registration of _marker,
// which is registered already and only acknowledged: the time to that acknowledgement.
double time_to_marker(stream_publisher& _publisher, const post_recorder& _posts,
                      const std::string& _topic, const Json::Value& _message,
                      const std::string& _marker, std::size_t _posts_for_message = 0) {
    const std::size_t before = _posts.count();
    const auto start = clock::now();
    _publisher.publish(_topic, _message);
    _publisher.publish("user_msg",
                       test_support::site::user_msg(_marker, registration_frame(1), rebooter_mac));
    const std::size_t marker = before + _posts_for_message + 1;
    const auto acknowledged = _posts.wait_for(marker, 60s);
    if (!acknowledged) {
        throw failure("the marker was not acknowledged");
    }
    if (_posts.bodies(marker - 1, marker)[0].find("\"uid\":\"" + _marker + "\"") ==
        std::string::npos) {
        throw failure("the marker was not the last post");
    }
    return seconds_between(start, *acknowledged);
}

double measure_floor(test_support::location_site& _site, std::size_t _count) {
    bare_http http;
    const std::string url = _site.server().url() + test_support::location_site::user_msg_path;
    http.post(url, frame_body("warm-up", "0400000100"));
    const auto start = clock::now();
    for (std::size_t i = 0; i < _count; ++i) {
        http.post(url, frame_body(rebooter, "0401000C01010900030001020100020000"));
    }
    return seconds_between(start, clock::now());
}

void check_enters(const post_recorder& _posts, std::size_t _from, std::size_t _count) {
    const std::string uid = "\"uid\":\"" + rebooter + "\"";
    for (const auto& body : _posts.bodies(_from, _from + _count)) {
        if (body.find(uid) == std::string::npos || body.find("\"0401") == std::string::npos) {
            throw failure("a post that is not an enter of the rebooted tag: " + body);
        }
    }
}

// One site and its service, the tag's device registered and its enters parked, and two more
// devices of tags in no zone: one to send from, one to mark the end.
class variant {
public:
    variant(const options& _options, std::size_t _zones, std::size_t _others)
        : m_zones(_zones), m_enters(std::min(_zones, waiting_frames)), m_posts(m_site.server()) {
        Json::Value tags(Json::arrayValue);
        tags.append(test_support::site::tag(rebooter, rebooter_mac));
        std::vector<std::pair<std::string, long long>> trackables = {{rebooter, 1700000000}};
        for (std::size_t i = 0; i < _others; ++i) {
            const std::string uid = "other-" + std::to_string(i);
            tags.append(test_support::site::tag(uid));
            trackables.emplace_back(uid, 1700000000);
        }
        Json::Value zones(Json::arrayValue);
        for (std::size_t i = 0; i < _zones; ++i) {
            zones.append(test_support::site::zone(
                "zone-" + std::to_string(i), static_cast<unsigned>(i + 1), zone_type, trackables));
        }
        m_site.set_trackable_objects(tags);
        m_site.set_zones(zones);

        std::cerr << "starting the service on " << _zones * (_others + 1) << " zone events\n";
        m_service = std::make_unique<service_instance>(_options, m_site, m_publisher,
                                                       std::vector<std::string>{zone_type});
        m_service->wait_until_running(600s);
        // The registration is acknowledged, then the enters of the tag go out.
        const std::size_t registered = m_posts.count();
        register_device(rebooter, 1 + m_enters);
        park(registered + 1);
        register_device("idle", 1);
        register_device("marker", 1);
    }

    // A reboot, timed to the end of its walk, and the floor before and after it.
    void reboot_once() {
        // The numbers of the enters refused last time rest for a delivery period (2.5 s) before
        // the walk may take them again. The service tells how long by the time up to which it
        // has read the stream, which only a message read moves on; the marker comes right
        // behind the notice, so a heartbeat of a tag in no zone goes first.
        std::this_thread::sleep_for(2600ms);
        m_publisher.publish("notify", test_support::site::device_notify("HB", "idle"));
        std::this_thread::sleep_for(100ms);
        const double floor_before = measure_floor(m_site, m_enters);
        const std::size_t before = m_posts.count();
        m_result.service.push_back(time_to_marker(m_publisher, m_posts, "notify",
                                                  test_support::site::device_notify("NA", rebooter),
                                                  "marker", m_enters));
        park(before);
        check_enters(m_posts, before, m_enters);
        // The mean of the floors before and after brackets the reboot in time.
        std::this_thread::sleep_for(200ms);
        m_result.floor.push_back((floor_before + measure_floor(m_site, m_enters)) / 2);
    }

    std::size_t enters() const { return m_enters; }

    // The two walks, each timed to the marker.
    void walks_once() {
        m_result.idle.push_back(time_to_marker(m_publisher, m_posts, "notify",
                                               test_support::site::device_notify("NA", "idle"),
                                               "marker"));
        m_result.ack.push_back(time_to_marker(
            m_publisher, m_posts, "user_msg",
            test_support::site::user_msg("idle", "0400000177", rebooter_mac), "marker"));
    }

    const variant_result& result() const { return m_result; }

private:
    void register_device(const std::string& _tag, std::size_t _posts) {
        const std::size_t before = m_posts.count();
        m_publisher.publish(
            "user_msg", test_support::site::user_msg(_tag, registration_frame(1), rebooter_mac));
        if (!m_posts.wait_for(before + _posts, 60s)) {
            throw failure("a registration did not get its posts");
        }
    }

    // Refuses each of the walk's enters, the posts from _from on: a refusal parks the enters,
    // so that no resend mixes in, and frees the number of the frame refused.
    void park(std::size_t _from) {
        for (const auto& body : m_posts.bodies(_from, _from + m_enters)) {
            const std::size_t hex = body.find("\"hex\":\"");
            if (hex == std::string::npos) {
                throw failure("a post without a frame: " + body);
            }
            const auto seq_no =
                static_cast<unsigned int>(std::stoul(body.substr(hex + 7 + 8, 2), nullptr, 16));
            m_publisher.publish("user_msg", test_support::site::user_msg(
                                                rebooter, refusal_frame(seq_no, 1), rebooter_mac));
        }
    }

    std::size_t m_zones;
    std::size_t m_enters;  // posted by a reboot
    test_support::location_site m_site;
    stream_publisher m_publisher;
    post_recorder m_posts;
    std::unique_ptr<service_instance> m_service;
    variant_result m_result;
};

void report(const std::string& _name, const variant_result& _result, std::size_t _zones) {
    std::vector<double> service_ms, floor_ms, ratio, beyond;
    for (std::size_t i = 0; i < _result.service.size(); ++i) {
        service_ms.push_back(_result.service[i] * 1000);
        floor_ms.push_back(_result.floor[i] * 1000);
        ratio.push_back(_result.floor[i] / _result.service[i]);
        beyond.push_back((_result.service[i] - _result.floor[i]) * 1e6 /
                         static_cast<double>(_zones));
    }
    std::cout << "| " << _name << " | " << spread(service_ms, 1) << " | " << spread(floor_ms, 1)
              << " | " << spread(ratio, 2) << " | " << spread(beyond, 1) << " |\n";
}

}  // namespace

int reboot_benchmark(const options& _options) {
    const std::size_t zones = _options.count != 0 ? _options.count : 1000;
    // Both run side by side, measured in turn, so that both see the same load.
    variant alone_run(_options, zones, 0);
    variant among_run(_options, zones, 100);
    for (int r = 0; r < _options.repetitions; ++r) {
        alone_run.reboot_once();
        among_run.reboot_once();
    }
    for (int r = 0; r < 10 * _options.repetitions; ++r) {
        alone_run.walks_once();
        among_run.walks_once();
    }
    const variant_result& alone = alone_run.result();
    const variant_result& among = among_run.result();

    std::cout << "\nreboot of a tag in " << zones << " zones (" << alone_run.enters()
              << " enters posted by the walk), medians of " << _options.repetitions
              << " runs (min..max):\n\n"
              << "| zone events held | to the end of the walk, ms | floor: " << alone_run.enters()
              << " bare POSTs, ms | ratio | beyond the floor, us per zone of the tag |\n"
              << "|---|---|---|---|---|\n";
    report("the tag's " + std::to_string(zones) + " alone", alone, zones);
    report("and " + std::to_string(zones * 100) + " of other tags", among, zones);

    const auto milliseconds = [](const std::vector<double>& _seconds) {
        std::vector<double> result;
        for (const double value : _seconds) {
            result.push_back(value * 1000);
        }
        return result;
    };
    std::cout << "\nthe walks alone, medians of " << alone.idle.size()
              << " runs (min..max): a message from a registered tag in no zone, then a "
                 "registration that is only acknowledged, ms to that acknowledgement\n\n"
              << "| zone events held | reboot (walks the zone events) | acknowledgement of no "
                 "record (walks the records) |\n|---|---|---|\n"
              << "| " << zones << " | " << spread(milliseconds(alone.idle), 2) << " | "
              << spread(milliseconds(alone.ack), 2) << " |\n"
              << "| " << zones * 101 << " | " << spread(milliseconds(among.idle), 2) << " | "
              << spread(milliseconds(among.ack), 2) << " |\n";
    return 0;
}

}  // namespace bench
