// Faults of the service's peers, injected while the built binary runs: Redis going away and
// coming back, a location server that fails or hangs, a publisher that restarts, refused frame
// posts, signals at every stage of the start, and bursts of traffic.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
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
using test_support::http_answer;

namespace {

const std::string track_obj_path = "/api/private/track_obj/";
const std::string zones_path = "/api/private/zones/";

}  // namespace

TEST(e2e_faults, redis_going_away_while_running_needs_no_restart_of_the_service) {
    service_site world;
    auto& redis = world.site.redis();
    one_zone_two_tags(world.site);
    auto service = world.start_and_wait_until_initialized();

    // Restarted: the server closed the connection, and starts empty.
    redis.stop();
    redis.start();
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    ASSERT_TRUE(eventually([&] { return has_member(redis, devices_set, "T1"); }));
    EXPECT_EQ(redis_hash(redis, device_key("T1")).at("mac_address"), "AA:01");

    // Killed: nothing is said to the service.
    redis.kill();
    redis.start();
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(eventually([&] { return has_member(redis, zone_events_set, "T1:Z1"); }));

    // Down while a change comes: the failure is logged, and once Redis is back the change is
    // written with the next.
    redis.stop();
    world.site.publish("zone_event",
                       site::zone_event("T2", "Z1", "restricted", "enter", 1700000200));
    ASSERT_TRUE(wait_for_count(world.log, "Connection error: ", 1));
    redis.start();
    world.site.publish("user_msg", site::user_msg("T2", "0405000102", "AA:02"));
    ASSERT_TRUE(eventually([&] { return has_member(redis, devices_set, "T2"); }));
    // T2's device got the enter of the event that Redis missed.
    ASSERT_TRUE(world.site.wait_for_frames([](const std::vector<test_support::posted_frame>& _f) {
        for (const auto& frame : _f) {
            if (frame.uid == "T2" && frame.hex.compare(0, 4, "0401") == 0) {
                return true;
            }
        }
        return false;
    }));
    EXPECT_TRUE(eventually([&] { return has_member(redis, zone_events_set, "T2:Z1"); }));

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

// A frozen Redis takes connections and answers nothing: a write is given up after its time-out
// of a second, and the service goes on.
TEST(e2e_faults, a_redis_that_stops_answering_holds_each_command_for_its_time_out_only) {
    service_site world;
    auto& redis = world.site.redis();
    one_zone_two_tags(world.site);
    auto service = world.start_and_wait_until_initialized();

    redis.pause();
    const auto paused = std::chrono::steady_clock::now();
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(wait_for_count(
        world.log, "Command: HMSET, connection error: Resource temporarily unavailable", 1, 15s));
    EXPECT_GE(std::chrono::steady_clock::now() - paused, 900ms);
    redis.resume();
    world.site.publish("user_msg", site::user_msg("T2", "0405000102", "AA:02"));
    ASSERT_TRUE(eventually([&] { return has_member(redis, devices_set, "T2"); }));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

TEST(e2e_faults, a_signal_while_a_frozen_redis_is_tried_at_start_ends_the_start) {
    service_site world;
    world.site.redis().pause();
    auto service = world.start();
    // Written once the service watches its signals; a loaded machine may take a while to
    // get there, and a signal before it would end the process by its default action.
    const std::string pid_file = world.config["system"]["pidfile"].asString();
    ASSERT_TRUE(eventually([&] { return ::access(pid_file.c_str(), F_OK) == 0; }));
    std::this_thread::sleep_for(500ms);
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(service->stop(SIGTERM, 15s));
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 8s);
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_TRUE(wait_for_count(world.log, " Interrupted", 1));
    EXPECT_EQ(world.site.server().request_count(), 0u);
}

// The connection to Redis ends, then is reset, while the service is still writing a long
// command: the failure is logged, the process goes on, and once Redis answers again it holds
// what the service holds.
TEST(e2e_faults, a_connection_reset_while_a_command_is_written_is_logged_and_survived) {
    service_site world;
    auto& redis = world.site.redis();
    test_support::tcp_proxy proxy(redis.port());
    world.config["redis"]["port"] = proxy.port();
    one_zone_two_tags(world.site);
    auto service = world.start_and_wait_until_initialized();

    proxy.break_next_request();
    // Far longer than what the socket buffers take, so the command is written in parts.
    const std::string long_tag(16 * 1024 * 1024, 'X');
    // The long event leaves in the same ZeroMQ message, so it is gone before the first retry
    // of Redis, a second after the failure: the rewrite that follows is small. Written again,
    // the long event would be 80 MB in one transaction, which a loaded machine does not get
    // through within the service's command time-out, and each failed retry doubles the wait.
    world.site.publish_together(
        "zone_event", {site::zone_event(long_tag, "Z1", "restricted", "enter", 1700000100),
                       site::zone_event(long_tag, "Z1", "restricted", "leave", 1700000101)});
    // A 16 MB message takes seconds to be parsed on a loaded machine, more under the sanitizers.
    const auto long_message_handled = 40s;
    ASSERT_TRUE(eventually([&] { return proxy.broken_count() == 1; }, long_message_handled));
    ASSERT_TRUE(wait_for_count(world.log, "Command: HMSET, connection error: Broken pipe", 1))
        << (service->wait(0ms) ? "ended with status " + std::to_string(service->exit_code())
                               : "still running");

    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000200));
    // Once the leave is handled; Redis is tried again 1 s after the failure, then after 2, 4
    // and 8 s more.
    ASSERT_TRUE(eventually([&] { return has_member(redis, zone_events_set, "T1:Z1"); },
                           long_message_handled));
    EXPECT_EQ(redis_set(redis, zone_events_set), std::set<std::string>{"T1:Z1"});
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

