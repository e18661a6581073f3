#include "context_utils/context_synchronizer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "context_synchronizer_impl.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/http/client.hpp"
#include "core/logger.hpp"
#include "test_helpers.hpp"
#include "test_support/http_server.hpp"
#include "test_support/run_until.hpp"

using namespace context_utils_test;
using tvk::libs::context_utils::context_synchronizer;
using tvk::libs::context_utils::context_synchronizer_impl;
using tvk::libs::context_utils::objects_repository;
using tvk::libs::context_utils::timestamp;
namespace objects = tvk::libs::context_utils::objects;
namespace parsers = tvk::libs::context_utils::parsers;
namespace core = tvk::libs::core;
using namespace std::chrono_literals;

namespace {

typedef std::vector<std::string> strings;

const char* const zones_path = "/api/private/zones/";

test_support::http_answer ok(const std::string& _body) {
    test_support::http_answer answer;
    answer.body = _body;
    return answer;
}

// The synchroniser over the fake location server, which answers every list with its sample.
class synchronizer : public ::testing::Test {
protected:
    synchronizer() {
        for (const auto& list : {std::make_pair("zones/", "rest/zones.json"),
                                 std::make_pair("track_obj/", "rest/track_obj.json"),
                                 std::make_pair("win_anchors/", "rest/win_anchors.json"),
                                 std::make_pair("sublocations/", "rest/sublocations.json"),
                                 std::make_pair("alarms/", "rest/alarms.json"),
                                 std::make_pair("nodes/", "rest/nodes.json")}) {
            m_server.answer("GET", std::string("/api/private/") + list.first,
                            ok(read_sample(list.second)));
        }
    }

    strings paths() const {
        strings result;
        for (const auto& request : m_server.requests()) {
            result.push_back(request.path);
        }
        return result;
    }

    std::size_t zone_requests() const {
        std::size_t count = 0;
        for (const auto& request : m_server.requests()) {
            count += request.path == zones_path ? 1 : 0;
        }
        return count;
    }

    bool run_until(const std::function<bool()>& _done,
                   std::chrono::milliseconds _timeout = std::chrono::seconds(5)) {
        return test_support::run_until(m_events_loop->get_io_context(), _done, _timeout);
    }

    // Returns once every answer of the client asked for so far has been delivered: its one
    // worker answers in order, and the loop runs deliveries in the order they were posted.
    bool deliver_answers_in_flight() {
        bool delivered = false;
        const auto barrier =
            m_client->perform_async_request(core::http::method::get, "/barrier",
                                            [&delivered](core::http::result) { delivered = true; });
        return run_until([&delivered] { return delivered; });
    }

    test_support::http_server m_server;
    core::logger m_root{"quillmere", "test"};
    core::core::ptr m_core = core::core::create(m_root);
    core::events_loop::ptr m_events_loop = m_core->create_events_loop("main loop");
    core::http::client::ptr m_client =
        m_events_loop->create_http_client(m_server.url(), std::chrono::seconds(5), {}, 1);
    context_synchronizer::ptr m_synchronizer =
        context_synchronizer::create(*m_client, *m_events_loop, m_root);
};

}  // namespace

TEST_F(synchronizer, keeps_the_services_zones_and_tags) {
    const auto tags = m_synchronizer->make_trackable_objects(3h);
    const auto zones = m_synchronizer->make_zones(3h);
    EXPECT_EQ(paths(), (strings{"/api/private/track_obj/", "/api/private/zones/"}));
    EXPECT_EQ(uids_of(tags->get_objects()), (strings{"tag-1", "tag-2"}));
    EXPECT_EQ(uids_of(zones->get_objects()), (strings{"zone-1", "zone-2"}));

    m_synchronizer->initialize();  // no creating callback: nothing to load
    m_synchronizer->handle_notify(read_sample("notify/zone_created.json"));
    m_synchronizer->handle_notify(read_sample("notify/zone_deleted.json"));
    m_synchronizer->handle_notify(
        R"({"object": "trackable_object", "action": "Deleted", "ts": 1, "ms": 0,
            "plist": {"uid": "tag-1"}})");
    m_synchronizer->handle_notify(read_sample("notify/trackable_object_updated.json"));
    EXPECT_EQ(uids_of(zones->get_objects()), (strings{"zone-1", "zone-3"}));
    EXPECT_EQ(uids_of(tags->get_objects()), strings{"tag-2"});
    EXPECT_EQ(tags->get_objects().get("tag-2").get_updated_at(), timestamp(1714979290, 5));

    test_support::run_until(
        m_events_loop->get_io_context(), [] { return false; }, 100ms);
    EXPECT_EQ(m_server.request_count(), 2u);  // no refresh before 3 hours
}

