#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "parsers/trackable_object_impl.hpp"
#include "parsers/zone_impl.hpp"
#include "test_helpers.hpp"

using namespace context_utils_test;
using tvk::libs::context_utils::timestamp;
using tvk::libs::context_utils::parsers::string_list;
using tvk::libs::context_utils::parsers::trackable_object_impl;
using tvk::libs::context_utils::parsers::zone;
using tvk::libs::context_utils::parsers::zone_impl;

namespace {

typedef std::vector<std::string> strings;
typedef std::vector<std::pair<int, int>> points;

strings texts_of(const string_list& _list) {
    return strings(_list.begin(), _list.end());
}

points points_of(zone& _zone) {
    points result;
    _zone.for_each_point([&result](zone::point& _point) {
        result.emplace_back(_point.get_x(), _point.get_y());
        return true;
    });
    return result;
}

}  // namespace

TEST(zone_parser, reads_a_rest_element) {
    const Json::Value element = load_sample("rest/zones.json")["zones"][0];
    zone_impl zone(element, boost::none);
    EXPECT_EQ(zone.get_uid(), "zone-1");
    EXPECT_EQ(zone.get_project_uid(), "project-1");
    EXPECT_EQ(zone.get_name(), "Loading bay");
    EXPECT_EQ(zone.get_sublocation_uid(), std::string("subloc-1"));
    EXPECT_TRUE(zone.get_active());
    EXPECT_EQ(zone.get_shape(), "polygon");
    EXPECT_EQ(zone.get_zone_type_name(), "danger");
    EXPECT_EQ(zone.get_zone_alarm_level(), 2u);
    EXPECT_FALSE(zone.get_default_allowed());
    EXPECT_EQ(zone.get_priority(), -3);
    EXPECT_EQ(zone.get_ts(), 1714979289u);
    EXPECT_EQ(zone.get_ms(), 123u);
    EXPECT_FALSE(zone.get_trackable_object_uid());
    EXPECT_FALSE(zone.get_radius());
    EXPECT_EQ(points_of(zone), (points{{0, 0}, {1000, 0}, {1000, 2500}, {0, 2500}}));
    // In array order, not sorted as the repository's zones are.
    EXPECT_EQ(texts_of(zone.get_zone_exceptions()), (strings{"tag-9", "tag-3"}));
    EXPECT_EQ(texts_of(zone.get_zone_exceptions_groups()), strings{"visitors"});

    int visited = 0;
    EXPECT_TRUE(zone.for_each_trackable_in_zone([&visited](zone::trackable_in_zone& _tag) {
        ++visited;
        EXPECT_EQ(_tag.get_uid(), "tag-1");
        EXPECT_EQ(_tag.get_x(), 120);
        EXPECT_EQ(_tag.get_y(), 340);
        EXPECT_EQ(_tag.get_z(), -10);
        EXPECT_EQ(_tag.get_time(), timestamp(1714979400, 250));
        return true;
    }));
    EXPECT_EQ(visited, 1);
}

TEST(zone_parser, a_message_gives_the_envelope_time) {
    const Json::Value message = load_sample("notify/zone_created.json");
    zone_impl zone(message["plist"], message);
    EXPECT_EQ(zone.get_uid(), "zone-3");
    EXPECT_EQ(zone.get_ts(), 1714979289u);  // not the "updated_at" inside "plist"
    EXPECT_EQ(zone.get_ms(), 250u);
    EXPECT_EQ(zone.get_radius(), 200);
    EXPECT_TRUE(zone.for_each_trackable_in_zone([](zone::trackable_in_zone&) { return false; }));

    const Json::Value no_time = parse(R"({"plist": {"updated_at": "2023-05-04T12:34:56.789Z"}})");
    zone_impl without(no_time["plist"], no_time);
    EXPECT_EQ(logic_error_of([&] { without.get_ts(); }), R"(context-utils: "ts" is not an uint!)");
    EXPECT_EQ(logic_error_of([&] { without.get_ms(); }), R"(context-utils: "ms" is not an uint!)");
}

