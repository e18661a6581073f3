#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "context_updater.hpp"
#include "core/exception.hpp"
#include "test_helpers.hpp"

using context_utils_test::error_of;
using tvk::libs::context_utils::context_updater;
using tvk::libs::context_utils::json_notify;
using tvk::libs::context_utils::object_infos;

namespace {

// Every slot registered; each call is recorded under the slot's name.
class routed : public ::testing::Test {
protected:
    void SetUp() override {
        typedef void (context_updater::*setter)(context_updater::callback);
        const std::map<std::string, setter> setters = {
            {"zone_creating", &context_updater::on_zone_creating},
            {"zone_updating", &context_updater::on_zone_updating},
            {"zone_deleting", &context_updater::on_zone_deleting},
            {"trackable_object_creating", &context_updater::on_trackable_object_creating},
            {"trackable_object_updating", &context_updater::on_trackable_object_updating},
            {"trackable_object_deleting", &context_updater::on_trackable_object_deleting},
            {"sublocation_creating", &context_updater::on_sublocation_creating},
            {"sublocation_updating", &context_updater::on_sublocation_updating},
            {"sublocation_deleting", &context_updater::on_sublocation_deleting},
            {"win_anchor_creating", &context_updater::on_win_anchor_creating},
            {"win_anchor_updating", &context_updater::on_win_anchor_updating},
            {"win_anchor_deleting", &context_updater::on_win_anchor_deleting},
            {"node_creating", &context_updater::on_node_creating},
            {"node_updating", &context_updater::on_node_updating},
            {"node_deleting", &context_updater::on_node_deleting},
            {"pos", &context_updater::on_pos},
            {"association_creating", &context_updater::on_trackable_object_association_creating},
            {"association_updating", &context_updater::on_trackable_object_association_updating},
            {"groups_updating", &context_updater::on_trackable_object_groups_updating},
        };
        for (const auto& s : setters) {
            (m_updater.*(s.second))(record(s.first));
        }
    }

    context_updater::callback record(const std::string& _name) {
        return [this, _name](const json_notify& _message) {
            m_calls.push_back(_name);
            m_last = _message.get_json();
        };
    }

    // The slots called for one message with these "object" and "action" texts.
    std::vector<std::string> route(const std::string& _object, const std::string& _action) {
        m_calls.clear();
        m_updater.handle_notify(R"({"object": ")" + _object + R"(", "action": ")" + _action +
                                R"(", "plist": {"uid": "u1"}, "ts": 1000, "ms": 5})");
        return m_calls;
    }

    context_updater m_updater;
    std::vector<std::string> m_calls;
    Json::Value m_last;
};

}  // namespace

TEST_F(routed, kinds_and_actions_reach_their_slots) {
    struct sample {
        const char* object;
        const char* action;
        const char* slot;  // empty: nothing is called
    };
    const sample samples[] = {
        {"ZONE", "created", "zone_creating"},
        {"ZONE", "updated", "zone_updating"},
        {"ZONE", "deleted", "zone_deleting"},
        {"TRACKABLE_OBJECT", "created", "trackable_object_creating"},
        {"TRACKABLE_OBJECT", "updated", "trackable_object_updating"},
        {"TRACKABLE_OBJECT", "deleted", "trackable_object_deleting"},
        {"SUBLOCATION", "created", "sublocation_creating"},
        {"SUBLOCATION", "updated", "sublocation_updating"},
        {"SUBLOCATION", "deleted", "sublocation_deleting"},
        {"WIN_ANCHOR", "created", "win_anchor_creating"},
        {"WIN_ANCHOR", "updated", "win_anchor_updating"},
        {"WIN_ANCHOR", "deleted", "win_anchor_deleting"},
        {"NODE", "created", "node_creating"},
        {"NODE", "updated", "node_updating"},
        {"NODE", "deleted", "node_deleting"},
        {"TRACKABLE_OBJECT_GROUPS", "updated", "groups_updating"},
        {"TRACKABLE_OBJECT_GROUPS", "created", ""},
        {"TRACKABLE_OBJECT_GROUPS", "deleted", ""},
        {"TRACKABLE_OBJECT_ASSOCIATION", "created", "association_creating"},
        {"TRACKABLE_OBJECT_ASSOCIATION", "updated", "association_updating"},
        {"TRACKABLE_OBJECT_ASSOCIATION", "deleted", ""},
        {"ZONE", "moved", ""},
        {"ALARM", "created", ""},
        {"", "created", ""},
        {"DEVICE", "NA", ""},
        {"ZONES", "created", ""},
        // Case folding: the kind is upper-cased and the action lower-cased.
        {"zone", "Created", "zone_creating"},
        {"Trackable_Object", "DELETED", "trackable_object_deleting"},
        {"win_anchor", "uPdAtEd", "win_anchor_updating"},
        {"trackable_object_groups", "UPDATED", "groups_updating"},
    };
    for (const auto& s : samples) {
        const auto calls = route(s.object, s.action);
        if (*s.slot == '\0') {
            EXPECT_TRUE(calls.empty()) << s.object << " " << s.action;
        } else {
            EXPECT_EQ(calls, std::vector<std::string>{s.slot}) << s.object << " " << s.action;
        }
    }
}