TEST_F(synchronizer, each_manager_refreshes_with_the_period_asked_for) {
    const auto anchors = m_synchronizer->make_win_anchors(20ms);
    const auto sublocations = m_synchronizer->make_sublocations(3h);
    const auto nodes = m_synchronizer->make_nodes(3h);
    EXPECT_EQ(uids_of(anchors->get_objects()), (strings{"anchor-1", "anchor-2"}));
    EXPECT_EQ(uids_of(sublocations->get_objects()), (strings{"subloc-1", "subloc-2"}));
    EXPECT_EQ(uids_of(nodes->get_objects()), (strings{"node-1", "node-2"}));

    m_server.answer("GET", "/api/private/win_anchors/", ok(R"({"win_anchors": []})"));
    ASSERT_TRUE(run_until([&] { return uids_of(anchors->get_objects()).empty(); }));
    anchors->disable_timer();
    EXPECT_EQ(paths()[3], "/api/private/win_anchors/");
}

TEST_F(synchronizer, may_go_before_its_managers) {
    // The service's order at shutdown: the synchroniser, then the managers.
    auto zones = m_synchronizer->make_zones(3h);
    m_synchronizer.reset();
    EXPECT_EQ(uids_of(zones->get_objects()), (strings{"zone-1", "zone-2"}));
    zones.reset();
}

// The managers' loader goes with the synchroniser: a manager left behind while the loop still
// runs must not reach it.
TEST_F(synchronizer, a_manager_it_left_behind_no_longer_refreshes) {
    const auto zones = m_synchronizer->make_zones(3h);
    const std::size_t loaded = zone_requests();
    m_synchronizer.reset();
    zones->set_update_period(1ms);
    run_until([] { return false; }, 50ms);
    zones->disable_timer();
    ASSERT_TRUE(deliver_answers_in_flight());
    EXPECT_EQ(zone_requests(), loaded);
    EXPECT_EQ(uids_of(zones->get_objects()), (strings{"zone-1", "zone-2"}));
}

TEST_F(synchronizer, a_manager_it_left_behind_drops_the_answer_in_flight) {
    test_support::http_answer failure;
    failure.status = 500;
    failure.body = "down";
    struct sample {
        const char* what;
        test_support::http_answer answer;
    };
    sample samples[] = {
        {"a failure", failure},
        {"an empty list", ok(R"({"zones": []})")},
    };
    for (auto& s : samples) {
        s.answer.delay = 100ms;
        SCOPED_TRACE(s.what);
        // A loop that ran out of work counts as stopped, which would interrupt the first load.
        m_events_loop->get_io_context().restart();
        m_synchronizer = context_synchronizer::create(*m_client, *m_events_loop, m_root);
        const auto zones = m_synchronizer->make_zones(3h);
        const std::size_t loaded = zone_requests();
        m_server.answer_once("GET", zones_path, s.answer);
        zones->set_update_period(50ms);
        ASSERT_TRUE(run_until([&] { return zone_requests() > loaded; }));
        zones->disable_timer();
        m_synchronizer.reset();
        ASSERT_TRUE(deliver_answers_in_flight());
        EXPECT_EQ(uids_of(zones->get_objects()), (strings{"zone-1", "zone-2"}));
    }
}

TEST_F(synchronizer, creations_come_from_initialize_as_elements_then_from_notices) {
    strings calls;
    m_synchronizer->on_zone_creating([&calls](parsers::zone& _zone) {
        calls.push_back(_zone.get_uid() + " " + std::to_string(_zone.get_ts()) + "." +
                        std::to_string(_zone.get_ms()));
    });
    m_synchronizer->on_trackable_object_creating([&calls](parsers::trackable_object& _tag) {
        calls.push_back(_tag.get_uid() + " " + std::to_string(_tag.get_ms()));
    });
    m_synchronizer->initialize();
    EXPECT_EQ(paths(), (strings{"/api/private/track_obj/", "/api/private/zones/"}));
    EXPECT_EQ(calls,
              (strings{"tag-1 500", "tag-2 600", "zone-1 1714979289.123", "zone-2 1714979290.0"}));

    calls.clear();
    m_synchronizer->handle_notify(read_sample("notify/zone_created.json"));
    EXPECT_EQ(calls, strings{"zone-3 1714979289.250"});  // the envelope's time
}

