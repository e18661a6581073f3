// Start-up on a large site: the service loads 100 000 tags and 100 000 zones from the REST
// lists. Timed from the arrival of the tag list's GET to the stream subscription that the
// service makes once its context is filled (the messenger's "user_msg"), against a bare
// jsoncpp parse of the same two bodies in this process; the resident memory once it runs,
// against a run on empty lists.

#include <malloc.h>

#include <iostream>

#include "bench_support.hpp"
#include "core/json.hpp"

namespace bench {

namespace {

const std::string zone_type = "room";
const std::string tags_path = "/api/private/track_obj/";
const std::string zones_path = "/api/private/zones/";

struct lists {
    std::string tags;   // the body of the tag list
    std::string zones;  // the body of the zone list
};

lists make_lists(std::size_t _tags, std::size_t _zones) {
    Json::Value tags(Json::arrayValue);
    for (std::size_t i = 0; i < _tags; ++i) {
        char mac[32];
        std::snprintf(mac, sizeof(mac), "AA:BB:%02X:%02X:%02X:%02X",
                      static_cast<unsigned>((i >> 24) & 0xFF),
                      static_cast<unsigned>((i >> 16) & 0xFF),
                      static_cast<unsigned>((i >> 8) & 0xFF), static_cast<unsigned>(i & 0xFF));
        tags.append(test_support::site::tag("tag-" + std::to_string(i), mac));
    }
    Json::Value zones(Json::arrayValue);
    for (std::size_t i = 0; i < _zones; ++i) {
        zones.append(test_support::site::zone("zone-" + std::to_string(i),
                                              static_cast<unsigned>(i + 1), zone_type));
    }
    return {list_body("trackableObjects", tags), list_body("zones", zones)};
}

struct run_result {
    double tags_seconds = 0;   // the tag list's GET to the zone list's GET
    double zones_seconds = 0;  // the zone list's GET to the context filled
    memory_use memory;
};

run_result run_once(const options& _options, const lists& _lists) {
    test_support::location_site site;
    list_server tags(site.server(), tags_path, _lists.tags);
    list_server zones(site.server(), zones_path, _lists.zones);
    stream_publisher publisher;
    const auto before = clock::now();
    service_instance service(_options, site, publisher, {zone_type});
    service.wait_until_running(120s);
    const auto tags_get = tags.wait_for_get_after(before, 1s);
    const auto zones_get = zones.wait_for_get_after(before, 1s);
    const auto filled = publisher.wait_for_subscription("#user_msg", 1s);
    if (!tags_get || !zones_get || !filled) {
        throw failure("the service did not load its lists");
    }
    run_result result;
    result.tags_seconds = seconds_between(*tags_get, *zones_get);
    result.zones_seconds = seconds_between(*zones_get, *filled);
    // Settled: the service waits for messages now.
    std::this_thread::sleep_for(200ms);
    result.memory = read_memory(service.pid());
    return result;
}

// The bare floor: parsing both bodies as the service's reader does.
double measure_parse(const lists& _lists) {
    const auto start = clock::now();
    for (const std::string* body : {&_lists.tags, &_lists.zones}) {
        const auto parsed = tvk::libs::core::json::try_parse(*body);
        if (!parsed.ok) {
            throw failure("a list does not parse");
        }
    }
    return seconds_between(start, clock::now());
}

// The heap that jsoncpp's trees of both lists take, in MiB: the memory floor of holding them.
double measure_tree_memory(const lists& _lists) {
    const auto in_use = [] {
        const struct mallinfo2 info = mallinfo2();
        return static_cast<double>(info.uordblks + info.hblkhd);
    };
    const double before = in_use();
    const auto tags = tvk::libs::core::json::try_parse(_lists.tags);
    const auto zones = tvk::libs::core::json::try_parse(_lists.zones);
    return (in_use() - before) / (1024 * 1024);
}

// The transfer alone: both bodies fetched by a bare client from the same kind of server.
double measure_transfer(const lists& _lists) {
    test_support::http_server server;
    server.answer("GET", tags_path, {200, _lists.tags});
    server.answer("GET", zones_path, {200, _lists.zones});
    bare_http http;
    const auto start = clock::now();
    http.get(server.url() + tags_path);
    http.get(server.url() + zones_path);
    return seconds_between(start, clock::now());
}

}  // namespace

int startup_benchmark(const options& _options) {
    const std::size_t count = _options.count != 0 ? _options.count : 100000;
    std::cerr << "making the lists\n";
    const lists full = make_lists(count, count);
    const lists tags_only = make_lists(count, 0);
    const lists empty = make_lists(0, 0);
    std::cout << "tag list " << full.tags.size() / 1024 << " KiB, zone list "
              << full.zones.size() / 1024 << " KiB\n";

    std::vector<double> load, tags_load, zones_load, parse, transfer, ratio;
    std::vector<double> rss_empty, rss_tags, rss_full, peak_full;
    const double tree_memory = measure_tree_memory(full);
    for (int r = 0; r < _options.repetitions; ++r) {
        const run_result none = run_once(_options, empty);
        const run_result only_tags = run_once(_options, tags_only);
        // The parse floor brackets the run in time, as the machine's load changes.
        const double parsed_before = measure_parse(full);
        const run_result all = run_once(_options, full);
        const double parsed = (parsed_before + measure_parse(full)) / 2;
        parse.push_back(parsed);
        transfer.push_back(measure_transfer(full));
        tags_load.push_back(all.tags_seconds);
        zones_load.push_back(all.zones_seconds);
        load.push_back(all.tags_seconds + all.zones_seconds);
        ratio.push_back((all.tags_seconds + all.zones_seconds) / parsed);
        rss_empty.push_back(static_cast<double>(none.memory.rss_kib) / 1024);
        rss_tags.push_back(static_cast<double>(only_tags.memory.rss_kib) / 1024);
        rss_full.push_back(static_cast<double>(all.memory.rss_kib) / 1024);
        peak_full.push_back(static_cast<double>(all.memory.peak_kib) / 1024);
        std::cerr << "repetition " << r + 1 << " of " << _options.repetitions << " done\n";
    }

    const double per_10k = 10000.0 / static_cast<double>(count);
    std::vector<double> tag_memory, zone_memory;
    for (std::size_t i = 0; i < rss_full.size(); ++i) {
        tag_memory.push_back((rss_tags[i] - rss_empty[i]) * per_10k);
        zone_memory.push_back((rss_full[i] - rss_tags[i]) * per_10k);
    }
    std::cout << "\nstart-up with " << count << " tags and " << count << " zones, medians of "
              << _options.repetitions << " runs (min..max):\n\n"
              << "| measure | value |\n|---|---|\n"
              << "| load, tags (GET of the tags to GET of the zones), s | " << spread(tags_load, 2)
              << " |\n"
              << "| load, zones and the start-up walk over them (to the context filled), s | "
              << spread(zones_load, 2) << " |\n"
              << "| load in all, s | " << spread(load, 2) << " |\n"
              << "| floor: bare jsoncpp parse of both bodies, s | " << spread(parse, 2) << " |\n"
              << "| load against the parse floor | " << spread(ratio, 2) << " x |\n"
              << "| reference: bare libcurl GET of both bodies, s | " << spread(transfer, 2)
              << " |\n"
              << "| resident memory, empty lists, MiB | " << spread(rss_empty, 1) << " |\n"
              << "| resident memory, both lists, MiB | " << spread(rss_full, 1) << " |\n"
              << "| peak resident memory, both lists, MiB | " << spread(peak_full, 1) << " |\n"
              << "| resident memory per 10 000 tags, MiB | " << spread(tag_memory, 2) << " |\n"
              << "| resident memory per 10 000 zones, MiB | " << spread(zone_memory, 2) << " |\n"
              << "| reference: jsoncpp's trees of both lists, MiB per 10 000 objects | "
              << fixed(tree_memory * per_10k / 2, 2) << " |\n";
    return 0;
}

}  // namespace bench
