#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/zone_impl.hpp"
#include "test_helpers.hpp"

using namespace context_utils_test;
using tvk::libs::context_utils::json_notify;
using tvk::libs::context_utils::timestamp;
using tvk::libs::context_utils::objects::zone;
using tvk::libs::context_utils::objects::zone_impl;

namespace {

typedef std::vector<std::string> strings;

zone_impl rest_zone(Json::ArrayIndex _index) {
    return zone_impl(rest_element("rest/zones.json", "zones", _index));
}

std::vector<std::pair<int, int>> points_of(const zone& _zone) {
    std::vector<std::pair<int, int>> points;
    _zone.get_zone_geometry().for_each_point([&](const zone::point& _point) {
        points.emplace_back(_point.get_x(), _point.get_y());
        return true;
    });
    return points;
}

}  // namespace

TEST(zone, reads_a_rest_element) {
    const zone_impl zone = rest_zone(0);
    EXPECT_EQ(zone.get_uid(), "zone-1");
    EXPECT_EQ(zone.get_project_uid(), "project-1");
    EXPECT_EQ(zone.get_zone_id(), 12u);
    EXPECT_EQ(zone.get_name(), "Loading bay");
    EXPECT_EQ(copy_of(zone.get_sublocation_uid()), std::string("subloc-1"));
    EXPECT_TRUE(zone.get_active());
    EXPECT_EQ(zone.get_shape(), "polygon");
    EXPECT_EQ(zone.get_zone_type_name(), "danger");
    EXPECT_EQ(zone.get_zone_alarm_level(), 2u);
    EXPECT_EQ(zone.get_sublocation_id(), 3u);
    EXPECT_EQ(zone.get_zone_type_id(), 7u);
    EXPECT_FALSE(zone.get_default_allowed());
    EXPECT_EQ(zone.get_priority(), -3);
    EXPECT_EQ(zone.get_updated_at(), timestamp(1714979289, 123));
    EXPECT_FALSE(zone.get_trackable_object_uid());
    EXPECT_FALSE(zone.get_zone_geometry().get_radius());
    EXPECT_EQ(points_of(zone),
              (std::vector<std::pair<int, int>>{{0, 0}, {1000, 0}, {1000, 2500}, {0, 2500}}));
    EXPECT_EQ(zone.get_zone_exceptions(), (strings{"tag-3", "tag-9"}));
    EXPECT_EQ(zone.get_zone_exceptions_groups(), strings{"visitors"});
    ASSERT_TRUE(zone.get_user_params());
    EXPECT_EQ(zone.get_user_params()->get_max_occupancy(), 4u);

    int visited = 0;
    EXPECT_TRUE(zone.for_each_trackable_in_zone([&](const zone::trackable_in_zone& _tag) {
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

TEST(zone, reads_a_circle_with_optional_fields_absent) {
    const zone_impl zone = rest_zone(1);
    EXPECT_EQ(zone.get_uid(), "zone-2");
    EXPECT_FALSE(zone.get_zone_id());
    EXPECT_FALSE(zone.get_sublocation_uid());
    EXPECT_FALSE(zone.get_sublocation_id());
    EXPECT_EQ(copy_of(zone.get_trackable_object_uid()), std::string("tag-2"));
    EXPECT_EQ(zone.get_zone_geometry().get_radius(), 350);
    EXPECT_TRUE(points_of(zone).empty());
    EXPECT_TRUE(zone.get_zone_exceptions().empty());
    EXPECT_FALSE(zone.get_user_params());
    int visited = 0;
    EXPECT_TRUE(zone.for_each_trackable_in_zone(
        [&](const zone::trackable_in_zone&) { return ++visited, true; }));
    EXPECT_EQ(visited, 0);
}

TEST(zone, required_fields_raise_when_missing_or_mistyped) {
    const zone_impl missing(json_object_of("{}"));
    const zone_impl mistyped(json_object_of(R"({
        "uid": 5, "project_uid": null, "name": ["n"], "active": 1, "shape": true,
        "zone_type_name": {}, "zone_alarm_level": -1, "zone_type_id": 2.5,
        "default_allowed": "true", "priority": 2.5, "updated_at": 5, "zone_geometry": [],
        "zone_exceptions": {}, "zone_exceptions_groups": "g"})"));
    for (const zone_impl* zone : {&missing, &mistyped}) {
        const expected_error errors[] = {
            {"uid", [&] { zone->get_uid(); }, R"("uid" is not a string!)"},
            {"project_uid", [&] { zone->get_project_uid(); }, R"("project_uid" is not a string!)"},
            {"name", [&] { zone->get_name(); }, R"("name" is not a string!)"},
            {"active", [&] { zone->get_active(); }, R"("active" is not a bool!)"},
            {"shape", [&] { zone->get_shape(); }, R"("shape" is not a string!)"},
            {"zone_type_name", [&] { zone->get_zone_type_name(); },
             R"("zone_type_name" is not a string!)"},
            {"zone_alarm_level", [&] { zone->get_zone_alarm_level(); },
             R"("zone_alarm_level" is not an unsigned int!)"},
            {"zone_type_id", [&] { zone->get_zone_type_id(); },
             R"("zone_type_id" is not an unsigned int!)"},
            {"default_allowed", [&] { zone->get_default_allowed(); },
             R"("default_allowed" is not a bool!)"},
            {"priority", [&] { zone->get_priority(); }, R"("priority" is not an int!)"},
            {"updated_at", [&] { zone->get_updated_at(); }, R"("updated_at" is not a string!)"},
            {"zone_geometry", [&] { zone->get_zone_geometry(); },
             R"("zone_geometry" is not an object!)"},
            {"zone_exceptions", [&] { zone->get_zone_exceptions(); },
             R"("zone_exceptions" is not an array!)"},
            {"zone_exceptions_groups", [&] { zone->get_zone_exceptions_groups(); },
             R"("zone_exceptions_groups" is not an array!)"},
        };
        for (const auto& e : errors) {
            EXPECT_EQ(error_of(e.call), e.message) << e.getter;
            // A failure is not cached: the next call fails the same way.
            EXPECT_EQ(error_of(e.call), e.message) << e.getter;
        }
    }
}

TEST(zone, optional_fields_are_empty_when_missing_or_mistyped) {
    for (const char* text : {"{}", R"({"zone_id": "12", "sublocation_uid": 5,
                                       "sublocation_id": -1, "trackable_object_uid": [],
                                       "user_params": 5, "trackables_in_zone": "t1"})",
                             R"({"zone_id": -1, "sublocation_id": 12.5})",
                             R"({"zone_id": 12.5, "sublocation_id": null})"}) {
        const zone_impl zone(json_object_of(text));
        EXPECT_FALSE(zone.get_zone_id()) << text;
        EXPECT_FALSE(zone.get_sublocation_uid()) << text;
        EXPECT_FALSE(zone.get_sublocation_id()) << text;
        EXPECT_FALSE(zone.get_trackable_object_uid()) << text;
        EXPECT_FALSE(zone.get_user_params()) << text;
        EXPECT_TRUE(zone.for_each_trackable_in_zone([](const zone::trackable_in_zone&) {
            ADD_FAILURE() << "no trackable expected";
            return true;
        })) << text;
    }
}

TEST(zone, converts_numbers_by_their_policies) {
    const zone_impl zone(json_object_of(R"({"zone_id": 12.0, "priority": 7.0,
        "zone_geometry": {"radius": 2.7}, "user_params": {"max_occupancy": 4.5},
        "zone_exceptions": ["b", "a", 7, "a"], "zone_exceptions_groups": []})"));
    EXPECT_EQ(zone.get_zone_id(), 12u);
    EXPECT_EQ(zone.get_priority(), 7);
    EXPECT_EQ(zone.get_zone_geometry().get_radius(), 2);
    EXPECT_EQ(zone.get_user_params()->get_max_occupancy(), 4u);
    EXPECT_EQ(zone.get_zone_exceptions(), (strings{"a", "a", "b"}));
    EXPECT_TRUE(zone.get_zone_exceptions_groups().empty());

    const zone_impl out_of_range(json_object_of(R"({"zone_geometry": {"radius": 1e10},
        "user_params": {"max_occupancy": -1}})"));
    EXPECT_THROW(out_of_range.get_zone_geometry().get_radius(), Json::LogicError);
    EXPECT_THROW(out_of_range.get_user_params()->get_max_occupancy(), Json::LogicError);
    EXPECT_FALSE(
        zone_impl(json_object_of(R"({"user_params": {}})")).get_user_params()->get_max_occupancy());
}

TEST(zone, points_skip_junk_and_raise_their_own_errors) {
    const zone_impl zone(json_object_of(
        R"({"zone_geometry": {"positions": [{"x": 1, "y": 2}, "junk", {"x": 3}]}})"));
    std::vector<const zone::point*> points;
    EXPECT_TRUE(zone.get_zone_geometry().for_each_point([&](const zone::point& _point) {
        points.push_back(&_point);
        return true;
    }));
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0]->get_x(), 1);
    EXPECT_EQ(points[0]->get_y(), 2);
    EXPECT_EQ(points[1]->get_x(), 3);
    EXPECT_EQ(error_of([&] { points[1]->get_y(); }), R"("y" is not a number!)");
    EXPECT_EQ(
        error_of([&] {
            zone_impl(json_object_of(R"({"zone_geometry": {"positions": [{"x": "1"}]}})"))
                .get_zone_geometry()
                .for_each_point([](const zone::point& _point) { return _point.get_x(), true; });
        }),
        R"("x" is not a number!)");

    int calls = 0;
    EXPECT_FALSE(zone.get_zone_geometry().for_each_point([&](const zone::point&) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
}

TEST(zone, trackables_in_zone_name_their_entered_fields) {
    const zone_impl zone(json_object_of(R"({"trackables_in_zone": [
        {"uid": "t1"}, {"uid": "t2", "entered": {"time": "garbage"}}, 5,
        {"entered": {"x": "1", "y": 2.5, "z": 1e10, "time": 7}},
        {"uid": "t4", "entered": "not an object"}]})"));
    std::vector<const zone::trackable_in_zone*> tags;
    EXPECT_TRUE(zone.for_each_trackable_in_zone([&](const zone::trackable_in_zone& _tag) {
        tags.push_back(&_tag);
        return true;
    }));
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[0]->get_uid(), "t1");
    const expected_error errors[] = {
        {"x", [&] { tags[0]->get_x(); }, R"("entered.x" is not a number!)"},
        {"y", [&] { tags[0]->get_y(); }, R"("entered.y" is not a number!)"},
        {"z", [&] { tags[0]->get_z(); }, R"("entered.z" is not a number!)"},
        {"time", [&] { tags[0]->get_time(); }, R"("entered.time" is not a string!)"},
        {"garbage time", [&] { tags[1]->get_time(); },
         R"(failed to parse timestamp: "entered.time")"},
        {"uid", [&] { tags[2]->get_uid(); }, R"("uid" is not a string!)"},
        {"string x", [&] { tags[2]->get_x(); }, R"("entered.x" is not a number!)"},
        {"number time", [&] { tags[2]->get_time(); }, R"("entered.time" is not a string!)"},
    };
    for (const auto& e : errors) {
        EXPECT_EQ(error_of(e.call), e.message) << e.getter;
    }
    EXPECT_EQ(tags[2]->get_y(), 2);
    EXPECT_THROW(tags[2]->get_z(), Json::LogicError);
    EXPECT_THROW(tags[3]->get_x(), Json::LogicError);

    int calls = 0;
    EXPECT_FALSE(zone.for_each_trackable_in_zone([&](const zone::trackable_in_zone&) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
}

TEST(zone, notify_form_takes_its_time_from_the_envelope) {
    const zone_impl zone(json_notify(load_sample("notify/zone_created.json")));
    EXPECT_EQ(zone.get_uid(), "zone-3");
    EXPECT_EQ(zone.get_name(), "Gate");
    EXPECT_EQ(zone.get_zone_geometry().get_radius(), 200);
    // "plist" says 2000-01-01; the envelope's "ts" and "ms" win.
    EXPECT_EQ(zone.get_updated_at(), timestamp(1714979289, 250));

    const zone_impl deleted(json_notify(load_sample("notify/zone_deleted.json")));
    EXPECT_EQ(deleted.get_uid(), "zone-2");
    EXPECT_EQ(deleted.get_updated_at(), timestamp(1714979300, 0));
}

TEST(zone, notify_form_errors) {
    const zone_impl without_plist(json_notify_of(R"({"object": "ZONE", "ts": 1000, "ms": 250})"));
    EXPECT_EQ(error_of([&] { without_plist.get_uid(); }), R"("uid" is not a string!)");
    EXPECT_FALSE(without_plist.get_zone_id());
    EXPECT_EQ(without_plist.get_updated_at(), timestamp(1000, 250));

    const zone_impl ms_in_plist(json_notify_of(R"({"ts": 1000, "plist": {"ms": 5}})"));
    EXPECT_EQ(error_of([&] { ms_in_plist.get_updated_at(); }), R"("ms" is not an unsigned int!)");
    // A time in milliseconds does not fit "ts"; it is read before "ms".
    const zone_impl too_late(json_notify_of(R"({"ts": 1714979289000})"));
    EXPECT_EQ(error_of([&] { too_late.get_updated_at(); }), R"("ts" is not an unsigned int!)");

    const zone_impl plist_is_text(json_notify_of(R"({"ts": 1, "ms": 2, "plist": "zone"})"));
    EXPECT_THROW(plist_is_text.get_uid(), Json::LogicError);
    EXPECT_THROW(plist_is_text.get_zone_id(), Json::LogicError);
    EXPECT_EQ(plist_is_text.get_updated_at(), timestamp(1, 2));
}

TEST(zone, a_rest_element_that_is_not_an_object_raises_from_every_getter) {
    const zone_impl zone(json_object_of(R"("zone-1")"));
    EXPECT_THROW(zone.get_uid(), Json::LogicError);
    EXPECT_THROW(zone.get_sublocation_uid(), Json::LogicError);
    EXPECT_THROW(zone.get_updated_at(), Json::LogicError);
}

TEST(zone, converted_fields_are_served_from_the_cache) {
    const zone_impl zone = rest_zone(0);
    EXPECT_EQ(&zone.get_uid(), &zone.get_uid());
    EXPECT_EQ(&zone.get_zone_geometry(), &zone.get_zone_geometry());
    EXPECT_EQ(&zone.get_zone_exceptions(), &zone.get_zone_exceptions());
    EXPECT_EQ(&*zone.get_user_params(), &*zone.get_user_params());
    EXPECT_EQ(&*zone.get_sublocation_uid(), &*zone.get_sublocation_uid());
}