TEST_F(synchronizer, a_later_registration_takes_a_managers_notices) {
    const auto zones = m_synchronizer->make_zones(3h);
    strings created;
    m_synchronizer->on_zone_creating(
        [&created](parsers::zone& _zone) { created.push_back(_zone.get_uid()); });
    m_synchronizer->handle_notify(read_sample("notify/zone_created.json"));
    EXPECT_EQ(created, strings{"zone-3"});
    EXPECT_FALSE(zones->get_objects().is_exists("zone-3"));

    // The manager still follows the other actions.
    m_synchronizer->handle_notify(
        R"({"object": "ZONE", "action": "updated", "ts": 1, "ms": 2, "plist": {"uid": "zone-4"}})");
    m_synchronizer->handle_notify(read_sample("notify/zone_deleted.json"));
    EXPECT_EQ(uids_of(zones->get_objects()), (strings{"zone-1", "zone-4"}));
}

TEST_F(synchronizer, deletions_give_the_uid_and_the_time) {
    strings deleted;
    std::vector<timestamp> times;
    const auto record = [&](const std::string& _uid, timestamp _ts) {
        deleted.push_back(_uid);
        times.push_back(_ts);
    };
    m_synchronizer->on_trackable_object_deleting(record);
    m_synchronizer->on_zone_deleting(record);
    m_synchronizer->handle_notify(R"({"object": "TRACKABLE_OBJECT", "action": "deleted",
                                      "ts": 1000, "ms": 5, "plist": {"uid": "t1"}})");
    m_synchronizer->handle_notify(read_sample("notify/zone_deleted.json"));
    EXPECT_EQ(deleted, (strings{"t1", "zone-2"}));
    EXPECT_EQ(times, (std::vector<timestamp>{timestamp(1000, 5), timestamp(1714979300, 0)}));

    // The uid and the time are read before the callback is called.
    EXPECT_EQ(logic_error_of([&] {
                  m_synchronizer->handle_notify(R"({"object": "ZONE", "action": "deleted",
                                                    "ts": 1000, "ms": 5, "plist": {}})");
              }),
              R"(context-utils: "uid" is not a string!)");
    EXPECT_EQ(logic_error_of([&] {
                  m_synchronizer->handle_notify(
                      R"({"object": "ZONE", "action": "deleted", "plist": {"uid": "z"}})");
              }),
              R"(context-utils: "ts" is not an uint!)");
    EXPECT_EQ(deleted.size(), 2u);
}

TEST_F(synchronizer, each_registration_gets_its_view_of_the_message) {
    strings calls;
    m_synchronizer->on_zone_updating([&calls](parsers::zone& _zone) {
        calls.push_back("zone updated " + _zone.get_uid() + " " + std::to_string(_zone.get_ts()));
    });
    m_synchronizer->on_trackable_object_updating([&calls](parsers::trackable_object& _tag) {
        calls.push_back("tag updated " + _tag.get_uid() + " " + std::to_string(_tag.get_ms()));
    });
    m_synchronizer->on_trackable_object_association_creating(
        [&calls](parsers::trackable_object_association& _association) {
            calls.push_back("association created " + _association.get_trackable_object_uid());
        });
    m_synchronizer->on_trackable_object_association_updating(
        [&calls](parsers::trackable_object_association& _association) {
            calls.push_back("association updated " + _association.get_mac_address());
        });
    m_synchronizer->on_trackable_object_groups_updating(
        [&calls](parsers::trackable_object_groups& _groups) {
            _groups.for_each_added_group([&](parsers::trackable_object_groups::group& _group) {
                calls.push_back("group added " + _group.get_uid() + " in " +
                                _groups.get_project_uid());
                return true;
            });
        });
    m_synchronizer->on_pos([&calls](parsers::pos& _pos) {
        calls.push_back("pos " + std::string(_pos.get_trackable_uid()));
    });

    m_synchronizer->handle_notify(
        R"({"object": "Zone", "action": "UPDATED", "ts": 7, "ms": 0, "plist": {"uid": "z"}})");
    m_synchronizer->handle_notify(read_sample("notify/trackable_object_updated.json"));
    m_synchronizer->handle_notify(R"({"object": "TRACKABLE_OBJECT_ASSOCIATION",
        "action": "created", "plist": {"trob_uid": "t1"}})");
    m_synchronizer->handle_notify(R"({"object": "TRACKABLE_OBJECT_ASSOCIATION",
        "action": "updated", "plist": {"mac_address": "m1"}})");
    m_synchronizer->handle_notify(R"({"object": "TRACKABLE_OBJECT_GROUPS", "action": "updated",
        "project_uid": "p1", "plist": {"g1": {"action": "ADD_GROUP", "trackableObject": "t1"}}})");
    m_synchronizer->handle_pos(R"({"tk_uid": "t1"})");
    EXPECT_EQ(calls, (strings{"zone updated z 7", "tag updated tag-2 5", "association created t1",
                              "association updated m1", "group added g1 in p1", "pos t1"}));
}

