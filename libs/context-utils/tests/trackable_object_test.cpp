#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/trackable_object_impl.hpp"
#include "test_helpers.hpp"

using namespace context_utils_test;
using tvk::libs::context_utils::json_notify;
using tvk::libs::context_utils::timestamp;
using tvk::libs::context_utils::objects::trackable_object;
using tvk::libs::context_utils::objects::trackable_object_impl;

namespace {

typedef std::vector<std::string> strings;
typedef trackable_object::tag_config tag_config;

trackable_object_impl rest_tag(Json::ArrayIndex _index) {
    return trackable_object_impl(rest_element("rest/track_obj.json", "trackableObjects", _index));
}

std::vector<const tag_config::t2t_no_alarm_item*> items_of(const tag_config& _config) {
    std::vector<const tag_config::t2t_no_alarm_item*> items;
    _config.for_each_t2t_no_alarm_item([&](const tag_config::t2t_no_alarm_item& _item) {
        items.push_back(&_item);
        return true;
    });
    return items;
}

}  // namespace

TEST(trackable_object, reads_a_rest_element) {
    const trackable_object_impl tag = rest_tag(0);
    EXPECT_EQ(tag.get_uid(), "tag-1");
    EXPECT_EQ(tag.get_name(), "Forklift 1");
    ASSERT_TRUE(tag.get_node());
    EXPECT_TRUE(tag.get_node()->get_responsive());
    EXPECT_EQ(tag.get_node()->get_mac_address(), "00:11:22:33:44:55");
    EXPECT_EQ(tag.get_project_uid(), "project-1");
    EXPECT_EQ(tag.get_company_uid(), "company-1");
    ASSERT_TRUE(tag.get_position());
    EXPECT_EQ(tag.get_position()->get_x(), 120);
    EXPECT_EQ(tag.get_position()->get_y(), 340);
    EXPECT_EQ(tag.get_position()->get_z(), -10);
    EXPECT_EQ(tag.get_position()->get_sl_id(), "subloc-1");
    EXPECT_EQ(tag.get_updated_at(), timestamp(1714979289, 500));
    EXPECT_EQ(copy_of(tag.get_self_zone_uid()), std::string("zone-2"));
    ASSERT_TRUE(tag.get_groups());
    EXPECT_EQ(*tag.get_groups(), (strings{"drivers", "vehicles"}));
    EXPECT_EQ(tag.get_default_height(), 170);
    EXPECT_EQ(tag.get_type(), "vehicle");
    EXPECT_EQ(tag.get_category(), "forklift");

    const tag_config& config = tag.get_tag_config();
    EXPECT_FALSE(config.get_stationary());
    const auto items = items_of(config);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->get_mac(), "66:77:88:99:aa:bb");
    EXPECT_EQ(items[1]->get_mac(), "cc:dd:ee:ff:00:11");
    const auto cfg = config.get_t2t_cfg();
    ASSERT_TRUE(cfg);
    EXPECT_EQ(copy_of(cfg->get_role()), std::string("master"));
    EXPECT_EQ(cfg->get_alarm_back(), true);
    EXPECT_EQ(cfg->get_distance(), 500u);
    EXPECT_EQ(cfg->get_angle(), 90u);
    EXPECT_EQ(cfg->get_delay(), 3u);
    EXPECT_EQ(copy_of(cfg->get_pin()), std::string("1234"));
    EXPECT_EQ(cfg->get_alert_distance(), 300u);
    EXPECT_EQ(cfg->get_safe_distance(), 800u);
    EXPECT_EQ(cfg->get_buzzer(), true);
    EXPECT_EQ(cfg->get_haptic(), false);
}

TEST(trackable_object, reads_a_rest_element_without_optional_parts) {
    const trackable_object_impl tag = rest_tag(1);
    EXPECT_EQ(tag.get_uid(), "tag-2");
    EXPECT_FALSE(tag.get_node());
    EXPECT_FALSE(tag.get_position());
    EXPECT_FALSE(tag.get_self_zone_uid());
    EXPECT_FALSE(tag.get_groups());
    EXPECT_TRUE(tag.get_tag_config().get_stationary());
    EXPECT_FALSE(tag.get_tag_config().get_t2t_cfg());
    EXPECT_TRUE(items_of(tag.get_tag_config()).empty());
}