TEST_F(routed, the_whole_message_is_passed_unchanged) {
    route("zone", "Created");
    EXPECT_EQ(m_last["object"].asString(), "zone");
    EXPECT_EQ(m_last["action"].asString(), "Created");
    EXPECT_EQ(m_last["plist"]["uid"].asString(), "u1");
    EXPECT_EQ(m_last["ts"].asUInt(), 1000u);
    EXPECT_EQ(m_last["ms"].asUInt(), 5u);
}

TEST_F(routed, only_ascii_letters_are_folded) {
    // "é" is not a letter of the classic locale, so it matches nothing.
    EXPECT_TRUE(route("zoné", "created").empty());
    EXPECT_TRUE(route("ZONE",
                      "creat\xC3\xA9"
                      "d")
                    .empty());
}

TEST_F(routed, empty_slots_are_skipped) {
    m_updater.on_zone_creating(nullptr);
    EXPECT_TRUE(route("ZONE", "created").empty());
    EXPECT_EQ(route("ZONE", "updated"), std::vector<std::string>{"zone_updating"});
}

TEST_F(routed, position_messages_need_no_envelope) {
    m_calls.clear();
    m_updater.handle_pos(R"({"tk_uid": "a"})");
    EXPECT_EQ(m_calls, std::vector<std::string>{"pos"});
    EXPECT_EQ(m_last["tk_uid"].asString(), "a");
}

TEST(context_updater, malformed_messages_raise) {
    context_updater updater;
    struct sample {
        const char* text;
        const char* prefix;
    };
    const sample samples[] = {
        {R"({"action": "created"})", R"("object" is not a string!)"},
        {R"({"object": 3, "action": 1})", R"("object" is not a string!)"},
        {R"({})", R"("object" is not a string!)"},
        {R"({"object": "ZONE"})", R"("action" is not a string!)"},
        {R"({"object": "ZONE", "action": null})", R"("action" is not a string!)"},
        {R"({"object": "UNKNOWN", "action": 2})", R"("action" is not a string!)"},
        {"{", "parse_error: "},
        {"", "parse_error: "},
    };
    for (const auto& s : samples) {
        const auto text = error_of([&] { updater.handle_notify(s.text); });
        EXPECT_EQ(text.rfind(s.prefix, 0), 0u) << s.text << ": " << text;
    }
    EXPECT_EQ(error_of([&] { updater.handle_pos("{"); }).rfind("parse_error: ", 0), 0u);
    // With no position callback a well-formed message is dropped.
    EXPECT_NO_THROW(updater.handle_pos(R"({"tk_uid": "a"})"));
}

TEST(context_updater, a_message_that_is_not_an_object_fails_the_const_look_up) {
    context_updater updater;
    for (const char* text : {"[1]", "5", R"("ZONE")", "true"}) {
        EXPECT_EQ(error_of([&] { updater.handle_notify(text); }),
                  "other exception: in Json::Value::find(begin, end): requires objectValue or "
                  "nullValue")
            << text;
    }
    // A null message reads as an object without members.
    EXPECT_EQ(error_of([&] { updater.handle_notify("null"); }), R"("object" is not a string!)");
}

TEST(context_updater, errors_carry_their_source_location) {
    context_updater updater;
    try {
        updater.handle_notify("{}");
        FAIL();
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_source_location().short_file(),
                  "/libs/context-utils/impl/context_updater.cpp");
    }
}

TEST(context_updater, registration_by_kind_replaces_the_slot) {
    context_updater updater;
    std::vector<std::string> calls;
    const auto record = [&calls](const std::string& _name) {
        return [&calls, _name](const json_notify&) { calls.push_back(_name); };
    };
    updater.on_creating(object_infos::zone, record("first"));
    updater.on_zone_creating(record("second"));
    updater.on_updating(object_infos::node, record("node updated"));
    updater.on_deleting(object_infos::sublocation, record("sublocation deleted"));
    updater.on_creating(object_infos::win_anchor, record("anchor created"));
    updater.on_updating(object_infos::trackable_object, record("tag updated"));
    // Alarms have no notifications: nothing is registered.
    updater.on_creating(object_infos::alarm, record("alarm"));

    for (const char* message : {
             R"({"object": "ZONE", "action": "created"})",
             R"({"object": "NODE", "action": "updated"})",
             R"({"object": "SUBLOCATION", "action": "deleted"})",
             R"({"object": "WIN_ANCHOR", "action": "created"})",
             R"({"object": "TRACKABLE_OBJECT", "action": "updated"})",
             R"({"object": "ALARM", "action": "created"})",
             R"({"object": "", "action": "created"})",
         }) {
        updater.handle_notify(message);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"second", "node updated", "sublocation deleted",
                                               "anchor created", "tag updated"}));
}

TEST(context_updater, a_callback_may_replace_its_own_slot) {
    context_updater updater;
    int first = 0;
    int second = 0;
    updater.on_zone_updating([&](const json_notify&) {
        ++first;
        // Destroys the function that is running unless the router calls a copy.
        updater.on_zone_updating([&](const json_notify&) { ++second; });
    });
    const std::string message = R"({"object": "ZONE", "action": "updated"})";
    updater.handle_notify(message);
    updater.handle_notify(message);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

TEST(context_updater, exceptions_of_callbacks_leave_the_router) {
    context_updater updater;
    updater.on_node_deleting([](const json_notify&) { throw std::runtime_error("boom"); });
    EXPECT_THROW(updater.handle_notify(R"({"object": "NODE", "action": "deleted"})"),
                 std::runtime_error);
}
