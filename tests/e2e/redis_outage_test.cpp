// Redis stopped, restarted empty and frozen under the running binary: deliveries go on, and
// Redis is brought back to what the service holds without a further message.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service_site.hpp"

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