TEST(trackable_object, required_fields_raise_when_missing_or_mistyped) {
    const trackable_object_impl missing(json_object_of("{}"));
    const trackable_object_impl mistyped(json_object_of(R"({
        "uid": 5, "name": null, "project_uid": [], "company_uid": {}, "updated_at": true,
        "default_height": "170", "type": 1, "category": false, "tag_config": []})"));
    for (const trackable_object_impl* tag : {&missing, &mistyped}) {
        const expected_error errors[] = {
            {"uid", [&] { tag->get_uid(); }, R"("uid" is not a string!)"},
            {"name", [&] { tag->get_name(); }, R"("name" is not a string!)"},
            {"project_uid", [&] { tag->get_project_uid(); }, R"("project_uid" is not a string!)"},
            {"company_uid", [&] { tag->get_company_uid(); }, R"("company_uid" is not a string!)"},
            {"updated_at", [&] { tag->get_updated_at(); }, R"("updated_at" is not a string!)"},
            {"default_height", [&] { tag->get_default_height(); },
             R"("default_height" is not a number!)"},
            {"type", [&] { tag->get_type(); }, R"("type" is not a string!)"},
            {"category", [&] { tag->get_category(); }, R"("category" is not a string!)"},
            {"tag_config", [&] { tag->get_tag_config(); }, R"("tag_config" is not an object!)"},
        };
        for (const auto& e : errors) {
            EXPECT_EQ(error_of(e.call), e.message) << e.getter;
            EXPECT_EQ(error_of(e.call), e.message) << e.getter;
        }
        EXPECT_FALSE(tag->get_node());
        EXPECT_FALSE(tag->get_position());
        EXPECT_FALSE(tag->get_self_zone_uid());
        EXPECT_FALSE(tag->get_groups());
    }
    EXPECT_EQ(error_of([] {
                  trackable_object_impl(json_object_of(R"({"updated_at": "yesterday"})"))
                      .get_updated_at();
              }),
              R"(failed to parse timestamp: "updated_at")");
}

TEST(trackable_object, optional_parts_and_lists) {
    const trackable_object_impl tag(json_object_of(R"({"groups": ["g2", "g1", 3, "g1"],
        "self_zone_uid": 5, "node": 5, "position": "here", "default_height": -170.9})"));
    ASSERT_TRUE(tag.get_groups());
    EXPECT_EQ(*tag.get_groups(), (strings{"g1", "g1", "g2"}));
    EXPECT_FALSE(tag.get_self_zone_uid());
    EXPECT_FALSE(tag.get_node());
    EXPECT_FALSE(tag.get_position());
    EXPECT_EQ(tag.get_default_height(), -170);
    EXPECT_FALSE(trackable_object_impl(json_object_of(R"({"groups": "g1"})")).get_groups());
    EXPECT_TRUE(trackable_object_impl(json_object_of(R"({"groups": []})")).get_groups()->empty());
    EXPECT_THROW(
        trackable_object_impl(json_object_of(R"({"default_height": 3e9})")).get_default_height(),
        Json::LogicError);
}

TEST(trackable_object, present_nested_objects_have_required_fields) {
    const trackable_object_impl tag(json_object_of(R"({
        "node": {"responsive": 1},
        "position": {"x": -1.5, "y": 2, "z": 0}})"));
    ASSERT_TRUE(tag.get_node());
    EXPECT_EQ(error_of([&] { tag.get_node()->get_responsive(); }),
              R"("responsive" is not a bool!)");
    EXPECT_EQ(error_of([&] { tag.get_node()->get_mac_address(); }),
              R"("mac_address" is not a string!)");
    ASSERT_TRUE(tag.get_position());
    EXPECT_EQ(tag.get_position()->get_x(), -1);
    EXPECT_EQ(tag.get_position()->get_y(), 2);
    EXPECT_EQ(tag.get_position()->get_z(), 0);
    EXPECT_EQ(error_of([&] { tag.get_position()->get_sl_id(); }), R"("sl_id" is not a string!)");
    EXPECT_EQ(error_of([] {
                  trackable_object_impl(json_object_of(R"({"position": {"x": "1"}})"))
                      .get_position()
                      ->get_x();
              }),
              R"("x" is not a number!)");
}

