#include <gtest/gtest.h>

#include <string>

#include "objects/node_impl.hpp"
#include "objects/sublocation_impl.hpp"
#include "objects/win_anchor_impl.hpp"
#include "test_helpers.hpp"

using namespace context_utils_test;
using tvk::libs::context_utils::json_notify;
using tvk::libs::context_utils::timestamp;
using tvk::libs::context_utils::objects::node_impl;
using tvk::libs::context_utils::objects::sublocation_impl;
using tvk::libs::context_utils::objects::win_anchor_impl;

TEST(sublocation, reads_a_rest_element) {
    const sublocation_impl sublocation(rest_element("rest/sublocations.json", "sublocations", 0));
    EXPECT_EQ(sublocation.get_uid(), "subloc-1");
    EXPECT_EQ(sublocation.get_updated_at(), timestamp(1714975200, 0));
    EXPECT_EQ(copy_of(sublocation.get_name()), std::string("Warehouse"));
    EXPECT_EQ(copy_of(sublocation.get_project_name()), std::string("Site A"));
    EXPECT_EQ(copy_of(sublocation.get_project_uid()), std::string("project-1"));
    EXPECT_EQ(copy_of(sublocation.get_company_uid()), std::string("company-1"));
    EXPECT_EQ(copy_of(sublocation.get_location_uid()), std::string("location-1"));
    EXPECT_EQ(sublocation.get_id(), 3u);
    EXPECT_EQ(sublocation.get_offset_x(), -2);
    EXPECT_EQ(sublocation.get_offset_y(), 10);
    EXPECT_EQ(sublocation.get_offset_z(), 0);
}

TEST(sublocation, optional_fields_and_errors) {
    const sublocation_impl bare(json_object_of(R"({"uid": "s1"})"));
    EXPECT_EQ(bare.get_uid(), "s1");
    EXPECT_FALSE(bare.get_name());
    EXPECT_FALSE(bare.get_project_name());
    EXPECT_FALSE(bare.get_project_uid());
    EXPECT_FALSE(bare.get_company_uid());
    EXPECT_FALSE(bare.get_location_uid());
    EXPECT_FALSE(bare.get_id());
    EXPECT_FALSE(bare.get_offset_x());
    EXPECT_FALSE(bare.get_offset_y());
    EXPECT_FALSE(bare.get_offset_z());
    EXPECT_EQ(error_of([&] { bare.get_updated_at(); }), R"("updated_at" is not a string!)");
    EXPECT_EQ(error_of([] { sublocation_impl(json_object_of("{}")).get_uid(); }),
              R"("uid" is not a string!)");

    const sublocation_impl typed(json_object_of(
        R"({"id": 7.9, "offset_x": -2.5, "offset_y": "3", "name": 5, "offset_z": true})"));
    EXPECT_EQ(typed.get_id(), 7u);
    EXPECT_EQ(typed.get_offset_x(), -2);
    EXPECT_FALSE(typed.get_offset_y());
    EXPECT_FALSE(typed.get_offset_z());
    EXPECT_FALSE(typed.get_name());
    EXPECT_THROW(sublocation_impl(json_object_of(R"({"id": -1})")).get_id(), Json::LogicError);
}

TEST(win_anchor, reads_a_rest_element) {
    const win_anchor_impl anchor(rest_element("rest/win_anchors.json", "win_anchors", 0));
    EXPECT_EQ(anchor.get_uid(), "anchor-1");
    EXPECT_EQ(anchor.get_name(), "North wall");
    ASSERT_TRUE(anchor.get_node());
    EXPECT_TRUE(anchor.get_node()->get_responsive());
    EXPECT_EQ(anchor.get_node()->get_mac_address(), "aa:bb:cc:00:00:01");
    EXPECT_EQ(anchor.get_node()->get_node_id(), 17u);
    EXPECT_EQ(anchor.get_sublocation_uid(), "subloc-1");
    EXPECT_EQ(anchor.get_project_uid(), "project-1");
    EXPECT_EQ(anchor.get_company_uid(), "company-1");
    ASSERT_TRUE(anchor.get_position());
    EXPECT_EQ(anchor.get_position()->get_x(), 1);
    EXPECT_EQ(anchor.get_position()->get_y(), 2);
    EXPECT_EQ(anchor.get_position()->get_z(), 0);
    EXPECT_EQ(anchor.get_updated_at(), timestamp(1714978800, 0));

    const win_anchor_impl spare(rest_element("rest/win_anchors.json", "win_anchors", 1));
    EXPECT_FALSE(spare.get_node());
    EXPECT_FALSE(spare.get_position());
}

