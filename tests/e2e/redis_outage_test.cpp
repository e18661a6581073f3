// Redis stopped, restarted empty and frozen under the running binary: deliveries go on, and
// Redis is brought back to what the service holds without a further message.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service_site.hpp"
#include "test_support/tcp_proxy.hpp"

using namespace e2e;
using test_support::redis_hash;
using test_support::redis_set;
namespace site = test_support::site;

namespace {

// The frames posted to _uid so far, as hex.
std::vector<std::string> frames_of(const test_support::location_site& _site,
                                   const std::string& _uid) {
    std::vector<std::string> found;
    for (const auto& frame : _site.frames()) {
        if (frame.uid == _uid) {
            found.push_back(frame.hex);
        }
    }
    return found;
}

// Waits until _uid has been sent _count frames; the time it took.
std::chrono::steady_clock::duration wait_for_frames_of(const test_support::location_site& _site,
                                                       const std::string& _uid,
                                                       std::size_t _count) {
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(eventually([&] { return frames_of(_site, _uid).size() >= _count; }, 5s))
        << "frame " << _count << " of " << _uid;
    return std::chrono::steady_clock::now() - began;
}

// The sequence number of a frame, as hex.
std::string sequence_number(const std::string& _hex) {
    return _hex.substr(8, 2);
}

bool holds_device(const test_support::redis_server& _redis, const std::string& _uid,
                  const std::string& _mac) {
    return has_member(_redis, devices_set, _uid) &&
           redis_hash(_redis, device_key(_uid))["mac_address"] == _mac;
}

}  // namespace

TEST(e2e_redis_outage, a_device_registered_while_redis_is_stopped_is_served_stored_and_restored) {
    service_site world;
    auto& redis = world.site.redis();
    one_zone_two_tags(world.site);
    auto service = world.start_and_wait_until_initialized();
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(eventually([&] { return has_member(redis, zone_events_set, "T1:Z1"); }));

    redis.stop_keeping_data();
    // Acknowledged, and the enter of the zone the tag is in follows at once.
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    EXPECT_LT(wait_for_frames_of(world.site, "T1", 2), 2s);
    EXPECT_EQ(frames_of(world.site, "T1"),
              (std::vector<std::string>{ack_frame(1), enter_frame(1, 17)}));
    world.site.publish("user_msg", site::user_msg("T1", ack_frame(1)));
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "leave", 1700000200));
    EXPECT_LT(wait_for_frames_of(world.site, "T1", 3), 2s);
    EXPECT_EQ(frames_of(world.site, "T1").back(), leave_frame(2, 17));
    world.site.publish("user_msg", site::user_msg("T1", ack_frame(2)));
    world.site.publish("zone_event",
                       site::zone_event("T2", "Z1", "restricted", "enter", 1700000300));
    ASSERT_TRUE(wait_for_count(world.log, "Connection error: Connection refused", 1));

    // Back with the data it had: caught up with no message.
    redis.start(true);
    EXPECT_TRUE(eventually([&] {
        return holds_device(redis, "T1", "AA:01") &&
               redis_set(redis, zone_events_set) == std::set<std::string>{"T2:Z1"} &&
               redis_hash(redis, zone_event_key("T1:Z1")).empty();
    }));
    EXPECT_EQ(redis_hash(redis, zone_event_key("T2:Z1"))["create_time"],
              site::iso_time(1700000300));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);

    // Restarted: the device registered during the outage is restored and gets the next enter.
    service = world.start_and_wait_until_initialized();
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000400));
    wait_for_frames_of(world.site, "T1", 4);
    EXPECT_EQ(frames_of(world.site, "T1").back(), enter_frame(1, 17));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

