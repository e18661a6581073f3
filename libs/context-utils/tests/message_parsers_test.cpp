#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parsers/alarm_impl.hpp"
#include "parsers/pos_impl.hpp"
#include "parsers/trackable_object_association_impl.hpp"
#include "parsers/trackable_object_groups_impl.hpp"
#include "test_helpers.hpp"

using namespace context_utils_test;
using tvk::libs::context_utils::timestamp;
using tvk::libs::context_utils::parsers::alarm_impl;
using tvk::libs::context_utils::parsers::pos_impl;
using tvk::libs::context_utils::parsers::trackable_object_association_impl;
using tvk::libs::context_utils::parsers::trackable_object_groups;
using tvk::libs::context_utils::parsers::trackable_object_groups_impl;
namespace core = tvk::libs::core;

namespace {

typedef std::vector<std::string> strings;

// "uid/trackable object" of each group the walk visits until _stop_after calls.
strings walk(trackable_object_groups& _groups, bool _added, std::size_t _stop_after = 100,
             bool* _result = nullptr) {
    strings visited;
    const auto callback = [&](trackable_object_groups::group& _group) {
        visited.push_back(_group.get_uid() + "/" + _group.get_trackable_object_uid());
        return visited.size() < _stop_after;
    };
    const bool result =
        _added ? _groups.for_each_added_group(callback) : _groups.for_each_removed_group(callback);
    if (_result != nullptr) {
        *_result = result;
    }
    return visited;
}

const char* const association = R"({"object": "TRACKABLE_OBJECT_ASSOCIATION",
    "action": "created", "ts": 1683203696, "ms": 7, "project_uid": "envelope-project",
    "plist": {"project_uid": "project-1", "mac_address": "00:11:22:33:44:55",
              "trob_uid": "tag-1", "created_at": "2023-05-04T12:34:56.789Z",
              "removed_at": "9999-12-31T23:59:59.000Z"}})";

}  // namespace

TEST(groups_parser, walks_added_and_removed_groups_in_name_order) {
    const Json::Value message = parse(R"({"ts": 1683203696, "ms": 5, "project_uid": "p1",
        "plist": {"g2": {"action": "REMOVE_GROUP", "trackableObject": "t1"},
                  "g1": {"action": "ADD_GROUP", "trackableObject": "t1"},
                  "g0": {"action": "ADD_GROUP", "trackableObject": "t2"},
                  "g3": {"action": "RENAME_GROUP", "trackableObject": "t3"},
                  "g4": {"trackableObject": "t4"}}})");
    trackable_object_groups_impl groups(message["plist"], message);
    EXPECT_EQ(groups.get_ts(), timestamp(1683203696, 5));
    EXPECT_EQ(groups.get_project_uid(), "p1");
    EXPECT_EQ(walk(groups, true), (strings{"g0/t2", "g1/t1"}));
    EXPECT_EQ(walk(groups, false), strings{"g2/t1"});

    bool result = true;
    EXPECT_EQ(walk(groups, true, 1, &result), strings{"g0/t2"});
    EXPECT_FALSE(result);
}

TEST(groups_parser, a_group_without_its_trackable_object_is_still_visited) {
    const Json::Value message = parse(R"({"plist": {"g": {"action": "ADD_GROUP"}}})");
    trackable_object_groups_impl groups(message["plist"], message);
    strings uids;
    EXPECT_TRUE(groups.for_each_added_group([&uids](trackable_object_groups::group& _group) {
        uids.push_back(_group.get_uid());
        EXPECT_EQ(logic_error_of([&] { _group.get_trackable_object_uid(); }),
                  "context-utils::group_impl: trackableObject is not a string!");
        return true;
    }));
    EXPECT_EQ(uids, strings{"g"});
}

TEST(groups_parser, a_plist_that_is_no_object) {
    for (const char* text : {"{}", R"({"plist": null})", R"({"plist": "g"})", R"({"plist": 3})"}) {
        const Json::Value message = parse(text);
        trackable_object_groups_impl groups(message["plist"], message);
        EXPECT_TRUE(walk(groups, true).empty()) << text;
    }
    // The elements of an array have no names.
    const Json::Value message = parse(R"({"plist": [{"action": "ADD_GROUP", "trackableObject":
                                                      "t1"}]})");
    trackable_object_groups_impl groups(message["plist"], message);
    EXPECT_EQ(walk(groups, true), strings{"/t1"});
}