TEST(zone_parser, required_fields_name_themselves) {
    const Json::Value missing = parse("{}");
    const Json::Value mistyped = parse(R"({
        "uid": 5, "project_uid": null, "name": ["n"], "active": 1, "shape": true,
        "zone_type_name": {}, "zone_alarm_level": -1, "default_allowed": "true",
        "priority": 2.5, "updated_at": "2023-05-04T12:34:56Z", "zone_exceptions": {},
        "zone_exceptions_groups": "g"})");
    for (const Json::Value* json : {&missing, &mistyped}) {
        zone_impl zone(*json, boost::none);
        const std::string updated_at =
            json == &missing ? R"(context-utils: "updated_at" is not a string!)"
                             : R"(context-utils: failed to parse timestamp: "updated_at")";
        const expected_error errors[] = {
            {"uid", [&] { zone.get_uid(); }, R"(context-utils: "uid" is not a string!)"},
            {"project_uid", [&] { zone.get_project_uid(); },
             R"(context-utils: "project_uid" is not a string!)"},
            {"name", [&] { zone.get_name(); }, R"(context-utils: "name" is not a string!)"},
            {"active", [&] { zone.get_active(); }, R"(context-utils: "active" is not a bool!)"},
            {"shape", [&] { zone.get_shape(); }, R"(context-utils: "shape" is not a string!)"},
            {"zone_type_name", [&] { zone.get_zone_type_name(); },
             R"(context-utils: "zone_type_name" is not a string!)"},
            {"zone_alarm_level", [&] { zone.get_zone_alarm_level(); },
             R"(context-utils: "zone_alarm_level" is not an uint!)"},
            {"default_allowed", [&] { zone.get_default_allowed(); },
             R"(context-utils: "default_allowed" is not a bool!)"},
            {"priority", [&] { zone.get_priority(); },
             R"(context-utils: "priority" is not an int!)"},
            {"ts", [&] { zone.get_ts(); }, updated_at},
            {"ms", [&] { zone.get_ms(); }, updated_at},
            {"zone_exceptions", [&] { zone.get_zone_exceptions(); },
             "context-utils: zone_exceptions is not an array!"},
            {"zone_exceptions_groups", [&] { zone.get_zone_exceptions_groups(); },
             "context-utils: zone_exceptions_groups is not an array!"},
        };
        for (const auto& e : errors) {
            EXPECT_EQ(logic_error_of(e.call), e.message) << e.getter;
        }
        EXPECT_FALSE(zone.get_sublocation_uid());
        EXPECT_FALSE(zone.get_trackable_object_uid());
        EXPECT_TRUE(zone.for_each_point([](zone::point&) { return false; }));
    }
}

TEST(zone_parser, lists_are_converted_in_array_order_when_read) {
    Json::Value json = parse(R"({"zone_exceptions": [1, "a", true], "zone_exceptions_groups":
                                  [{"x": 1}], "trackables_in_zone": {"uid": "t"}})");
    zone_impl zone(json, boost::none);
    const auto exceptions = zone.get_zone_exceptions();
    json["zone_exceptions"][1] = "b";
    EXPECT_EQ(texts_of(exceptions), (strings{"1", "b", "true"}));
    // An element that has no text raises only when the range is read.
    const auto groups = zone.get_zone_exceptions_groups();
    EXPECT_THROW(texts_of(groups), Json::LogicError);
    // Not an array: nothing to walk.
    EXPECT_TRUE(zone.for_each_trackable_in_zone([](zone::trackable_in_zone&) { return false; }));
}

