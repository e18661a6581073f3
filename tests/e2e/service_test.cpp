// The running service as a whole: the built binary against a real Redis server, an in-process
// location server, an in-process publisher of its message stream, and its log read from the
// debug socket.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "service_site.hpp"

using namespace e2e;
using test_support::redis_hash;
using test_support::redis_set;
namespace site = test_support::site;

namespace {

// Milliseconds since midnight of a log line's time ("&quillmere:main 2024-05-06 07:08:09.123 ").
long line_time_ms(const std::string& _line) {
    const auto date = _line.find(' ');
    int hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
    if (date == std::string::npos || std::sscanf(_line.c_str() + date + 12, "%d:%d:%d.%d", &hours,
                                                 &minutes, &seconds, &milliseconds) != 4) {
        ADD_FAILURE() << "no time in " << _line;
        return 0;
    }
    return ((hours * 60L + minutes) * 60L + seconds) * 1000L + milliseconds;
}

}  // namespace

TEST(e2e_service, redis_down_at_start_is_retried_every_second_until_it_comes_up) {
    service_site world;
    world.site.redis().stop();
    auto service = world.start();
    ASSERT_TRUE(wait_for_count(world.log, "Connection error: ", 2));
    const auto errors = lines_containing(world.log, "Connection error: ");
    const long gap = line_time_ms(errors[1]) - line_time_ms(errors[0]);
    EXPECT_GE(gap, 900) << errors[0] << "\n" << errors[1];
    EXPECT_LT(gap, 3000) << errors[0] << "\n" << errors[1];
    // Nothing is loaded before Redis answers.
    EXPECT_EQ(world.site.server().request_count(), 0u);

    world.site.redis().start();
    ASSERT_TRUE(wait_for_count(world.log, "initializing...", 1));
    EXPECT_EQ(world.site.get_count("/api/private/track_obj/"), 1u);
    EXPECT_EQ(world.site.get_count("/api/private/zones/"), 1u);
    EXPECT_EQ(redis_hash(world.site.redis(), "quillmere:constants").at("version"), "1.3.0");

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_TRUE(wait_for_count(world.log, " exit", 1));
    EXPECT_TRUE(lines_containing(world.log, "Interrupted").empty());
}

TEST(e2e_service, a_signal_while_redis_is_down_ends_the_start_with_interrupted) {
    service_site world;
    world.site.redis().stop();
    auto service = world.start();
    ASSERT_TRUE(wait_for_count(world.log, "Connection error: ", 1));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    ASSERT_TRUE(wait_for_count(world.log, " Interrupted", 1));
    EXPECT_NE(lines_containing(world.log, " Interrupted")[0].find("/src/application.cpp:"),
              std::string::npos);
    EXPECT_TRUE(lines_containing(world.log, " exit").empty());
    EXPECT_EQ(world.site.server().request_count(), 0u);
}