TEST(groups_and_associations, the_envelope_time_needs_two_ints) {
    struct sample {
        const char* envelope;
        std::string error;
    };
    const sample samples[] = {
        {R"("ts": "1683203696", "ms": "5")", "context-utils: ts is not an int!"},
        {R"("ms": 5)", "context-utils: ts is not an int!"},
        {R"("ts": 1683203696.5, "ms": 5)", "context-utils: ts is not an int!"},
        {R"("ts": 1683203696)", "context-utils: ms is not an int!"},
        {R"("ts": 1683203696, "ms": 5.5)", "context-utils: ms is not an int!"},
    };
    for (const auto& s : samples) {
        const Json::Value message = parse(std::string("{") + s.envelope + R"(, "plist": {}})");
        trackable_object_groups_impl groups(message["plist"], message);
        trackable_object_association_impl association(message["plist"], message);
        EXPECT_EQ(logic_error_of([&] { groups.get_ts(); }), s.error) << s.envelope;
        EXPECT_EQ(logic_error_of([&] { association.get_ts(); }), s.error) << s.envelope;
    }
}

TEST(association_parser, reads_its_plist_and_envelope) {
    const Json::Value message = parse(association);
    trackable_object_association_impl view(message["plist"], message);
    EXPECT_EQ(view.get_ts(), timestamp(1683203696, 7));
    EXPECT_EQ(view.get_project_uid(), "project-1");  // from "plist", not the envelope
    EXPECT_EQ(view.get_mac_address(), "00:11:22:33:44:55");
    EXPECT_EQ(view.get_trackable_object_uid(), "tag-1");
    EXPECT_EQ(view.get_created_at(), timestamp(1683203696, 789));
    EXPECT_FALSE(view.get_removed_at());

    Json::Value removed = message;
    removed["plist"]["removed_at"] = "2023-05-04T12:35:00.001Z";
    trackable_object_association_impl removed_view(removed["plist"], removed);
    const auto removed_at = removed_view.get_removed_at();
    ASSERT_TRUE(removed_at);
    EXPECT_EQ(*removed_at, timestamp(1683203700, 1));
}

TEST(association_parser, times_before_1970_and_after_2106_stand) {
    for (const auto& t : far_times) {
        Json::Value message = parse(association);
        message["plist"]["created_at"] = t.text;
        message["plist"]["removed_at"] = t.text;
        trackable_object_association_impl view(message["plist"], message);
        EXPECT_EQ(view.get_created_at(), t.get_timestamp()) << t.text;
        const auto removed_at = view.get_removed_at();
        ASSERT_TRUE(removed_at) << t.text;
        EXPECT_EQ(*removed_at, t.get_timestamp()) << t.text;
    }
}

TEST(association_parser, required_fields_name_themselves) {
    const Json::Value missing = parse(R"({"plist": {}})");
    const Json::Value mistyped = parse(R"({"plist": {"project_uid": 1, "mac_address": [],
        "trob_uid": null, "created_at": "2023-05-04T12:34:56Z",
        "removed_at": "9999-12-31T23:59:59Z"}})");
    for (const Json::Value* json : {&missing, &mistyped}) {
        trackable_object_association_impl view((*json)["plist"], *json);
        const bool is_missing = json == &missing;
        const expected_error errors[] = {
            {"project_uid", [&] { view.get_project_uid(); },
             "context-utils: project_uid is not a string!"},
            {"mac_address", [&] { view.get_mac_address(); },
             "context-utils: mac_address is not a string!"},
            {"trob_uid", [&] { view.get_trackable_object_uid(); },
             "context-utils: trob_uid is not a string!"},
            {"created_at", [&] { view.get_created_at(); },
             is_missing ? "context-utils: created_at is not a string!"
                        : R"(context-utils: failed to parse timestamp: "created_at")"},
            {"removed_at", [&] { view.get_removed_at(); },
             is_missing ? "context-utils: removed_at is not a string!"
                        : R"(context-utils: failed to parse timestamp: "removed_at")"},
        };
        for (const auto& e : errors) {
            EXPECT_EQ(logic_error_of(e.call), e.message) << e.getter;
        }
    }
}

