// The Redis mirror writing its whole state again after Redis restarted empty: 10 000 devices
// and 100 000 zone events by default. The mirror runs in process on a loop of its own, with a
// 1 ms periodic timer beside it whose largest gap between ticks is the longest hold of the
// loop. Timed from the moment the mirror finds Redis out of step until it is in step again;
// against the same hashes and set members written by bare hiredis in pipelines of 1 000.

#include <iostream>
#include <thread>

#include "bench_support.hpp"
#include "context/context.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/scope_guard.hpp"
#include "external_storage.hpp"
#include "redis/redis_context.hpp"
#include "test_support/on_loop.hpp"

namespace bench {

namespace {

const std::string time_text = "2024-05-06T07:08:09.010Z";

// What the mirror writes for the same objects, in pipelines of 1 000 commands.
double measure_bare_rewrite(bare_redis& _redis, std::size_t _events, std::size_t _devices) {
    std::vector<std::vector<std::string>> commands;
    commands.push_back({"HSET", "quillmere:constants", "version", "1.3.0"});
    for (std::size_t i = 0; i < _events; ++i) {
        const std::string tag = "tag-" + std::to_string(i % 1000);
        const std::string zone = "zone-" + std::to_string(i / 1000);
        const std::string uid = tag + ":" + zone;
        const std::string key = "quillmere:zone_events:" + uid + ":fields";
        commands.push_back({"DEL", key});
        commands.push_back({"HMSET", key, "uid", uid, "obj_uid", tag, "zone_uid", zone, "zone_type",
                            "room", "create_time", time_text});
        commands.push_back({"SADD", "quillmere:zone_events:set", uid});
    }
    for (std::size_t i = 0; i < _devices; ++i) {
        const std::string uid = "tag-" + std::to_string(i);
        const std::string key = "quillmere:devices:" + uid + ":fields";
        commands.push_back({"DEL", key});
        commands.push_back({"HMSET", key, "uid", uid, "mac_address", "AA:BB:CC:DD:EE:FF", "is_full",
                            "false", "create_time", time_text});
        commands.push_back({"SADD", "quillmere:devices:set", uid});
    }
    const auto start = clock::now();
    _redis.pipeline(commands, 1000);
    return seconds_between(start, clock::now());
}

struct rewrite_run {
    double seconds = 0;
    double longest_hold_ms = 0;
};

}  // namespace

int rewrite_benchmark(const options& _options) {
    const std::size_t events = _options.count != 0 ? _options.count : 100000;
    const std::size_t devices = events / 10;
    test_support::redis_server server;
    tvk::libs::core::logger logger("quillmere", "bench");
    auto core = tvk::libs::core::core::create(logger);
    auto loop = core->create_events_loop("main loop");
    auto work = loop->create_work();
    tvk::context::writable_context context;
    tvk::redis::context redis(server.address(), server.port(), 0);
    tvk::external_storage storage(context, redis, logger, *loop);

    const tvk::libs::core::timestamp ts{time_text};
    for (std::size_t i = 0; i < events; ++i) {
        const std::string tag = "tag-" + std::to_string(i % 1000);
        const std::string zone = "zone-" + std::to_string(i / 1000);
        context.take_zone_events().add(
            tvk::context::zone_event(tvk::context::zone_event::make_uid(tag, zone), ts, tag, zone,
                                     "room", static_cast<unsigned int>(i / 1000)),
            ts);
    }
    for (std::size_t i = 0; i < devices; ++i) {
        context.take_devices().add(
            tvk::context::device("tag-" + std::to_string(i), ts, "AA:BB:CC:DD:EE:FF"), ts);
    }

    // On the loop: the largest gap between ticks while the mirror is out of step, and when
    // it fell behind and caught up.
    clock::time_point last_tick = clock::now();
    clock::time_point behind_since{};
    double longest_gap_ms = 0;
    std::vector<rewrite_run> runs;
    auto ticker = loop->create_periodic_timer(
        1ms, "ticker",
        [&](tvk::libs::core::timer::time_point) {
            const auto now = clock::now();
            const bool in_step = storage.is_in_step();
            if (!in_step) {
                if (behind_since == clock::time_point{}) {
                    behind_since = now;
                    longest_gap_ms = 0;
                } else {
                    longest_gap_ms = std::max(
                        longest_gap_ms,
                        std::chrono::duration<double, std::milli>(now - last_tick).count());
                }
            } else if (behind_since != clock::time_point{}) {
                longest_gap_ms =
                    std::max(longest_gap_ms,
                             std::chrono::duration<double, std::milli>(now - last_tick).count());
                runs.push_back({seconds_between(behind_since, now), longest_gap_ms});
                behind_since = clock::time_point{};
            }
            last_tick = now;
        },
        {});
    std::thread thread([&] { loop->run(); });
    const auto join = tvk::libs::core::execute_on_scope_exit([&]() noexcept {
        loop->stop();
        thread.join();
    });

    std::vector<double> totals, holds, floors, ratios;
    for (int r = 0; r < _options.repetitions; ++r) {
        const std::size_t done = test_support::on_loop(*loop, [&] { return runs.size(); });
        server.kill();
        server.start();
        while (test_support::on_loop(*loop, [&] { return runs.size(); }) == done) {
            std::this_thread::sleep_for(10ms);
        }
        const rewrite_run run = test_support::on_loop(*loop, [&] { return runs.back(); });
        bare_redis bare(server.address(), server.port());
        long long keys = 0;
        bare.command({"DBSIZE"}, [&](const redisReply& _reply) { keys = _reply.integer; });
        if (static_cast<std::size_t>(keys) != events + devices + 3) {
            throw failure("the rewrite left " + std::to_string(keys) + " keys");
        }
        bare.command({"FLUSHALL"});
        const double floor = measure_bare_rewrite(bare, events, devices);
        totals.push_back(run.seconds);
        holds.push_back(run.longest_hold_ms);
        floors.push_back(floor);
        ratios.push_back(floor / run.seconds);
        std::cerr << "repetition " << r + 1 << " of " << _options.repetitions << " done\n";
    }

    std::cout << "\nwriting " << devices << " devices and " << events
              << " zone events again after Redis restarted empty, medians of "
              << _options.repetitions << " runs (min..max):\n\n"
              << "| measure | value |\n|---|---|\n"
              << "| the mirror: out of step until in step again, s | " << spread(totals, 3)
              << " |\n"
              << "| the longest hold of the loop meanwhile, ms | " << spread(holds, 1) << " |\n"
              << "| floor: bare DEL, HMSET and SADD in pipelines of 1 000, s | "
              << spread(floors, 3) << " |\n"
              << "| floor against the mirror | " << spread(ratios, 2) << " |\n";
    return 0;
}

}  // namespace bench