TEST_F(synchronizer, an_empty_callback_empties_its_slots) {
    int calls = 0;
    m_synchronizer->on_zone_creating([&calls](parsers::zone&) { ++calls; });
    m_synchronizer->on_zone_deleting([&calls](const std::string&, timestamp) { ++calls; });
    m_synchronizer->on_pos([&calls](parsers::pos&) { ++calls; });
    m_synchronizer->on_zone_creating(nullptr);
    m_synchronizer->on_zone_deleting(nullptr);
    m_synchronizer->on_pos(nullptr);
    m_synchronizer->initialize();
    m_synchronizer->handle_notify(read_sample("notify/zone_created.json"));
    m_synchronizer->handle_notify(R"({"object": "ZONE", "action": "deleted", "plist": {}})");
    m_synchronizer->handle_pos("{}");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(m_server.request_count(), 0u);
}

TEST_F(synchronizer, walks_go_over_the_servers_lists) {
    strings seen;
    EXPECT_TRUE(m_synchronizer->for_each_trackable_object_on_server(
        [&seen](parsers::trackable_object& _tag) {
            seen.push_back(_tag.get_uid() + " " + std::to_string(_tag.get_ts()));
            return true;
        }));
    EXPECT_FALSE(m_synchronizer->for_each_zone_on_server([&seen](parsers::zone& _zone) {
        seen.push_back(_zone.get_uid());
        return false;
    }));
    EXPECT_TRUE(m_synchronizer->for_each_alarm_on_server([&seen](parsers::alarm& _alarm) {
        seen.push_back(_alarm.get_uid() + " " + std::to_string(_alarm.get_ms()));
        return true;
    }));
    EXPECT_EQ(seen, (strings{"tag-1 1714979289", "tag-2 1714979289", "zone-1", "alarm-1 250"}));
    EXPECT_EQ(paths(),
              (strings{"/api/private/track_obj/", "/api/private/zones/", "/api/private/alarms/"}));

    m_server.answer("GET", "/api/private/zones/", ok(R"({"zones": []})"));
    int calls = 0;
    EXPECT_TRUE(m_synchronizer->for_each_zone_on_server([&calls](parsers::zone&) {
        ++calls;
        return true;
    }));
    EXPECT_EQ(calls, 0);
}

TEST(synchronizer_retries, a_walk_waits_for_the_server) {
    test_support::http_server server;
    core::logger root{"quillmere", "test"};
    const auto core = core::core::create(root);
    const auto events_loop = core->create_events_loop("main loop");
    const auto client =
        events_loop->create_http_client(server.url(), std::chrono::seconds(5), {}, 1);
    context_synchronizer_impl synchronizer(*client, *events_loop, root, 20ms);
    test_support::http_answer failure;
    failure.status = 502;
    server.answer_once("GET", "/api/private/alarms/", failure);
    server.answer("GET", "/api/private/alarms/", ok(read_sample("rest/alarms.json")));
    int calls = 0;
    EXPECT_TRUE(synchronizer.for_each_alarm_on_server([&calls](parsers::alarm&) {
        ++calls;
        return true;
    }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(server.request_count(), 2u);
}