TEST(zone_parser, walks_stop_when_the_callback_says_so) {
    const Json::Value json = parse(R"({"zone_geometry": {"positions": [{"x": 1.9, "y": -1.9},
                                                                          {"x": 2, "y": 2}]},
                                       "trackables_in_zone": [{"uid": "t1"}, {"uid": "t2"}]})");
    zone_impl zone(json, boost::none);
    int calls = 0;
    EXPECT_FALSE(zone.for_each_point([&calls](zone::point& _point) {
        ++calls;
        EXPECT_EQ(_point.get_x(), 1);
        EXPECT_EQ(_point.get_y(), -1);
        return false;
    }));
    EXPECT_EQ(calls, 1);

    strings uids;
    EXPECT_FALSE(zone.for_each_trackable_in_zone([&uids](zone::trackable_in_zone& _tag) {
        uids.push_back(_tag.get_uid());
        // Without "entered" the position and time name their path.
        EXPECT_EQ(logic_error_of([&] { _tag.get_x(); }),
                  R"(context-utils: "entered.x" is not a number!)");
        EXPECT_EQ(logic_error_of([&] { _tag.get_z(); }),
                  R"(context-utils: "entered.z" is not a number!)");
        EXPECT_EQ(logic_error_of([&] { _tag.get_time(); }),
                  R"(context-utils: "entered.time" is not a string!)");
        return uids.size() < 2;
    }));
    EXPECT_EQ(uids, (strings{"t1", "t2"}));
}

TEST(zone_parser, entered_times_before_1970_and_after_2106_stand) {
    Json::Value element = parse(R"({"trackables_in_zone": []})");
    for (const auto& t : far_times) {
        Json::Value trackable;
        trackable["uid"] = "t1";
        trackable["entered"]["time"] = t.text;
        element["trackables_in_zone"].append(trackable);
    }
    zone_impl zone(element, boost::none);
    std::vector<timestamp> times;
    zone.for_each_trackable_in_zone([&times](zone::trackable_in_zone& _tag) {
        times.push_back(_tag.get_time());
        return true;
    });
    std::vector<timestamp> expected;
    for (const auto& t : far_times) {
        expected.push_back(t.get_timestamp());
    }
    EXPECT_EQ(times, expected);
}

TEST(trackable_object_parser, reads_a_rest_element) {
    const Json::Value element = load_sample("rest/track_obj.json")["trackableObjects"][0];
    trackable_object_impl tag(element, boost::none);
    EXPECT_EQ(tag.get_uid(), "tag-1");
    EXPECT_EQ(tag.get_name(), "Forklift 1");
    EXPECT_EQ(tag.get_responsive(), true);
    EXPECT_EQ(tag.get_mac_address(), std::string("00:11:22:33:44:55"));
    EXPECT_EQ(tag.get_project_uid(), "project-1");
    EXPECT_EQ(tag.get_sublocation_uid(), std::string("subloc-1"));
    EXPECT_EQ(tag.get_x(), 120);
    EXPECT_EQ(tag.get_y(), 340);
    EXPECT_EQ(tag.get_z(), -10);
    EXPECT_EQ(tag.get_ts(), 1714979289u);
    EXPECT_EQ(tag.get_ms(), 500u);
    EXPECT_EQ(tag.get_self_zone_uid(), std::string("zone-2"));
    ASSERT_TRUE(tag.get_groups());
    EXPECT_EQ(texts_of(*tag.get_groups()), (strings{"vehicles", "drivers"}));
    EXPECT_EQ(tag.get_default_height(), 170);
    EXPECT_EQ(tag.get_type(), "vehicle");
    EXPECT_EQ(tag.get_category(), "forklift");

    auto& config = tag.get_tag_config();
    EXPECT_FALSE(config.get_stationary());
    ASSERT_TRUE(config.get_t2t_cfg());
    auto& t2t = *config.get_t2t_cfg();
    EXPECT_EQ(t2t.get_role(), std::string("master"));
    EXPECT_EQ(t2t.get_alarm_back(), true);
    EXPECT_EQ(t2t.get_distance(), 500u);
    EXPECT_EQ(t2t.get_angle(), 90u);
    EXPECT_EQ(t2t.get_delay(), 3u);
    EXPECT_EQ(t2t.get_pin(), std::string("1234"));
    EXPECT_EQ(t2t.get_alert_distance(), 300u);
    EXPECT_EQ(t2t.get_safe_distance(), 800u);
    EXPECT_EQ(t2t.get_buzzer(), true);
    EXPECT_EQ(t2t.get_haptic(), false);
}