TEST(e2e_service, start_up_restores_the_context_and_sends_the_enters_one_second_later) {
    service_site world;
    const auto& redis = world.site.redis();
    // What a previous run left: a zone event, which is stale now, and five devices.
    redis.command({"SADD", zone_events_set, "OLD:Z9"});
    redis.command({"HSET", zone_event_key("OLD:Z9"), "uid", "OLD:Z9", "obj_uid", "OLD"});
    const std::string stored = site::iso_time(1690000100);
    for (const auto& device : std::vector<std::pair<std::string, std::string>>{
             {"T1", "AA:01"}, {"T2", "AA:02"}, {"T3", "AA:03"}, {"T4", "AA:04"}, {"T5", "AA:05"}}) {
        store_device(redis, device.first, device.second, stored);
    }
    Json::Value tags(Json::arrayValue);
    tags.append(site::tag("T1", "AA:01"));  // same MAC: restored
    tags.append(site::tag("T2", "BB:02"));  // another MAC: dropped
    tags.append(site::tag("T3"));           // no node: dropped
    Json::Value t5 = site::tag("T5");       // a node whose MAC cannot be read
    t5["node"]["responsive"] = true;
    tags.append(t5);
    world.site.set_trackable_objects(tags);  // T4 is gone: dropped
    world.site.set_zones(
        site::list({site::zone("Z1", 17, "restricted", {{"T1", 1700000001}, {"T2", 1700000002}}),
                    site::zone("Z2", 18, "parking", {{"T1", 1700000003}}),
                    site::zone("Z3", 19, "restricted", {{"T5", 1700000005}})}));

    auto service = world.start();
    ASSERT_TRUE(world.site.wait_for_frame_count(1, deadline));
    const auto frames = world.site.frames();
    EXPECT_EQ(frames[0].body, R"({"data":{"hex":")" + enter_frame(1, 17) + R"("},"uid":"T1"})");
    for (const auto& frame : frames) {
        // Only T1 has a device; its enter may have been resent meanwhile.
        EXPECT_EQ(frame.uid, "T1");
    }
    // The log reaches the collector on its own way: wait for the line of the post.
    ASSERT_TRUE(world.log.wait_for_line_containing("To BRUQ T1: " + enter_frame(1, 17), deadline));
    const auto lines = world.log.lines();
    const long initializing = index_of(lines, "initializing...");
    const long called = index_of(lines, ": called");
    const long sent = index_of(lines, "To BRUQ T1: " + enter_frame(1, 17));
    ASSERT_GE(initializing, 0);
    EXPECT_LT(initializing, called);
    EXPECT_LT(called, sent);

    // A device whose tag cannot be checked is logged and kept in Redis; the others go on.
    ASSERT_TRUE(wait_for_count(world.log, "\"mac_address\" is not a string!", 1));
    const auto unchecked = lines_containing(world.log, "\"mac_address\" is not a string!");
    ASSERT_EQ(unchecked.size(), 1u);
    EXPECT_NE(unchecked[0].find("T5"), std::string::npos) << unchecked[0];

    EXPECT_EQ(redis_set(redis, zone_events_set),
              (std::set<std::string>{"T1:Z1", "T2:Z1", "T5:Z3"}));
    const std::map<std::string, std::string> t1_z1{{"uid", "T1:Z1"},
                                                   {"obj_uid", "T1"},
                                                   {"zone_uid", "Z1"},
                                                   {"zone_type", "restricted"},
                                                   {"create_time", site::iso_time(1700000001)}};
    EXPECT_EQ(redis_hash(redis, zone_event_key("T1:Z1")), t1_z1);
    EXPECT_EQ(redis_hash(redis, zone_event_key("T2:Z1")).at("create_time"),
              site::iso_time(1700000002));
    EXPECT_TRUE(redis_hash(redis, zone_event_key("OLD:Z9")).empty());

    EXPECT_EQ(redis_set(redis, devices_set), (std::set<std::string>{"T1", "T5"}));
    const auto t1 = redis_hash(redis, device_key("T1"));
    EXPECT_EQ(t1.at("mac_address"), "AA:01");
    EXPECT_EQ(t1.at("create_time"), stored);
    EXPECT_EQ(t1.at("is_full"), "false");
    EXPECT_EQ(redis_hash(redis, device_key("T5")).at("mac_address"), "AA:05");
    for (const auto& dropped : {"T2", "T3", "T4"}) {
        EXPECT_TRUE(redis_hash(redis, device_key(dropped)).empty()) << dropped;
    }

    ASSERT_TRUE(service->stop(SIGINT));
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_TRUE(wait_for_count(world.log, " exit", 1));
}