// Each failed load is logged and tried again 5 seconds later; the service then starts.
struct start_fault {
    const char* name;
    std::string path;
    test_support::http_answer answer;
    std::string logged;
};

void PrintTo(const start_fault& _fault, std::ostream* _out) {
    *_out << _fault.name;
}

class e2e_start_faults : public ::testing::TestWithParam<start_fault> {};

TEST_P(e2e_start_faults, a_failed_load_at_start_is_retried_and_the_service_starts) {
    const start_fault& fault = GetParam();
    service_site world;
    world.config["server"]["timeout"] = 1;
    one_zone_two_tags(world.site);
    store_device(world.site.redis(), "T1", "AA:01", site::iso_time(1690000100));
    world.site.server().answer_once("GET", fault.path, fault.answer);
    const auto started = std::chrono::steady_clock::now();
    auto service = world.start();
    ASSERT_TRUE(wait_for_count(world.log, fault.logged, 1));
    ASSERT_TRUE(wait_for_count(world.log, "initializing...", 1, 15s));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(world.site.get_count(fault.path), 2u);
    EXPECT_EQ(lines_containing(world.log, "Request failed").size(), 1u);
    // Started in full: the restored device gets a zone event's enter.
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    EXPECT_TRUE(world.site.wait_for_frame_count(1));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    faults, e2e_start_faults,
    ::testing::Values(start_fault{"answer_500", track_obj_path, http_answer{500, "overloaded"},
                                  "Request failed with code: 500, addr: /api/private/track_obj/, "
                                  "response overloaded"},
                      start_fault{"no_answer_until_the_time_out", zones_path,
                                  http_answer{200, R"({"zones": []})", 3s},
                                  "Request failed with code: -1, addr: /api/private/zones/"},
                      start_fault{"answer_that_is_not_json", track_obj_path,
                                  http_answer{200, "<html>busy</html>"},
                                  "Request failed with code: 200, addr: /api/private/track_obj/"}),
    [](const ::testing::TestParamInfo<start_fault>& _info) { return _info.param.name; });

TEST(e2e_faults, a_restarted_publisher_is_followed_on_every_topic) {
    service_site world;
    auto& redis = world.site.redis();
    one_zone_two_tags(world.site);
    auto service = world.start_and_wait_until_initialized();
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(eventually([&] { return has_member(redis, zone_events_set, "T1:Z1"); }));

    auto& publisher = world.site.publisher();
    publisher.stop();
    std::this_thread::sleep_for(300ms);
    publisher.start();
    for (const auto& topic : {"#notify", "#user_msg", "#zone_event"}) {
        ASSERT_TRUE(publisher.wait_for_subscription(topic, deadline)) << topic;
    }
    // One message of each topic, each with an effect of its own.
    Json::Value zone = site::zone("Z2", 18, "restricted");
    world.site.publish("notify", site::notify("ZONE", "created", zone, 1700000200));
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z2", "restricted", "enter", 1700000300));
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    ASSERT_TRUE(world.site.wait_for_frame_count(3, deadline));
    EXPECT_EQ(frame_texts(world.site.frames()),
              (std::vector<std::string>{"T1 " + ack_frame(1), "T1 " + enter_frame(1, 17),
                                        "T1 " + enter_frame(2, 18)}));
    EXPECT_TRUE(has_member(redis, zone_events_set, "T1:Z2"));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

TEST(e2e_faults, a_frame_post_answered_500_is_logged_and_resent_by_the_delivery_timer) {
    service_site world;
    one_zone_two_tags(world.site);
    store_device(world.site.redis(), "T1", "AA:01", site::iso_time(1690000100));
    world.site.server().answer_once("POST", test_support::location_site::user_msg_path,
                                    http_answer{500, "relay down"});
    auto service = world.start_and_wait_until_initialized();
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(world.site.wait_for_frame_count(1));
    const auto refused = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_for_count(world.log, "user_msg: ", 1));
    const auto lines = world.log.lines();
    const long answer_line = index_of(lines, "relay down");
    ASSERT_GE(answer_line, 0);
    EXPECT_TRUE(contains(lines[answer_line], "/src/messenger_impl.cpp:"));
    EXPECT_TRUE(contains(lines[answer_line + 1], R"(user_msg: {"data":{"hex":")" +
                                                     enter_frame(1, 17) + R"("},"uid":"T1"})"))
        << lines[answer_line + 1];

    ASSERT_TRUE(world.site.wait_for_frame_count(2));
    EXPECT_GE(std::chrono::steady_clock::now() - refused, 2s);
    EXPECT_EQ(frame_texts(world.site.frames()),
              (std::vector<std::string>{"T1 " + enter_frame(1, 17), "T1 " + enter_frame(2, 17)}));
    world.site.publish("user_msg", site::user_msg("T1", ack_frame(2), "AA:01"));
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(world.site.frames().size(), 2u);
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

