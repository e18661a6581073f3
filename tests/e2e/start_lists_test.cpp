// The service started against location lists that hold elements it cannot read.
#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "service_site.hpp"

using namespace e2e;
using test_support::redis_hash;
using test_support::redis_set;
namespace site = test_support::site;

namespace {

// An element that cannot be read, made from a sound one, and the reason logged for it.
struct unreadable {
    const char* name;
    void (*spoil)(Json::Value&);
    const char* reason;
};

const unreadable unreadables[] = {
    {"uid 5", [](Json::Value& _element) { _element["uid"] = 5; }, R"("uid" is not a string!)"},
    {"no uid", [](Json::Value& _element) { _element.removeMember("uid"); },
     R"("uid" is not a string!)"},
    {"no updated_at", [](Json::Value& _element) { _element.removeMember("updated_at"); },
     R"("updated_at" is not a string!)"},
    {"updated_at 5", [](Json::Value& _element) { _element["updated_at"] = 5; },
     R"("updated_at" is not a string!)"},
    {"not an object", [](Json::Value& _element) { _element = 5; }, "not an object"},
};

// _first, then one spoilt copy of _sound for each unreadable kind, then _last.
Json::Value list_with_unreadables(const Json::Value& _first, const Json::Value& _sound,
                                  const Json::Value& _last) {
    Json::Value list(Json::arrayValue);
    if (!_first.isNull()) {
        list.append(_first);
    }
    for (const auto& kind : unreadables) {
        Json::Value element = _sound;
        kind.spoil(element);
        list.append(element);
    }
    list.append(_last);
    return list;
}

}  // namespace

TEST(e2e_start_lists, unreadable_elements_are_logged_and_the_others_served) {
    service_site world;
    const auto& redis = world.site.redis();
    world.site.set_trackable_objects(list_with_unreadables(
        site::tag("T1", "AA:01"), site::tag("T9", "AA:09"), site::tag("T2", "AA:02")));
    world.site.set_zones(list_with_unreadables(Json::Value(), site::zone("Z9", 19, "restricted"),
                                               site::zone("Z1", 17, "restricted")));
    auto service = world.start_and_wait_until_initialized();
    ASSERT_FALSE(service->exited());

    // One error line for each element left out, naming its list, its index and why.
    struct expected {
        std::string path;
        std::size_t first_index;
    };
    for (const auto& list :
         {expected{"/api/private/track_obj/", 1}, expected{"/api/private/zones/", 0}}) {
        for (std::size_t i = 0; i < sizeof(unreadables) / sizeof(unreadables[0]); ++i) {
            const std::string text = "Skipped element " + std::to_string(list.first_index + i) +
                                     " of " + list.path + ": " + unreadables[i].reason;
            EXPECT_TRUE(wait_for_count(world.log, text, 1)) << unreadables[i].name << ": " << text;
            EXPECT_EQ(lines_containing(world.log, text).size(), 1u) << text;
        }
    }
    EXPECT_EQ(lines_containing(world.log, "Skipped element ").size(),
              2 * (sizeof(unreadables) / sizeof(unreadables[0])));

    // A sound tag's device gets the enter of a sound zone.
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(world.site.wait_for_frame_count(2));
    EXPECT_EQ(frame_texts(world.site.frames()),
              (std::vector<std::string>{"T1 " + ack_frame(1), "T1 " + enter_frame(1, 17)}));
    EXPECT_TRUE(has_member(redis, devices_set, "T1"));

    // A zone that was left out is unknown; the messages after its enter are still handled.
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z9", "restricted", "enter", 1700000200));
    world.site.publish("zone_event",
                       site::zone_event("T2", "Z1", "restricted", "enter", 1700000300));
    ASSERT_TRUE(eventually([&] { return has_member(redis, zone_events_set, "T2:Z1"); }));
    EXPECT_FALSE(has_member(redis, zone_events_set, "T1:Z9"));
    EXPECT_EQ(world.site.frames().size(), 2u);

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_TRUE(wait_for_count(world.log, " exit", 1));
}

namespace {

// A tag list element that the start skips, beside the sound tag T1. An earlier run stored
// the devices of T1, T3 and T5 (MAC addresses AA:01, AA:03, AA:05); T3's tag is the spoilt
// element, T5's is not listed.
struct skipped_tag {
    const char* name;
    void (*spoil)(Json::Value&);
    // The stored devices other than T1's that may belong to the skipped element: kept.
    std::set<std::string> kept;
};

void PrintTo(const skipped_tag& _tag, std::ostream* _out) {
    *_out << _tag.name;
}

class e2e_skipped_tags : public ::testing::TestWithParam<skipped_tag> {};

}  // namespace

