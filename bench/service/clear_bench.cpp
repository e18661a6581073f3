// Start-up over Redis holding 100 000 zone-event keys that an earlier run left: the service
// deletes them (SCAN with the server's default batch, then DEL of each batch) before it asks
// for the tag list. Timed from the start of the process to that GET, less the same time over
// a Redis holding only the version; against the same SCAN and DEL loop run by bare hiredis on
// the same keys, and, for reference, the loop with batches of 1 000.

#include <iostream>

#include "bench_support.hpp"

namespace bench {

namespace {

const std::string prefix = "quillmere:zone_events:";

// The version, and _count zone events as the service stores them.
void fill(bare_redis& _redis, std::size_t _count) {
    std::vector<std::vector<std::string>> commands;
    commands.push_back({"HSET", "quillmere:constants", "version", "1.3.0"});
    for (std::size_t i = 0; i < _count; ++i) {
        const std::string tag = "tag-" + std::to_string(i % 1000);
        const std::string zone = "zone-" + std::to_string(i / 1000);
        const std::string uid = tag + ":" + zone;
        commands.push_back({"HMSET", prefix + uid + ":fields", "uid", uid, "obj_uid", tag,
                            "zone_uid", zone, "zone_type", "room", "create_time",
                            "2024-05-06T07:08:09.010Z", "update_time", "2024-05-06T07:08:10.010Z"});
        commands.push_back({"SADD", prefix + "set", uid});
    }
    _redis.pipeline(commands, 1000);
}

std::size_t key_count(bare_redis& _redis) {
    long long count = 0;
    _redis.command({"DBSIZE"}, [&](const redisReply& _reply) { count = _reply.integer; });
    return static_cast<std::size_t>(count);
}

// The time from the process's start to its GET of the tag list.
double time_to_first_get(const options& _options, test_support::location_site& _site,
                         list_server& _tags) {
    stream_publisher publisher;
    const auto before = clock::now();
    service_instance service(_options, _site, publisher, {"room"});
    const auto get = _tags.wait_for_get_after(before, 120s);
    if (!get) {
        throw failure("the service did not ask for its tags");
    }
    return seconds_between(service.started(), *get);
}

// SCAN MATCH <prefix>* (COUNT _batch when not 0) and DEL of what each step returns, until the
// cursor comes back to 0.
double measure_bare_clear(bare_redis& _redis, std::size_t _batch) {
    const auto start = clock::now();
    std::string cursor = "0";
    do {
        std::vector<std::string> scan = {"SCAN", cursor, "MATCH", prefix + "*"};
        if (_batch != 0) {
            scan.push_back("COUNT");
            scan.push_back(std::to_string(_batch));
        }
        std::vector<std::string> del = {"DEL"};
        _redis.command(scan, [&](const redisReply& _reply) {
            cursor.assign(_reply.element[0]->str, _reply.element[0]->len);
            const redisReply& keys = *_reply.element[1];
            for (std::size_t i = 0; i < keys.elements; ++i) {
                del.emplace_back(keys.element[i]->str, keys.element[i]->len);
            }
        });
        if (del.size() > 1) {
            _redis.command(del);
        }
    } while (cursor != "0");
    return seconds_between(start, clock::now());
}

}  // namespace

int clear_benchmark(const options& _options) {
    const std::size_t count = _options.count != 0 ? _options.count : 100000;
    test_support::location_site site;
    list_server tags(site.server(), "/api/private/track_obj/",
                     list_body("trackableObjects", Json::Value(Json::arrayValue)));
    bare_redis redis(site.redis().address(), site.redis().port());

    std::vector<double> service, floor, floor_1000, ratio;
    for (int r = 0; r < _options.repetitions; ++r) {
        redis.command({"FLUSHALL"});
        fill(redis, 0);
        const double empty = time_to_first_get(_options, site, tags);

        redis.command({"FLUSHALL"});
        fill(redis, count);
        const double stale = time_to_first_get(_options, site, tags);
        // Only the version is left.
        if (key_count(redis) != 1) {
            throw failure("the service left zone-event keys");
        }

        fill(redis, count);
        const double bare = measure_bare_clear(redis, 0);
        fill(redis, count);
        floor_1000.push_back(measure_bare_clear(redis, 1000));

        service.push_back(stale - empty);
        floor.push_back(bare);
        ratio.push_back(bare / (stale - empty));
        std::cerr << "repetition " << r + 1 << " of " << _options.repetitions << " done\n";
    }

    std::cout << "\nclearing " << count << " stale zone events (their hashes and set) at start-up, "
              << "medians of " << _options.repetitions << " runs (min..max):\n\n"
              << "| measure | s |\n|---|---|\n"
              << "| the service's start, less its start on an empty Redis | " << spread(service, 3)
              << " |\n"
              << "| floor: bare SCAN (default batch) and DEL loop | " << spread(floor, 3) << " |\n"
              << "| floor against the service | " << spread(ratio, 2) << " |\n"
              << "| reference: bare loop with SCAN COUNT 1000 | " << spread(floor_1000, 3)
              << " |\n";
    return 0;
}

}  // namespace bench