TEST(alarm_parser, reads_a_rest_element) {
    const Json::Value element = load_sample("rest/alarms.json")["alarms"][0];
    alarm_impl alarm(element, boost::none);
    EXPECT_EQ(alarm.get_uid(), "alarm-1");
    EXPECT_EQ(alarm.get_mac_address(), "00:11:22:33:44:55");
    EXPECT_EQ(alarm.get_alarm_name(), "zone_violation");
    EXPECT_EQ(alarm.get_text(), "Forklift 1 entered Loading bay");
    EXPECT_EQ(alarm.get_zone_alarm_level(), 2u);
    EXPECT_EQ(alarm.get_zone_violation_type(), std::string("enter"));
    EXPECT_EQ(alarm.get_zone_uid(), std::string("zone-1"));
    EXPECT_EQ(alarm.get_ts(), 1714979400u);
    EXPECT_EQ(alarm.get_ms(), 250u);
    EXPECT_EQ(alarm.get_sublocation_uid(), std::string("subloc-1"));
    EXPECT_FALSE(alarm.get_x());
}

TEST(alarm_parser, required_fields_name_themselves) {
    const Json::Value missing = parse("{}");
    const Json::Value mistyped = parse(R"({"uid": 1, "mac_address": null, "alarm_name": [],
        "additional_info": {"text": 5}, "obj_uid": {}, "ts": "2023-05-04T12:34:56Z"})");
    for (const Json::Value* json : {&missing, &mistyped}) {
        alarm_impl alarm(*json, boost::none);
        const std::string ts = json == &missing
                                   ? "context-utils: ts is not a string!"
                                   : R"(context-utils: failed to parse timestamp: "ts")";
        const expected_error errors[] = {
            {"uid", [&] { alarm.get_uid(); }, "context-utils: uid is not a string!"},
            {"mac_address", [&] { alarm.get_mac_address(); },
             "context-utils: mac_address is not a string!"},
            {"alarm_name", [&] { alarm.get_alarm_name(); },
             "context-utils: alarm_name is not a string!"},
            {"text", [&] { alarm.get_text(); },
             "context-utils: additional_info.text is not a string!"},
            {"obj_uid", [&] { alarm.get_obj_uid(); }, "context-utils: obj_uid is not a string!"},
            {"ts", [&] { alarm.get_ts(); }, ts},
            {"ms", [&] { alarm.get_ms(); }, ts},
        };
        for (const auto& e : errors) {
            EXPECT_EQ(logic_error_of(e.call), e.message) << e.getter;
        }
        EXPECT_FALSE(alarm.get_zone_alarm_level());
        EXPECT_FALSE(alarm.get_zone_violation_type());
        EXPECT_FALSE(alarm.get_zone_uid());
    }
    const Json::Value numeric = parse(R"({"ts": 1683203696})");
    alarm_impl numeric_ts(numeric, boost::none);
    EXPECT_EQ(logic_error_of([&] { numeric_ts.get_ts(); }), "context-utils: ts is not a string!");
}

TEST(alarm_parser, numbers_must_be_whole_and_a_level_never_negative) {
    struct sample {
        const char* json;
        boost::optional<int> x;
        boost::optional<unsigned int> level;
    };
    const sample samples[] = {
        {R"({"x": 12, "additional_info": {"zone_alarm_level": 3}})", 12, 3u},
        {R"({"x": 12.0, "additional_info": {"zone_alarm_level": 0}})", 12, 0u},
        {R"({"x": 12.5, "additional_info": {"zone_alarm_level": 2.5}})", boost::none, boost::none},
        {R"({"x": -3, "additional_info": {"zone_alarm_level": -1}})", -3, boost::none},
        {R"({"x": "3", "additional_info": {"zone_alarm_level": "3"}})", boost::none, boost::none},
    };
    for (const auto& s : samples) {
        const Json::Value json = parse(s.json);
        alarm_impl alarm(json, boost::none);
        EXPECT_EQ(alarm.get_x(), s.x) << s.json;
        EXPECT_EQ(alarm.get_zone_alarm_level(), s.level) << s.json;
    }
}