// A signal at each stage of the start ends the process in order, with status 0; in the
// sanitizer build that status also says that nothing leaked.
TEST(e2e_faults, a_signal_while_the_server_is_retried_ends_the_start_after_the_pause) {
    service_site world;
    world.site.server().answer("GET", track_obj_path, http_answer{503, "starting"});
    auto service = world.start();
    ASSERT_TRUE(wait_for_count(world.log, "Request failed with code: 503", 1));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_EQ(world.site.get_count(track_obj_path), 1u);
    EXPECT_TRUE(wait_for_count(world.log, " Interrupted", 1));
    EXPECT_TRUE(lines_containing(world.log, " exit").empty());
}

TEST(e2e_faults, a_signal_while_a_list_is_loading_ends_the_start_once_it_came) {
    service_site world;
    one_zone_two_tags(world.site);
    world.site.server().answer_once("GET", track_obj_path,
                                    http_answer{200, R"({"trackableObjects": []})", 1500ms});
    auto service = world.start();
    ASSERT_TRUE(world.site.server().wait_for_requests(1, deadline));
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_TRUE(wait_for_count(world.log, " Interrupted", 1));
    EXPECT_EQ(world.site.get_count(zones_path), 0u);
}

TEST(e2e_faults, a_signal_while_a_frame_is_posted_ends_the_service_after_the_post) {
    service_site world;
    one_zone_two_tags(world.site);
    store_device(world.site.redis(), "T1", "AA:01", site::iso_time(1690000100));
    world.site.server().answer_once("POST", test_support::location_site::user_msg_path,
                                    http_answer{200, "{}", 1500ms});
    auto service = world.start_and_wait_until_initialized();
    // Deliveries in every state: one being posted, another waiting for its device.
    world.site.publish("zone_event",
                       site::zone_event("T2", "Z1", "restricted", "enter", 1700000050));
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(world.site.server().wait_for_requests(3, deadline));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_TRUE(wait_for_count(world.log, " exit", 1));
}