// A device is deleted only when its tag is known to be gone; one whose tag may be a skipped
// element is not restored, and stays in Redis as it was through every catch-up.
TEST_P(e2e_skipped_tags, keep_the_devices_whose_tags_may_be_theirs_through_a_catch_up) {
    service_site world;
    auto& redis = world.site.redis();
    Json::Value spoilt = site::tag("T3", "AA:03");
    GetParam().spoil(spoilt);
    world.site.set_trackable_objects(site::list({site::tag("T1", "AA:01"), spoilt}));
    world.site.set_zones(site::list({site::zone("Z1", 17, "restricted")}));
    for (const char* uid : {"T1", "T3", "T5"}) {
        store_device(redis, uid, "AA:0" + std::string(uid + 1), site::iso_time(1690000100));
    }
    auto service = world.start_and_wait_until_initialized();

    // Restarted with its data: the catch-up writes what the service holds, and no more.
    redis.stop_keeping_data();
    ASSERT_TRUE(wait_for_count(world.log, "Redis is out of step", 1));
    redis.start(true);
    ASSERT_TRUE(wait_for_count(world.log, "Redis holds the zone events and devices again", 1));
    std::set<std::string> stored = GetParam().kept;
    stored.insert("T1");
    EXPECT_EQ(redis_set(redis, devices_set), stored);
    for (const char* uid : {"T3", "T5"}) {
        EXPECT_EQ(redis_hash(redis, device_key(uid))["mac_address"],
                  stored.count(uid) != 0 ? "AA:0" + std::string(uid + 1) : "")
            << uid;
    }
    for (const auto& uid : GetParam().kept) {
        EXPECT_TRUE(wait_for_count(world.log, "Device " + uid + " is not restored", 1)) << uid;
    }

    // Only T1's device was restored: of the three enters, in this order, its alone goes out.
    for (const char* uid : {"T3", "T5", "T1"}) {
        world.site.publish("zone_event",
                           site::zone_event(uid, "Z1", "restricted", "enter", 1700000100));
    }
    ASSERT_TRUE(world.site.wait_for_frame_count(1));
    EXPECT_EQ(frame_texts(world.site.frames()),
              std::vector<std::string>{"T1 " + enter_frame(1, 17)});
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    start_lists, e2e_skipped_tags,
    ::testing::Values(
        // Its uid is read: only its own device is kept, T5's is known to be gone.
        skipped_tag{"no_updated_at",
                    [](Json::Value& _element) { _element.removeMember("updated_at"); },
                    {"T3"}},
        // Its uid cannot be read: any tag not listed may be it.
        skipped_tag{"uid_5", [](Json::Value& _element) { _element["uid"] = 5; }, {"T3", "T5"}},
        skipped_tag{"not_an_object", [](Json::Value& _element) { _element = 5; }, {"T3", "T5"}}),
    [](const ::testing::TestParamInfo<skipped_tag>& _info) { return _info.param.name; });

// A device kept in Redis without being restored registers again: the next start, with its tag
// readable, restores it with the time of that registration, not with an older update.
TEST(e2e_start_lists, a_kept_device_registered_again_is_restored_with_its_registration_time) {
    service_site world;
    auto& redis = world.site.redis();
    Json::Value spoilt = site::tag("T3", "AA:03");
    spoilt.removeMember("updated_at");
    world.site.set_trackable_objects(site::list({site::tag("T1", "AA:01"), spoilt}));
    world.site.set_zones(site::list({site::zone("Z1", 17, "restricted")}));
    const std::string created = site::iso_time(1690000100);
    const std::string updated = site::iso_time(1690000200);
    store_device(redis, "T3", "AA:03", created);
    redis.command({"HSET", device_key("T3"), "update_time", updated, "is_full", "true"});
    auto service = world.start_and_wait_until_initialized();
    ASSERT_TRUE(wait_for_count(world.log, "Device T3 is not restored", 1));

    world.site.publish("user_msg", site::user_msg("T3", "0405000101", "AA:03", 1700000300));
    const std::map<std::string, std::string> registered{{"uid", "T3"},
                                                        {"mac_address", "AA:03"},
                                                        {"create_time", site::iso_time(1700000300)},
                                                        {"is_full", "false"}};
    ASSERT_TRUE(
        eventually([&] { return redis_hash(redis, device_key("T3"))["create_time"] != created; }));
    EXPECT_EQ(redis_hash(redis, device_key("T3")), registered);

    world.site.set_trackable_objects(
        site::list({site::tag("T1", "AA:01"), site::tag("T3", "AA:03")}));
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    service = world.start_and_wait_until_initialized();
    // Restored: its enter goes out, and Redis holds the time of the registration.
    world.site.publish("zone_event",
                       site::zone_event("T3", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(world.site.wait_for_frame_count(2));
    EXPECT_EQ(frame_texts(world.site.frames()),
              (std::vector<std::string>{"T3 " + ack_frame(1), "T3 " + enter_frame(1, 17)}));
    EXPECT_EQ(redis_hash(redis, device_key("T3")), registered);
    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}
