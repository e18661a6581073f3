// The service started against location lists that hold elements it cannot read.
#include <gtest/gtest.h>
#include <json/json.h>
#include <signal.h>

#include <string>
#include <vector>

#include "service_site.hpp"

using namespace e2e;
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