TEST(alarm_parser, a_message_gives_the_envelope_time) {
    const Json::Value message =
        parse(R"({"ts": 1683203696, "ms": 9, "plist": {"ts": "2023-05-04T12:34:56.789Z"}})");
    alarm_impl alarm(message["plist"], message);
    EXPECT_EQ(alarm.get_ts(), 1683203696u);
    EXPECT_EQ(alarm.get_ms(), 9u);

    const Json::Value wrong = parse(R"({"ts": "1683203696", "ms": null, "plist": {}})");
    alarm_impl wrong_alarm(wrong["plist"], wrong);
    EXPECT_EQ(logic_error_of([&] { wrong_alarm.get_ts(); }), "context-utils: ts is not an int!");
    EXPECT_EQ(logic_error_of([&] { wrong_alarm.get_ms(); }), "context-utils: ms is not an int!");
}

TEST(pos_parser, reads_a_position_message) {
    const Json::Value message = parse(R"({"tk_uid": "tag-1", "ts": "2024-05-06T07:10:00.250Z",
        "data": {"x": 3.9, "y": -2.9, "z": 0, "type": "uwb", "sl_uid": "subloc-1",
                 "mac": "00:11:22:33:44:55", "fom": 7}})");
    pos_impl pos(message);
    EXPECT_EQ(pos.get_trackable_uid(), "tag-1");
    EXPECT_EQ(pos.get_ts(), timestamp(1714979400, 250));
    EXPECT_EQ(pos.get_x(), 3);
    EXPECT_EQ(pos.get_y(), -2);
    EXPECT_EQ(pos.get_z(), 0);
    EXPECT_EQ(pos.get_type(), "uwb");
    EXPECT_EQ(pos.get_sublocation_uid(), "subloc-1");
    EXPECT_EQ(pos.get_mac(), "00:11:22:33:44:55");
    EXPECT_EQ(pos.get_fom(), 7u);
    // The texts are views into the message.
    EXPECT_EQ(pos.get_mac().data(), message["data"]["mac"].asCString());
}

TEST(pos_parser, fields_raise_core_exceptions_that_name_them) {
    const Json::Value missing = parse(R"({"fom": 7})");
    const Json::Value mistyped = parse(R"({"tk_uid": 1, "ts": 5, "data": {"x": "1", "y": null,
        "z": [], "type": 1, "sl_uid": 2, "mac": 3, "fom": -1}})");
    for (const Json::Value* json : {&missing, &mistyped}) {
        pos_impl pos(*json);
        const expected_error errors[] = {
            {"tk_uid", [&] { pos.get_trackable_uid(); },
             "context-utils: pos: tk_uid is not a string!"},
            {"ts", [&] { pos.get_ts(); }, "context-utils: pos: ts is not a string!"},
            {"x", [&] { pos.get_x(); }, "context-utils: pos: data.x is not a number!"},
            {"y", [&] { pos.get_y(); }, "context-utils: pos: data.y is not a number!"},
            {"z", [&] { pos.get_z(); }, "context-utils: pos: data.z is not a number!"},
            {"type", [&] { pos.get_type(); }, "context-utils: pos: data.type is not a string!"},
            {"sl_uid", [&] { pos.get_sublocation_uid(); },
             "context-utils: pos: data.sl_uid is not a string!"},
            {"fom", [&] { pos.get_fom(); }, "context-utils: pos: data.fom is not an uint!"},
            {"mac", [&] { pos.get_mac(); }, "context-utils: pos: data.mac is not a string!"},
        };
        for (const auto& e : errors) {
            EXPECT_EQ(error_of(e.call), e.message) << e.getter;
        }
    }
    pos_impl pos(missing);
    try {
        pos.get_fom();
        FAIL() << "no exception";
    } catch (const core::exception& e) {
        EXPECT_EQ(e.get_source_location().short_file(),
                  "/libs/context-utils/impl/parsers/pos_impl.cpp");
    }
    const Json::Value bad_time = parse(R"({"ts": "yesterday"})");
    pos_impl late(bad_time);
    EXPECT_EQ(error_of([&] { late.get_ts(); }), R"(timestamp: "yesterday" is invalid!)");
}
