// Zone events per second through the running service, against the floor of the round trips
// that each one costs it: HMSET and SADD to Redis and, for a tag with a registered device,
// one POST of the enter frame. Each repetition starts the service afresh on an empty Redis,
// registers the devices, measures the bare floor, then publishes a batch of new zone events
// and times them up to a marker (a registration, which the service acknowledges with a post
// once every event before it has been handled).

#include <iostream>

#include "bench_support.hpp"
#include "core/json.hpp"

namespace bench {

namespace {

const std::string zone_type = "room";
constexpr std::size_t tag_count = 100;
// The first resend of an unacknowledged enter comes 2.5 s after it was sent: a batch with
// devices must end before that.
constexpr double resend_after_seconds = 2.5;

std::string tag_uid(std::size_t _index) {
    return "tag-" + std::to_string(_index);
}

std::string zone_uid(std::size_t _index) {
    return "zone-" + std::to_string(_index);
}

std::string mac_of(std::size_t _index) {
    char text[32];
    std::snprintf(text, sizeof(text), "AA:BB:CC:00:%02X:%02X", static_cast<unsigned>(_index >> 8),
                  static_cast<unsigned>(_index & 0xFF));
    return text;
}

struct run_result {
    double service_rate = 0;    // events per second
    double floor_rate = 0;      // the same count of bare round trips per second
    double pipelined_rate = 0;  // the same with HMSET and SADD in one round trip
};

// Event _i of a batch: tag _i modulo the tag count, in zone _i divided by it, so that every
// event of a batch is new.
std::pair<std::size_t, std::size_t> event_of(std::size_t _i) {
    return {_i % tag_count, _i / tag_count};
}

// The bare round trips of _count events, timed: HMSET of the fields the service writes and
// SADD of the uid (both sent before either reply is read, when _pipelined), then, with _post,
// one POST of an enter frame's body.
double measure_floor(test_support::location_site& _site, std::size_t _count, bool _post,
                     bool _pipelined) {
    bare_redis redis(_site.redis().address(), _site.redis().port());
    bare_http http;
    const std::string url = _site.server().url() + test_support::location_site::user_msg_path;
    const std::string time = "2024-05-06T07:08:09.010Z";
    // A connection to the server exists before the clock starts, as the service's does.
    http.post(url, frame_body("warm-up", "0400000100"));
    const auto start = clock::now();
    for (std::size_t i = 0; i < _count; ++i) {
        const auto event = event_of(i);
        const std::string tag = tag_uid(event.first);
        const std::string zone = zone_uid(event.second);
        const std::string uid = tag + ":" + zone;
        std::vector<std::string> hmset = {"HMSET",       "floormere:zone_events:" + uid + ":fields",
                                          "uid",         uid,
                                          "obj_uid",     tag,
                                          "zone_uid",    zone,
                                          "zone_type",   zone_type,
                                          "create_time", time};
        std::vector<std::string> sadd = {"SADD", "floormere:zone_events:set", uid};
        if (_pipelined) {
            redis.pipeline({std::move(hmset), std::move(sadd)}, 2);
        } else {
            redis.command(hmset);
            redis.command(sadd);
        }
        if (_post) {
            http.post(url, frame_body(tag, "0401000C01010900030001020100020000"));
        }
    }
    return static_cast<double>(_count) / seconds_between(start, clock::now());
}

// The rate of two runs of the same count, taken together.
double mean_rate(double _first, double _second) {
    return 2 / (1 / _first + 1 / _second);
}

run_result run_once(const options& _options, test_support::location_site& _site,
                    stream_publisher& _publisher, post_recorder& _posts, std::size_t _count,
                    bool _devices) {
    bare_redis(_site.redis().address(), _site.redis().port()).command({"FLUSHALL"});
    auto service = std::make_unique<service_instance>(_options, _site, _publisher,
                                                      std::vector<std::string>{zone_type});
    service->wait_until_running(20s);

    if (_devices) {
        const std::size_t before = _posts.count();
        for (std::size_t i = 0; i < tag_count; ++i) {
            _publisher.publish("user_msg", test_support::site::user_msg(
                                               tag_uid(i), registration_frame(1), mac_of(i)));
        }
        if (!_posts.wait_for(before + tag_count, 10s)) {
            throw failure("the devices' registrations were not acknowledged");
        }
    }

    // The floors are measured before the batch and again once the service has ended; their
    // mean brackets the batch in time, as the machine's load changes.
    run_result result;
    const double floor_before = measure_floor(_site, _count, _devices, false);
    const double pipelined_before = measure_floor(_site, _count, _devices, true);

    std::vector<std::string> frames;
    frames.reserve(_count + 1);
    for (std::size_t i = 0; i < _count; ++i) {
        const auto event = event_of(i);
        frames.push_back(
            "#zone_event " +
            tvk::libs::core::json::to_string(test_support::site::zone_event(
                tag_uid(event.first), zone_uid(event.second), zone_type, "enter",
                1700000000 + static_cast<long long>(i / 1000), static_cast<long long>(i % 1000))));
    }
    frames.push_back("#user_msg " + tvk::libs::core::json::to_string(test_support::site::user_msg(
                                        "marker", registration_frame(1), "AA:BB:CC:DD:EE:FF")));
    const std::size_t expected = _posts.count() + (_devices ? _count : 0) + 1;
    const auto start = clock::now();
    _publisher.publish_all(std::move(frames));
    const auto end = _posts.wait_for(expected, 60s);
    if (!end) {
        throw failure("the batch did not reach its marker");
    }
    const double elapsed = seconds_between(start, *end);
    if (_devices && elapsed >= resend_after_seconds) {
        std::cout << "  (this batch took " << fixed(elapsed, 2)
                  << " s: resends may have mixed in; try a smaller --count)\n";
    }
    result.service_rate = static_cast<double>(_count) / elapsed;
    service.reset();
    result.floor_rate = mean_rate(floor_before, measure_floor(_site, _count, _devices, false));
    result.pipelined_rate =
        mean_rate(pipelined_before, measure_floor(_site, _count, _devices, true));
    return result;
}

void report(const std::string& _name, std::size_t _count, const std::vector<run_result>& _runs) {
    std::vector<double> service, floor, ratio, beyond, pipelined, pipelined_ratio;
    for (const auto& run : _runs) {
        service.push_back(run.service_rate);
        floor.push_back(run.floor_rate);
        ratio.push_back(run.service_rate / run.floor_rate);
        beyond.push_back(1e6 / run.service_rate - 1e6 / run.floor_rate);
        pipelined.push_back(run.pipelined_rate);
        pipelined_ratio.push_back(run.service_rate / run.pipelined_rate);
    }
    std::cout << "| " << _name << " | " << _count << " | " << spread(service, 0) << " | "
              << spread(floor, 0) << " | " << spread(ratio, 2) << " | " << spread(beyond, 1)
              << " | " << spread(pipelined, 0) << " | " << spread(pipelined_ratio, 2) << " |\n";
}

}  // namespace

int zone_events_benchmark(const options& _options) {
    const std::size_t plain_count = _options.count != 0 ? _options.count : 10000;
    const std::size_t device_count = _options.count != 0 ? _options.count : 3000;
    const std::size_t zone_count =
        (std::max(plain_count, device_count) + tag_count - 1) / tag_count;

    test_support::location_site site;
    Json::Value tags(Json::arrayValue);
    for (std::size_t i = 0; i < tag_count; ++i) {
        tags.append(test_support::site::tag(tag_uid(i), mac_of(i)));
    }
    Json::Value zones(Json::arrayValue);
    for (std::size_t i = 0; i < zone_count; ++i) {
        zones.append(
            test_support::site::zone(zone_uid(i), static_cast<unsigned>(i + 1), zone_type));
    }
    site.set_trackable_objects(tags);
    site.set_zones(zones);
    stream_publisher publisher;
    post_recorder posts(site.server());

    std::vector<run_result> plain, devices;
    for (int r = 0; r < _options.repetitions; ++r) {
        plain.push_back(run_once(_options, site, publisher, posts, plain_count, false));
        devices.push_back(run_once(_options, site, publisher, posts, device_count, true));
        std::cerr << "repetition " << r + 1 << " of " << _options.repetitions << " done\n";
    }

    std::cout << "\nzone events through the service, medians of " << _options.repetitions
              << " runs (min..max):\n\n"
              << "| events | per batch | service, events/s | floor, events/s | ratio | "
                 "beyond the floor, us/event | floor with HMSET and SADD pipelined, events/s | "
                 "ratio to it |\n"
              << "|---|---|---|---|---|---|---|---|\n";
    report("no device registered (floor: HMSET + SADD)", plain_count, plain);
    report("devices registered (floor: HMSET + SADD + POST)", device_count, devices);
    return 0;
}

}  // namespace bench