namespace {

// Resident memory of a process in kilobytes, from /proc; 0 when it cannot be read.
long resident_kb(pid_t _pid) {
    std::ifstream status("/proc/" + std::to_string(_pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

// A frame without its sequence number, which depends on the order of the sends.
std::string without_sequence_number(const std::string& _hex) {
    return _hex.substr(0, 8) + _hex.substr(10);
}

std::string numbered(const std::string& _prefix, int _number) {
    char text[16];
    std::snprintf(text, sizeof(text), "%03d", _number);
    return _prefix + text;
}

}  // namespace

// Hundreds of zone notices, zone events and acknowledgements in bursts: every one is handled,
// and the service's memory comes back to where it was after the first burst.
TEST(e2e_faults, bursts_of_events_acknowledgements_and_notices_are_all_handled) {
    constexpr int tags = 250;
    constexpr int bursts = 4;
    service_site world;
    auto& redis = world.site.redis();
    Json::Value tag_list(Json::arrayValue);
    for (int t = 0; t < tags; ++t) {
        const std::string uid = numbered("T", t);
        tag_list.append(site::tag(uid, "MAC" + uid));
        store_device(redis, uid, "MAC" + uid, site::iso_time(1690000100));
    }
    world.site.set_trackable_objects(tag_list);
    world.site.set_zones(site::list({site::zone("Z1", 17, "restricted")}));
    // The devices acknowledge every enter and leave at once.
    world.site.server().answer_with(
        "POST", test_support::location_site::user_msg_path,
        [&world](const test_support::http_request& _request) {
            Json::Value body;
            if (Json::Reader().parse(_request.body, body) && body["data"]["hex"].isString()) {
                const std::string hex = body["data"]["hex"].asString();
                if (hex.compare(0, 4, "0401") == 0 || hex.compare(0, 4, "0402") == 0) {
                    world.site.publish(
                        "user_msg",
                        site::user_msg(body["uid"].asString(),
                                       ack_frame(std::stoul(hex.substr(8, 2), nullptr, 16))));
                }
            }
            return http_answer{200, "{}"};
        });
    auto service = world.start_and_wait_until_initialized();
    ASSERT_EQ(redis_set(redis, devices_set).size(), static_cast<std::size_t>(tags));

    std::vector<long> resident;
    for (int burst = 0; burst < bursts; ++burst) {
        const long long ts = 1700000000 + burst * 10;
        const auto zone_uid = [burst](int _t) {
            return numbered("B" + std::to_string(burst) + "Z", _t);
        };
        for (int t = 0; t < tags; ++t) {
            world.site.publish("notify",
                               site::notify("ZONE", "created",
                                            site::zone(zone_uid(t), 1000 + t, "restricted"), ts));
        }
        for (int t = 0; t < tags; ++t) {
            world.site.publish("zone_event", site::zone_event(numbered("T", t), zone_uid(t),
                                                              "restricted", "enter", ts + 1));
        }
        for (int t = 0; t < tags; ++t) {
            world.site.publish("zone_event", site::zone_event(numbered("T", t), zone_uid(t),
                                                              "restricted", "leave", ts + 2));
        }
        for (int t = 0; t < tags; ++t) {
            world.site.publish(
                "notify", site::notify("ZONE", "deleted",
                                       site::zone(zone_uid(t), 1000 + t, "restricted"), ts + 3));
        }
        const std::size_t expected = static_cast<std::size_t>(2 * tags * (burst + 1));
        ASSERT_TRUE(world.site.wait_for_frame_count(expected, 60s)) << "burst " << burst;
        // Messages are handled in order: once an event published last is in Redis, the
        // zones' deletions are in, and an enter into a deleted zone is dropped.
        const std::string last = "S" + std::to_string(burst);
        world.site.publish("zone_event", site::zone_event("T000", zone_uid(tags - 1), "restricted",
                                                          "enter", ts + 4));
        world.site.publish("zone_event",
                           site::zone_event(last, "Z1", "restricted", "enter", ts + 4));
        ASSERT_TRUE(
            eventually([&] { return has_member(redis, zone_events_set, last + ":Z1"); }, 30s));
        EXPECT_EQ(redis_set(redis, zone_events_set), std::set<std::string>{last + ":Z1"});
        world.site.publish("zone_event",
                           site::zone_event(last, "Z1", "restricted", "leave", ts + 5));
        ASSERT_TRUE(eventually([&] { return redis_set(redis, zone_events_set).empty(); }));
        resident.push_back(resident_kb(service->pid()));
    }

    // Every acknowledgement arrived in time: nothing is resent.
    std::this_thread::sleep_for(3s);
    const auto frames = world.site.frames();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(2 * tags * bursts));
    std::map<std::string, std::vector<std::string>> per_tag;
    for (const auto& frame : frames) {
        per_tag[frame.uid].push_back(without_sequence_number(frame.hex));
    }
    ASSERT_EQ(per_tag.size(), static_cast<std::size_t>(tags));
    for (int t = 0; t < tags; ++t) {
        std::vector<std::string> expected;
        for (int burst = 0; burst < bursts; ++burst) {
            expected.push_back(without_sequence_number(enter_frame(0, 1000 + t)));
            expected.push_back(without_sequence_number(leave_frame(0, 1000 + t)));
        }
        EXPECT_EQ(per_tag[numbered("T", t)], expected) << t;
    }

    // The first burst grows what the service keeps for good (allocator pools, buffers); the
    // later ones must not add to it. The sanitizer build holds freed memory back on purpose,
    // and finds leaks itself at the exit, whose status would then not be 0.
    std::string figures;
    for (const long kb : resident) {
        figures += std::to_string(kb) + " kB ";
    }
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(resident.back() - resident.front(), 2048) << "resident after each burst: " << figures;
#endif
    RecordProperty("resident_after_each_burst", figures);
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}