TEST(e2e_service, a_device_registers_is_resent_to_refuses_reboots_and_survives_a_restart) {
    service_site world;
    const auto& redis = world.site.redis();
    world.site.set_trackable_objects(site::list({site::tag("T7", "AA:07")}));
    Json::Value zones =
        site::list({site::zone("Z1", 17, "restricted"), site::zone("Z3", 19, "restricted")});
    world.site.set_zones(zones);
    auto service = world.start_and_wait_until_initialized();

    // An enter while the tag has no device: mirrored, nothing sent.
    world.site.publish("zone_event",
                       site::zone_event("T7", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(eventually([&] { return has_member(redis, zone_events_set, "T7:Z1"); }));

    // The device registers: its frame is acknowledged first, then the enter goes out.
    world.site.publish("user_msg", site::user_msg("T7", "040500012A", "AA:07"));
    ASSERT_TRUE(world.site.wait_for_frame_count(2));
    const auto first_enter = std::chrono::steady_clock::now();
    std::vector<std::string> expected{"T7 " + ack_frame(0x2A), "T7 " + enter_frame(1, 17)};
    EXPECT_EQ(frame_texts(world.site.frames()), expected);
    EXPECT_EQ(redis_hash(redis, device_key("T7")).at("mac_address"), "AA:07");

    // Unacknowledged, it is resent 2.5 s later with a new sequence number.
    ASSERT_TRUE(world.site.wait_for_frame_count(3));
    EXPECT_GE(std::chrono::steady_clock::now() - first_enter, 2000ms);
    expected.push_back("T7 " + enter_frame(2, 17));
    world.site.publish("user_msg", site::user_msg("T7", ack_frame(2)));
    const auto acknowledged = std::chrono::steady_clock::now();

    // A refusal marks the device full and parks its enters.
    world.site.publish("zone_event",
                       site::zone_event("T7", "Z3", "restricted", "enter", 1700000200));
    ASSERT_TRUE(world.site.wait_for_frame_count(4));
    expected.push_back("T7 " + enter_frame(3, 19));
    world.site.publish("user_msg", site::user_msg("T7", "04FF00020301"));
    ASSERT_TRUE(
        eventually([&] { return redis_hash(redis, device_key("T7"))["is_full"] == "true"; }));
    world.site.publish("zone_event",
                       site::zone_event("T7", "Z3", "restricted", "enter", 1700000300));
    ASSERT_TRUE(eventually([&] {
        return redis_hash(redis, zone_event_key("T7:Z3"))["update_time"] ==
               site::iso_time(1700000300);
    }));

    // A reboot clears the flag and sends every enter of the tag again.
    world.site.publish("notify", site::device_notify("NA", "T7"));
    ASSERT_TRUE(world.site.wait_for_frame_count(6));
    expected.push_back("T7 " + enter_frame(4, 17));
    expected.push_back("T7 " + enter_frame(5, 19));
    EXPECT_EQ(redis_hash(redis, device_key("T7")).at("is_full"), "false");
    world.site.publish("user_msg", site::user_msg("T7", ack_frame(4)));
    world.site.publish("user_msg", site::user_msg("T7", ack_frame(5)));

    // A leave.
    world.site.publish("zone_event",
                       site::zone_event("T7", "Z1", "restricted", "leave", 1700000400));
    ASSERT_TRUE(world.site.wait_for_frame_count(7));
    expected.push_back("T7 " + leave_frame(6, 17));
    world.site.publish("user_msg", site::user_msg("T7", ack_frame(6)));
    EXPECT_FALSE(has_member(redis, zone_events_set, "T7:Z1"));

    // Acknowledged notices are not resent: nothing more comes.
    std::this_thread::sleep_until(acknowledged + 3s);
    EXPECT_EQ(frame_texts(world.site.frames()), expected);

    // A restart: the device is restored from Redis and gets the enter of the zone that now
    // lists its tag, one second after the start.
    zones[1] = site::zone("Z3", 19, "restricted", {{"T7", 1700000500}});
    world.site.set_zones(zones);
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    service = world.start_and_wait_until_initialized();
    ASSERT_TRUE(world.site.wait_for_frame_count(8));
    EXPECT_EQ(frame_texts(world.site.frames())[7], "T7 " + enter_frame(1, 19));
    EXPECT_EQ(redis_set(redis, zone_events_set), std::set<std::string>{"T7:Z3"});
    EXPECT_EQ(redis_hash(redis, zone_event_key("T7:Z3")).at("create_time"),
              site::iso_time(1700000500));
    EXPECT_EQ(redis_set(redis, devices_set), std::set<std::string>{"T7"});
}

TEST(e2e_service, a_device_registered_again_after_its_tag_lost_the_node_gets_the_leave) {
    service_site world;
    const auto& redis = world.site.redis();
    world.site.set_trackable_objects(site::list({site::tag("T6", "AA:06")}));
    world.site.set_zones(site::list({site::zone("Z1", 17, "restricted")}));
    auto service = world.start_and_wait_until_initialized();

    world.site.publish("user_msg", site::user_msg("T6", "0405000101", "AA:06"));
    world.site.publish("zone_event",
                       site::zone_event("T6", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(world.site.wait_for_frame_count(2));
    world.site.publish("user_msg", site::user_msg("T6", ack_frame(1)));

    // The node goes and comes back: the device is dropped and registers again.
    world.site.publish("notify",
                       site::notify("TRACKABLE_OBJECT", "updated", site::tag("T6"), 1700000200));
    ASSERT_TRUE(eventually([&] { return !has_member(redis, devices_set, "T6"); }));
    world.site.publish("notify", site::notify("TRACKABLE_OBJECT", "updated",
                                              site::tag("T6", "AA:06"), 1700000300));
    world.site.publish("user_msg", site::user_msg("T6", "0405000102", "AA:06"));
    ASSERT_TRUE(world.site.wait_for_frame_count(4));
    world.site.publish("user_msg", site::user_msg("T6", ack_frame(2)));

    // The tag leaves: the new device hears of it.
    world.site.publish("zone_event",
                       site::zone_event("T6", "Z1", "restricted", "leave", 1700000400));
    ASSERT_TRUE(world.site.wait_for_frame_count(5));
    EXPECT_EQ(frame_texts(world.site.frames()),
              (std::vector<std::string>{"T6 " + ack_frame(1), "T6 " + enter_frame(1, 17),
                                        "T6 " + ack_frame(2), "T6 " + enter_frame(2, 17),
                                        "T6 " + leave_frame(3, 17)}));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

TEST(e2e_service, bad_input_on_each_topic_is_logged_and_the_next_message_handled) {
    service_site world;
    const auto& redis = world.site.redis();
    world.site.set_trackable_objects(site::list({site::tag("T8", "AA:08")}));
    world.site.set_zones(site::list({site::zone("Z1", 17, "restricted")}));
    auto service = world.start_and_wait_until_initialized();

    // Frames without "{" never reach a handler; these reach one and are not JSON.
    world.site.publish("zone_event", std::string("{not JSON"));
    Json::Value wrong_kind = site::zone_event("T9", "Z1", "restricted", "enter", 1700000000);
    wrong_kind["ts"] = "1700000000";
    world.site.publish("zone_event", wrong_kind);
    // A negative "ms" moves the time back.
    world.site.publish("zone_event",
                       site::zone_event("T8", "Z1", "restricted", "enter", 1700000000, -250));
    world.site.publish("user_msg", std::string("{\"hex\": "));
    world.site.publish("user_msg", site::user_msg("T8", "0400"));
    world.site.publish("user_msg", site::user_msg("T8", "0405000107", "AA:08"));
    world.site.publish("notify", std::string("{garbage"));
    world.site.publish("notify", std::string(R"({"action":"updated"})"));
    // The tag loses its node: its device is dropped.
    world.site.publish("notify",
                       site::notify("TRACKABLE_OBJECT", "updated", site::tag("T8"), 1700000600));

    // The device is registered (its frames are posted) before its tag loses the node.
    ASSERT_TRUE(world.site.wait_for_frame_count(2));
    ASSERT_TRUE(eventually([&] { return !has_member(redis, devices_set, "T8"); }));
    EXPECT_EQ(frame_texts(world.site.frames()),
              (std::vector<std::string>{"T8 " + ack_frame(7), "T8 " + enter_frame(1, 17)}));
    EXPECT_EQ(redis_set(redis, zone_events_set), std::set<std::string>{"T8:Z1"});
    EXPECT_EQ(redis_hash(redis, zone_event_key("T8:Z1")).at("create_time"),
              site::iso_time(1699999999, 750));
    EXPECT_TRUE(redis_hash(redis, device_key("T8")).empty());

    // The "notify" that is not JSON fails for both of its readers, the router and the
    // messenger, and each failure is logged. A failure's text comes in a line of its own after
    // "Caught exeption": each count is waited for before it is compared.
    const std::pair<const char*, std::size_t> counts[] = {{"Caught exeption", 6},
                                                          {"parse_result.ok", 3},
                                                          {"parse_error: ", 1},
                                                          {"\"object\" is not a string!", 1}};
    for (const auto& count : counts) {
        EXPECT_TRUE(wait_for_count(world.log, count.first, count.second)) << count.first;
    }
    for (const auto& count : counts) {
        EXPECT_EQ(lines_containing(world.log, count.first).size(), count.second) << count.first;
    }
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

TEST(e2e_service, with_modify_server_state_false_nothing_is_posted_and_redis_follows) {
    service_site world;
    world.config["debug"]["modify_server_state"] = false;
    const auto& redis = world.site.redis();
    store_device(redis, "T9", "AA:09", site::iso_time(1690000100));
    world.site.set_trackable_objects(
        site::list({site::tag("T9", "AA:09"), site::tag("T10", "AA:10")}));
    world.site.set_zones(site::list({site::zone("Z1", 17, "restricted", {{"T9", 1700000001}})}));
    auto service = world.start_and_wait_until_initialized();
    EXPECT_TRUE(world.log.wait_for_line_containing("To BRUQ T9: " + enter_frame(1, 17), deadline));

    world.site.publish("zone_event",
                       site::zone_event("T10", "Z1", "restricted", "enter", 1700000200));
    world.site.publish("user_msg", site::user_msg("T10", "0405000101", "AA:10"));
    EXPECT_TRUE(world.log.wait_for_line_containing("To BRUQ T10: " + enter_frame(2, 17), deadline));
    EXPECT_EQ(redis_set(redis, zone_events_set), (std::set<std::string>{"T9:Z1", "T10:Z1"}));
    EXPECT_EQ(redis_set(redis, devices_set), (std::set<std::string>{"T9", "T10"}));
    for (const auto& request : world.site.server().requests()) {
        EXPECT_EQ(request.method, "GET") << request.path << " " << request.body;
    }
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}