TEST(e2e_redis_outage, a_redis_restarted_empty_is_written_whole_again_without_a_message) {
    service_site world;
    auto& redis = world.site.redis();
    one_zone_two_tags(world.site);
    auto service = world.start_and_wait_until_initialized();
    for (const char* tag : {"T1", "T2"}) {
        const std::string uid = tag;
        world.site.publish("user_msg", site::user_msg(uid, "0405000101", "AA:0" + uid.substr(1)));
        world.site.publish("zone_event",
                           site::zone_event(uid, "Z1", "restricted", "enter", 1700000100));
    }
    ASSERT_TRUE(eventually([&] {
        return redis_set(redis, devices_set).size() == 2 &&
               redis_set(redis, zone_events_set).size() == 2;
    }));
    const auto device_t1 = redis_hash(redis, device_key("T1"));
    const auto event_t2 = redis_hash(redis, zone_event_key("T2:Z1"));

    redis.kill();
    redis.start();
    EXPECT_TRUE(eventually([&] {
        return redis_hash(redis, "quillmere:constants")["version"] == "1.3.0" &&
               redis_set(redis, devices_set) == std::set<std::string>{"T1", "T2"} &&
               redis_set(redis, zone_events_set) == std::set<std::string>{"T1:Z1", "T2:Z1"};
    }));
    EXPECT_EQ(redis_hash(redis, device_key("T1")), device_t1);
    EXPECT_EQ(redis_hash(redis, zone_event_key("T2:Z1")), event_t2);
    ASSERT_TRUE(service->stop(SIGTERM));

    // Every device is restored by the next start, and gets the enters that come.
    const std::size_t before = world.site.frames().size();
    service = world.start_and_wait_until_initialized();
    for (const char* tag : {"T1", "T2"}) {
        world.site.publish("zone_event",
                           site::zone_event(tag, "Z1", "restricted", "enter", 1700000200));
    }
    ASSERT_TRUE(world.site.wait_for_frames([&](const std::vector<test_support::posted_frame>& _f) {
        std::set<std::string> entered;
        for (std::size_t i = before; i < _f.size(); ++i) {
            if (_f[i].hex.compare(0, 4, "0401") == 0) {
                entered.insert(_f[i].uid);
            }
        }
        return entered == std::set<std::string>{"T1", "T2"};
    }));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

// Enters and leaves of a registered tag come every second while Redis is frozen: only the
// first change waits for Redis, for a second at most.
TEST(e2e_redis_outage, a_frozen_redis_holds_the_frames_back_a_second_at_most) {
    service_site world;
    auto& redis = world.site.redis();
    one_zone_two_tags(world.site);
    auto service = world.start_and_wait_until_initialized();
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    ASSERT_TRUE(eventually([&] { return holds_device(redis, "T1", "AA:01"); }));

    redis.pause();
    const int messages = 11;  // the last one an enter
    int prompt = 0;
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < messages; ++i) {
        std::this_thread::sleep_until(next);
        next += 1s;
        world.site.publish(
            "zone_event", site::zone_event("T1", "Z1", "restricted", i % 2 == 0 ? "enter" : "leave",
                                           1700000100 + i));
        const auto took = wait_for_frames_of(world.site, "T1", 2 + i);
        prompt += took <= 1s ? 1 : 0;
        EXPECT_LT(took, 2s) << "message " << i;
        // Acknowledged, so that no resend comes in between.
        world.site.publish(
            "user_msg",
            site::user_msg("T1",
                           ack_frame(std::stoul(sequence_number(frames_of(world.site, "T1").back()),
                                                nullptr, 16))));
    }
    EXPECT_GE(prompt, messages - 2);
    redis.resume();

    EXPECT_TRUE(eventually([&] {
        return holds_device(redis, "T1", "AA:01") &&
               redis_set(redis, zone_events_set) == std::set<std::string>{"T1:Z1"};
    }));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

namespace {

// Something Redis goes through at the start of the service: while the devices are read
// (during_read, with the service held just before the read, and settled, once the read has
// been tried), or once the service runs (after_start).
struct start_fault {
    const char* name;
    std::function<void(test_support::redis_server&)> during_read;
    std::function<void(test_support::redis_server&, const test_support::debug_socket_collector&)>
        settled;
    std::function<void(test_support::redis_server&, const test_support::debug_socket_collector&)>
        after_start;
};

void PrintTo(const start_fault& _fault, std::ostream* _out) {
    *_out << _fault.name;
}

class e2e_redis_start : public ::testing::TestWithParam<start_fault> {};

// Holds the answer to the service's first load of the zones, the last step before it reads
// its devices, until released (at the deadline at the latest).
class held_zones {
public:
    held_zones(test_support::location_site& _site, const Json::Value& _zones) {
        Json::Value answer(Json::objectValue);
        answer["zones"] = _zones;
        const std::string body = Json::FastWriter().write(answer);
        // Shared with the server's thread, which may still be in the handler.
        const auto state = m_state;
        _site.server().answer_with(
            "GET", "/api/private/zones/", [state, body](const test_support::http_request&) {
                state->asked = true;
                const auto until = std::chrono::steady_clock::now() + deadline;
                while (!state->released && std::chrono::steady_clock::now() < until) {
                    std::this_thread::sleep_for(10ms);
                }
                return test_support::http_answer{200, body};
            });
    }
    ~held_zones() { release(); }

    bool wait_until_asked() const {
        return eventually([this] { return m_state->asked.load(); });
    }
    void release() { m_state->released = true; }

private:
    struct state {
        std::atomic<bool> asked{false};
        std::atomic<bool> released{false};
    };
    std::shared_ptr<state> m_state = std::make_shared<state>();
};

}  // namespace

// An earlier run left the devices of T1 and T6 and a zone event; T6's tag has a malformed node,
// so its device is neither restored nor deleted. Whatever Redis goes through, T1's device is
// restored, T6's stays in Redis, and Redis ends holding what the service holds.
TEST_P(e2e_redis_start, stored_devices_are_restored_or_kept_whatever_redis_goes_through) {
    service_site world;
    auto& redis = world.site.redis();
    Json::Value malformed = site::tag("T6");
    malformed["node"] = "x";
    world.site.set_trackable_objects(site::list({site::tag("T1", "AA:01"), malformed}));
    const Json::Value zones = site::list({site::zone("Z1", 17, "restricted")});
    world.site.set_zones(zones);
    store_device(redis, "T1", "AA:01", site::iso_time(1690000100));
    store_device(redis, "T6", "AA:06", site::iso_time(1690000100));
    redis.command({"SADD", zone_events_set, "T9:Z1"});
    redis.command({"HSET", zone_event_key("T9:Z1"), "uid", "T9:Z1"});
    redis.command({"SAVE"});

    // The zones are loaded last before the devices are read: their answer waits for the fault.
    held_zones hold(world.site, zones);
    auto service = world.start();
    ASSERT_TRUE(hold.wait_until_asked());
    GetParam().during_read(redis);
    hold.release();
    GetParam().settled(redis, world.log);
    ASSERT_TRUE(wait_for_count(world.log, "initializing...", 1));
    GetParam().after_start(redis, world.log);

    // With no change, Redis comes to hold what the service holds.
    EXPECT_TRUE(eventually([&] {
        return redis_set(redis, devices_set) == std::set<std::string>{"T1", "T6"} &&
               redis_set(redis, zone_events_set).empty() &&
               redis_hash(redis, zone_event_key("T9:Z1")).empty();
    })) << ::testing::PrintToString(redis_set(redis, devices_set))
        << ::testing::PrintToString(redis_set(redis, zone_events_set));
    // Restored: the enter goes out without a registration.
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(world.site.wait_for_frames([](const std::vector<test_support::posted_frame>& _f) {
        return !_f.empty() && _f.back().uid == "T1" && _f.back().hex == enter_frame(1, 17);
    })) << ::testing::PrintToString(frame_texts(world.site.frames()));
    EXPECT_TRUE(eventually(
        [&] { return redis_set(redis, zone_events_set) == std::set<std::string>{"T1:Z1"}; }));
    EXPECT_EQ(redis_hash(redis, device_key("T6"))["mac_address"], "AA:06");
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    faults, e2e_redis_start,
    ::testing::Values(
        // The read fails and is tried again every second until Redis is back.
        start_fault{
            "stopped_while_the_devices_are_read",
            [](test_support::redis_server& _redis) { _redis.stop_keeping_data(); },
            [](test_support::redis_server& _redis,
               const test_support::debug_socket_collector& _log) {
                ASSERT_TRUE(wait_for_count(_log, "Connection error: Connection refused", 1));
                _redis.start(true);
            },
            [](test_support::redis_server&, const test_support::debug_socket_collector&) {}},
        start_fault{
            "frozen_while_the_devices_are_read",
            [](test_support::redis_server& _redis) { _redis.pause(); },
            [](test_support::redis_server& _redis,
               const test_support::debug_socket_collector& _log) {
                ASSERT_TRUE(
                    wait_for_count(_log, "connection error: Resource temporarily unavailable", 1));
                _redis.resume();
            },
            [](test_support::redis_server&, const test_support::debug_socket_collector&) {}},
        // The read reopens the connection; the older snapshot is then written over, though
        // nothing changes.
        start_fault{
            "restarted_from_an_older_snapshot_before_the_devices_are_read",
            [](test_support::redis_server& _redis) {
                _redis.kill();
                _redis.start(true);
            },
            [](test_support::redis_server&, const test_support::debug_socket_collector&) {},
            [](test_support::redis_server&, const test_support::debug_socket_collector&) {}},
        // Restarted by its supervisor, Redis answers LOADING while it reloads its snapshot: the
        // read is tried again every second until Redis answers it.
        start_fault{
            "restarted_and_loading_while_the_devices_are_read",
            [](test_support::redis_server& _redis) { _redis.restart_loading(3s); },
            [](test_support::redis_server& _redis,
               const test_support::debug_socket_collector& _log) {
                ASSERT_TRUE(wait_for_count(
                    _log, "Command: SMEMBERS quillmere:devices:set, error: LOADING ", 1));
                ASSERT_TRUE(_redis.wait_until_loaded());
            },
            [](test_support::redis_server&, const test_support::debug_socket_collector&) {}},
        // The catch-up after the outage leaves T6's device alone.
        start_fault{"stopped_and_back_with_its_data_once_running",
                    [](test_support::redis_server&) {},
                    [](test_support::redis_server&, const test_support::debug_socket_collector&) {},
                    [](test_support::redis_server& _redis,
                       const test_support::debug_socket_collector& _log) {
                        _redis.stop_keeping_data();
                        ASSERT_TRUE(wait_for_count(_log, "Redis is out of step", 1));
                        _redis.start(true);
                        ASSERT_TRUE(wait_for_count(
                            _log, "Redis holds the zone events and devices again", 1));
                    }}),
    [](const ::testing::TestParamInfo<start_fault>& _info) { return _info.param.name; });

TEST(e2e_redis_start_signal, a_signal_while_the_devices_are_read_again_ends_the_start) {
    service_site world;
    auto& redis = world.site.redis();
    one_zone_two_tags(world.site);
    store_device(redis, "T1", "AA:01", site::iso_time(1690000100));
    held_zones hold(world.site, site::list({site::zone("Z1", 17, "restricted")}));
    auto service = world.start();
    ASSERT_TRUE(hold.wait_until_asked());
    redis.stop_keeping_data();
    hold.release();
    ASSERT_TRUE(wait_for_count(world.log, "Connection error: Connection refused", 1));
    ASSERT_TRUE(service->stop(SIGTERM, 10s));
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_TRUE(wait_for_count(world.log, " Interrupted", 1));
    EXPECT_TRUE(lines_containing(world.log, "initializing...").empty());
    // Nothing was taken for gone.
    redis.start(true);
    EXPECT_EQ(redis_set(redis, devices_set), std::set<std::string>{"T1"});
}

namespace {

// Something Redis goes through while the service clears the zone events that an earlier run
// left: begun once the clearing is under way, and ended once the service has logged it.
struct clearing_fault {
    const char* name;
    std::function<void(test_support::redis_server&, test_support::tcp_proxy&)> begin;
    std::function<void(test_support::redis_server&, const test_support::debug_socket_collector&)>
        end;
};

void PrintTo(const clearing_fault& _fault, std::ostream* _out) {
    *_out << _fault.name;
}

class e2e_redis_clearing : public ::testing::TestWithParam<clearing_fault> {};

long long key_count(const test_support::redis_server& _redis) {
    return std::stoll(test_support::parse_redis_reply(_redis.command({"DBSIZE"})).text);
}

}  // namespace

// The clearing is begun again every second until Redis answers; then the service starts, with
// the stored device restored and no stale zone event left.
TEST_P(e2e_redis_clearing, a_fault_while_stale_zone_events_are_cleared_is_waited_out) {
    service_site world;
    auto& redis = world.site.redis();
    test_support::tcp_proxy proxy(redis.port());
    world.config["redis"]["port"] = proxy.port();
    one_zone_two_tags(world.site);
    store_device(redis, "T1", "AA:01", site::iso_time(1690000100));
    // Enough for the clearing to take a good part of a second, so that the fault meets it.
    test_support::store_zone_events(redis, 40000);
    const long long stored = key_count(redis);
    auto service = world.start();
    ASSERT_TRUE(eventually([&] { return key_count(redis) < stored; }, deadline));
    GetParam().begin(redis, proxy);
    GetParam().end(redis, world.log);

    // Generous for a loaded machine: a frozen Redis alone holds the start 6 s.
    ASSERT_TRUE(wait_for_count(world.log, "initializing...", 1, 30s))
        << (service->wait(0ms) ? "ended with status " + std::to_string(service->exit_code())
                               : "still running");
    EXPECT_TRUE(test_support::redis_keys(redis, "quillmere:zone_events:*").empty());
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(world.site.wait_for_frame_count(1));
    EXPECT_EQ(frame_texts(world.site.frames()),
              std::vector<std::string>{"T1 " + enter_frame(1, 17)});
    EXPECT_EQ(redis_set(redis, devices_set), std::set<std::string>{"T1"});
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    faults, e2e_redis_clearing,
    ::testing::Values(
        clearing_fault{"stopped",
                       [](test_support::redis_server& _redis, test_support::tcp_proxy&) {
                           _redis.stop_keeping_data();
                       },
                       [](test_support::redis_server& _redis,
                          const test_support::debug_socket_collector& _log) {
                           // Tried again, refused, while Redis is down.
                           ASSERT_TRUE(wait_for_count(_log, "Connection error: ", 2));
                           _redis.start(true);
                       }},
        clearing_fault{
            "restarted_and_loading",
            // Longer than the second between two tries, with a margin for a loaded machine:
            // the retry must meet the load, whenever the restart lets it connect.
            [](test_support::redis_server& _redis, test_support::tcp_proxy&) {
                _redis.restart_loading(3s);
            },
            [](test_support::redis_server&, const test_support::debug_socket_collector& _log) {
                ASSERT_TRUE(wait_for_count(_log, ", error: LOADING ", 1));
            }},
        clearing_fault{
            "frozen",
            [](test_support::redis_server& _redis, test_support::tcp_proxy&) { _redis.pause(); },
            [](test_support::redis_server& _redis,
               const test_support::debug_socket_collector& _log) {
                // The start-up's command time-out is 5 s.
                ASSERT_TRUE(
                    wait_for_count(_log, "connection error: Resource temporarily unavailable", 1));
                _redis.resume();
            }},
        // Cut in the middle of the next command.
        clearing_fault{
            "connection_closed",
            [](test_support::redis_server&, test_support::tcp_proxy& _proxy) {
                _proxy.cut_after(1);
            },
            [](test_support::redis_server&, const test_support::debug_socket_collector& _log) {
                ASSERT_TRUE(
                    wait_for_count(_log, "connection error: Server closed the connection", 1));
            }}),
    [](const ::testing::TestParamInfo<clearing_fault>& _info) { return _info.param.name; });
