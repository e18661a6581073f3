// A "notify" message goes to the context library's router and then to the messenger: one that
// the router refuses still reaches the messenger.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "service_site.hpp"

using namespace e2e;
namespace site = test_support::site;

TEST(e2e_notify_subscribers, a_reboot_the_router_refuses_still_sends_the_enters_again) {
    service_site world;
    one_zone_two_tags(world.site);
    auto service = world.start_and_wait_until_initialized();

    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    world.site.publish("zone_event",
                       site::zone_event("T1", "Z1", "restricted", "enter", 1700000100));
    ASSERT_TRUE(world.site.wait_for_frame_count(2));
    world.site.publish("user_msg", site::user_msg("T1", ack_frame(1)));
    std::vector<std::string> expected{"T1 " + ack_frame(1), "T1 " + enter_frame(1, 17)};

    // Without "object", and with one that is not a string: the router raises for each.
    Json::Value without_object(Json::objectValue);
    without_object["action"] = "NA";
    without_object["dev_id"] = "T1";
    Json::Value number_object = without_object;
    number_object["object"] = 7;
    unsigned int seq_no = 2;
    std::size_t refused = 0;
    for (const Json::Value& reboot : {without_object, number_object}) {
        world.site.publish("notify", reboot);
        ++refused;
        ASSERT_TRUE(world.site.wait_for_frame_count(expected.size() + 1)) << reboot;
        expected.push_back("T1 " + enter_frame(seq_no, 17));
        EXPECT_EQ(frame_texts(world.site.frames()), expected);
        world.site.publish("user_msg", site::user_msg("T1", ack_frame(seq_no)));
        ++seq_no;
        EXPECT_TRUE(wait_for_count(world.log, "\"object\" is not a string!", refused));
        EXPECT_TRUE(wait_for_count(world.log, "Caught exeption", refused));
    }

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
    EXPECT_EQ(frame_texts(world.site.frames()), expected);
    // Logged by the events loop, at the place where main runs it.
    const auto caught = lines_containing(world.log, "Caught exeption");
    EXPECT_EQ(caught.size(), refused);
    for (const auto& line : caught) {
        EXPECT_TRUE(contains(line, " /src/main.cpp:")) << line;
    }
}