TEST(trackable_object_parser, a_message_gives_the_envelope_time) {
    const Json::Value message = load_sample("notify/trackable_object_updated.json");
    trackable_object_impl tag(message["plist"], message);
    EXPECT_EQ(tag.get_uid(), "tag-2");
    EXPECT_EQ(tag.get_ts(), 1714979290u);
    EXPECT_EQ(tag.get_ms(), 5u);
    EXPECT_EQ(tag.get_responsive(), false);
    // No "position": the optional fields are empty.
    EXPECT_FALSE(tag.get_sublocation_uid());
    EXPECT_FALSE(tag.get_x());
    EXPECT_FALSE(tag.get_y());
    EXPECT_FALSE(tag.get_z());
}

TEST(trackable_object_parser, required_fields_name_themselves) {
    const Json::Value json = parse(R"({"uid": 1, "name": null, "default_height": "170",
                                       "updated_at": 7, "groups": {"g": 1}})");
    trackable_object_impl tag(json, boost::none);
    const expected_error errors[] = {
        {"uid", [&] { tag.get_uid(); }, R"(context-utils: "uid" is not a string!)"},
        {"name", [&] { tag.get_name(); }, R"(context-utils: "name" is not a string!)"},
        {"project_uid", [&] { tag.get_project_uid(); },
         R"(context-utils: "project_uid" is not a string!)"},
        {"ts", [&] { tag.get_ts(); }, R"(context-utils: "updated_at" is not a string!)"},
        {"ms", [&] { tag.get_ms(); }, R"(context-utils: "updated_at" is not a string!)"},
        {"default_height", [&] { tag.get_default_height(); },
         R"(context-utils: "default_height" is not a number!)"},
        {"type", [&] { tag.get_type(); }, R"(context-utils: "type" is not a string!)"},
        {"category", [&] { tag.get_category(); }, R"(context-utils: "category" is not a string!)"},
        {"stationary", [&] { tag.get_tag_config().get_stationary(); },
         R"(context-utils: "stationary" is not a bool!)"},
    };
    for (const auto& e : errors) {
        EXPECT_EQ(logic_error_of(e.call), e.message) << e.getter;
    }
    // Without "tag_config" the configuration is still there, with nothing optional in it.
    EXPECT_FALSE(tag.get_tag_config().get_t2t_cfg());
    EXPECT_FALSE(tag.get_tag_config().get_t2t_no_alarm());
    EXPECT_FALSE(tag.get_groups());
    EXPECT_FALSE(tag.get_responsive());
    EXPECT_FALSE(tag.get_mac_address());
    EXPECT_FALSE(tag.get_self_zone_uid());
}

TEST(trackable_object_parser, t2t_numbers_are_never_negative) {
    const Json::Value json = parse(R"({"tag_config": {"t2t_no_alarm": ["a", 2], "t2t_cfg": {
        "distance": -1, "angle": 2.7, "delay": 2.7, "alert_distance": -2147483648,
        "safe_distance": 0, "role": 3, "buzzer": "yes"}}})");
    trackable_object_impl tag(json, boost::none);
    auto& config = tag.get_tag_config();
    ASSERT_TRUE(config.get_t2t_no_alarm());
    EXPECT_EQ(texts_of(*config.get_t2t_no_alarm()), (strings{"a", "2"}));
    ASSERT_TRUE(config.get_t2t_cfg());
    auto& t2t = *config.get_t2t_cfg();
    EXPECT_FALSE(t2t.get_distance());  // not 4294967295
    EXPECT_EQ(t2t.get_angle(), 2u);
    EXPECT_FALSE(t2t.get_delay());
    EXPECT_FALSE(t2t.get_alert_distance());
    EXPECT_EQ(t2t.get_safe_distance(), 0u);
    EXPECT_FALSE(t2t.get_role());
    EXPECT_FALSE(t2t.get_buzzer());
    EXPECT_FALSE(t2t.get_haptic());
    EXPECT_FALSE(t2t.get_pin());
}