TEST(trackable_object, tag_configuration) {
    const trackable_object_impl tag(json_object_of(R"({"tag_config": {
        "stationary": 1,
        "t2t_no_alarm": [{"mac": "m1"}, "m2", {}],
        "t2t_cfg": {"distance": 2.5, "delay": 2.5, "role": 1, "angle": 45.9,
                    "alarm_back": "yes", "pin": 1234, "buzzer": 0}}})"));
    const tag_config& config = tag.get_tag_config();
    EXPECT_EQ(error_of([&] { config.get_stationary(); }), R"("stationary" is not a bool!)");

    const auto items = items_of(config);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->get_mac(), "m1");
    EXPECT_EQ(error_of([&] { items[1]->get_mac(); }), R"("t2t_no_alarm.mac" is not a string!)");
    int calls = 0;
    EXPECT_FALSE(config.for_each_t2t_no_alarm_item(
        [&](const tag_config::t2t_no_alarm_item&) { return ++calls, false; }));
    EXPECT_EQ(calls, 1);

    const auto cfg = config.get_t2t_cfg();
    ASSERT_TRUE(cfg);
    EXPECT_EQ(cfg->get_distance(), 2u);
    EXPECT_EQ(cfg->get_angle(), 45u);
    EXPECT_FALSE(cfg->get_delay());
    EXPECT_FALSE(cfg->get_role());
    EXPECT_FALSE(cfg->get_alarm_back());
    EXPECT_FALSE(cfg->get_pin());
    EXPECT_FALSE(cfg->get_buzzer());
    EXPECT_FALSE(cfg->get_haptic());
    EXPECT_FALSE(cfg->get_alert_distance());
    EXPECT_FALSE(cfg->get_safe_distance());

    const trackable_object_impl negative(json_object_of(R"({"tag_config": {"t2t_cfg": {
        "distance": -5, "angle": -0.5, "alert_distance": 5e9, "safe_distance": -1}}})"));
    const auto& bad = *negative.get_tag_config().get_t2t_cfg();
    EXPECT_THROW(bad.get_distance(), Json::LogicError);
    EXPECT_THROW(bad.get_angle(), Json::LogicError);
    EXPECT_THROW(bad.get_alert_distance(), Json::LogicError);
    EXPECT_THROW(bad.get_safe_distance(), Json::LogicError);

    // A list of plain MAC texts has no items; a missing list calls nothing and gives true.
    const trackable_object_impl plain(
        json_object_of(R"({"tag_config": {"t2t_no_alarm": ["m1", "m2"]}})"));
    EXPECT_TRUE(items_of(plain.get_tag_config()).empty());
    EXPECT_TRUE(items_of(rest_tag(1).get_tag_config()).empty());
}

TEST(trackable_object, notify_form_takes_its_time_from_the_envelope) {
    const trackable_object_impl tag(
        json_notify(load_sample("notify/trackable_object_updated.json")));
    EXPECT_EQ(tag.get_uid(), "tag-2");
    EXPECT_FALSE(tag.get_node()->get_responsive());
    ASSERT_TRUE(tag.get_groups());
    EXPECT_EQ(*tag.get_groups(), strings{"visitors"});
    EXPECT_EQ(tag.get_updated_at(), timestamp(1714979290, 5));

    const trackable_object_impl with_updated_at(json_notify_of(
        R"({"ts": 1000, "ms": 5, "plist": {"uid": "t", "updated_at": "2024-05-06T07:08:09.123Z"}})"));
    EXPECT_EQ(with_updated_at.get_updated_at(), timestamp(1000, 5));

    const trackable_object_impl without_plist(json_notify_of(R"({"ts": 1000, "ms": 5})"));
    EXPECT_EQ(error_of([&] { without_plist.get_uid(); }), R"("uid" is not a string!)");
    EXPECT_FALSE(without_plist.get_groups());
    EXPECT_EQ(without_plist.get_updated_at(), timestamp(1000, 5));

    const trackable_object_impl no_ts(json_notify_of(R"({"ms": 5, "plist": {"ts": 1000}})"));
    EXPECT_EQ(error_of([&] { no_ts.get_updated_at(); }), R"("ts" is not an unsigned int!)");
    const trackable_object_impl plist_is_number(json_notify_of(R"({"plist": 5})"));
    EXPECT_THROW(plist_is_number.get_uid(), Json::LogicError);
    EXPECT_THROW(plist_is_number.get_groups(), Json::LogicError);
}

TEST(trackable_object, converted_fields_are_served_from_the_cache) {
    const trackable_object_impl tag = rest_tag(0);
    EXPECT_EQ(&tag.get_uid(), &tag.get_uid());
    EXPECT_EQ(&*tag.get_groups(), &*tag.get_groups());
    EXPECT_EQ(&*tag.get_node(), &*tag.get_node());
    EXPECT_EQ(&tag.get_tag_config(), &tag.get_tag_config());
    EXPECT_EQ(&*tag.get_tag_config().get_t2t_cfg(), &*tag.get_tag_config().get_t2t_cfg());
}