TEST(win_anchor, required_fields_and_nested_errors) {
    const win_anchor_impl anchor(json_object_of(R"({"node": {"responsive": 1, "node_id": -1},
                                                    "position": {"x": "1"}, "name": 3})"));
    const expected_error errors[] = {
        {"uid", [&] { anchor.get_uid(); }, R"("uid" is not a string!)"},
        {"name", [&] { anchor.get_name(); }, R"("name" is not a string!)"},
        {"sublocation_uid", [&] { anchor.get_sublocation_uid(); },
         R"("sublocation_uid" is not a string!)"},
        {"project_uid", [&] { anchor.get_project_uid(); }, R"("project_uid" is not a string!)"},
        {"company_uid", [&] { anchor.get_company_uid(); }, R"("company_uid" is not a string!)"},
        {"updated_at", [&] { anchor.get_updated_at(); }, R"("updated_at" is not a string!)"},
        {"responsive", [&] { anchor.get_node()->get_responsive(); },
         R"("responsive" is not a bool!)"},
        {"mac_address", [&] { anchor.get_node()->get_mac_address(); },
         R"("mac_address" is not a string!)"},
        {"node_id", [&] { anchor.get_node()->get_node_id(); },
         R"("node_id" is not an unsigned int!)"},
        {"x", [&] { anchor.get_position()->get_x(); }, R"("x" is not a number!)"},
        {"y", [&] { anchor.get_position()->get_y(); }, R"("y" is not a number!)"},
        {"z", [&] { anchor.get_position()->get_z(); }, R"("z" is not a number!)"},
    };
    for (const auto& e : errors) {
        EXPECT_EQ(error_of(e.call), e.message) << e.getter;
        EXPECT_EQ(error_of(e.call), e.message) << e.getter;
    }
    const win_anchor_impl not_objects(json_object_of(R"({"node": 5, "position": []})"));
    EXPECT_FALSE(not_objects.get_node());
    EXPECT_FALSE(not_objects.get_position());
}

TEST(node, reads_a_rest_element) {
    const node_impl node(rest_element("rest/nodes.json", "nodes", 0));
    EXPECT_EQ(node.get_uid(), "node-1");
    EXPECT_EQ(node.get_mac_address(), "00:11:22:33:44:55");
    EXPECT_EQ(node.get_updated_at(), timestamp(1714979100, 0));
    ASSERT_TRUE(node.get_status());
    EXPECT_TRUE(node.get_status()->get_ext_pow());
    EXPECT_FALSE(node_impl(rest_element("rest/nodes.json", "nodes", 1)).get_status());
}

TEST(node, required_fields_and_status) {
    const node_impl node(json_object_of(R"({"mac_address": 5, "status": {}})"));
    EXPECT_EQ(error_of([&] { node.get_uid(); }), R"("uid" is not a string!)");
    EXPECT_EQ(error_of([&] { node.get_mac_address(); }), R"("mac_address" is not a string!)");
    EXPECT_EQ(error_of([&] { node.get_updated_at(); }), R"("updated_at" is not a string!)");
    ASSERT_TRUE(node.get_status());
    EXPECT_EQ(error_of([&] { node.get_status()->get_ext_pow(); }), R"("ext_pow" is not a bool!)");
    EXPECT_FALSE(node_impl(json_object_of(R"({"status": true})")).get_status());
}

TEST(minor_objects, notify_forms_take_their_time_from_the_envelope) {
    const sublocation_impl sublocation(json_notify(load_sample("notify/sublocation_updated.json")));
    EXPECT_EQ(sublocation.get_uid(), "subloc-2");
    EXPECT_EQ(sublocation.get_id(), 7u);
    EXPECT_FALSE(sublocation.get_offset_y());
    EXPECT_EQ(sublocation.get_updated_at(), timestamp(1000, 250));

    const win_anchor_impl anchor(json_notify(load_sample("notify/win_anchor_created.json")));
    EXPECT_EQ(anchor.get_uid(), "anchor-3");
    EXPECT_EQ(anchor.get_node()->get_node_id(), 19u);
    EXPECT_EQ(anchor.get_updated_at(), timestamp(1000, 250));

    const node_impl node(json_notify(load_sample("notify/node_updated.json")));
    EXPECT_EQ(node.get_uid(), "node-2");
    EXPECT_FALSE(node.get_status()->get_ext_pow());
    EXPECT_EQ(node.get_updated_at(), timestamp(1000, 250));

    const char* const without_ms =
        R"({"ts": 1000, "plist": {"uid": "u", "updated_at": "2024-05-06T07:08:09.123Z"}})";
    EXPECT_EQ(error_of([&] { sublocation_impl(json_notify_of(without_ms)).get_updated_at(); }),
              R"("ms" is not an unsigned int!)");
    EXPECT_EQ(error_of([&] { win_anchor_impl(json_notify_of(without_ms)).get_updated_at(); }),
              R"("ms" is not an unsigned int!)");
    EXPECT_EQ(error_of([&] { node_impl(json_notify_of(without_ms)).get_updated_at(); }),
              R"("ms" is not an unsigned int!)");
    // Both wrong: "ts" is read first.
    EXPECT_EQ(error_of([] { node_impl(json_notify_of(R"({"ts": -1})")).get_updated_at(); }),
              R"("ts" is not an unsigned int!)");
}

TEST(minor_objects, converted_fields_are_served_from_the_cache) {
    const win_anchor_impl anchor(rest_element("rest/win_anchors.json", "win_anchors", 0));
    EXPECT_EQ(&anchor.get_uid(), &anchor.get_uid());
    EXPECT_EQ(&*anchor.get_node(), &*anchor.get_node());
    const node_impl node(rest_element("rest/nodes.json", "nodes", 0));
    EXPECT_EQ(&*node.get_status(), &*node.get_status());
    const sublocation_impl sublocation(rest_element("rest/sublocations.json", "sublocations", 0));
    EXPECT_EQ(&*sublocation.get_name(), &*sublocation.get_name());
}
