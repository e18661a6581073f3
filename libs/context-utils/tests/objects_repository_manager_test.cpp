#include "objects_repository_manager_impl.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "context_initializer.hpp"
#include "context_updater.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "objects/node_impl.hpp"
#include "objects/sublocation_impl.hpp"
#include "objects/trackable_object_impl.hpp"
#include "objects/win_anchor_impl.hpp"
#include "objects/zone_impl.hpp"
#include "test_helpers.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "test_support/http_server.hpp"
#include "test_support/run_until.hpp"

using namespace context_utils_test;
using tvk::libs::context_utils::context_initializer;
using tvk::libs::context_utils::context_updater;
using tvk::libs::context_utils::json_notify;
using tvk::libs::context_utils::object_info;
using tvk::libs::context_utils::object_infos;
using tvk::libs::context_utils::objects_repository;
using tvk::libs::context_utils::objects_repository_manager;
using tvk::libs::context_utils::objects_repository_manager_impl;
using tvk::libs::context_utils::timestamp;
namespace objects = tvk::libs::context_utils::objects;
namespace core = tvk::libs::core;
using namespace std::chrono_literals;

namespace {

typedef std::vector<std::string> strings;
typedef objects_repository_manager_impl<objects::zone, objects::zone_impl> zones_manager;

const char* const zones_path = "/api/private/zones/";

test_support::http_answer ok(const std::string& _body,
                             std::chrono::milliseconds _delay = std::chrono::milliseconds(0)) {
    test_support::http_answer answer;
    answer.body = _body;
    answer.delay = _delay;
    return answer;
}

// A zones answer listing _uids in that order, each with an update time.
std::string zones(const strings& _uids) {
    Json::Value list(Json::arrayValue);
    for (const auto& uid : _uids) {
        Json::Value zone;
        zone["uid"] = uid;
        zone["updated_at"] = "2024-05-06T07:08:09.123Z";
        list.append(zone);
    }
    Json::Value answer;
    answer["zones"] = list;
    return tvk::libs::core::json::to_string(answer);
}

std::string notice(const std::string& _action, const std::string& _plist, unsigned _ts = 1000,
                   unsigned _ms = 5) {
    return R"({"object": "ZONE", "action": ")" + _action + R"(", "ts": )" + std::to_string(_ts) +
           R"(, "ms": )" + std::to_string(_ms) + R"(, "plist": )" + _plist + "}";
}

// What the observers of a repository hear: "created a", "updated a", "deleted a", and when.
template <class T>
class recorder : public objects_repository<T>::observer {
public:
    void after_creating(const T& _object, timestamp _ts) override {
        record("created", _object, _ts);
    }
    void after_updating(const T& _object, timestamp _ts) override {
        record("updated", _object, _ts);
    }
    void before_deleting(const T& _object, timestamp _ts) override {
        record("deleted", _object, _ts);
    }

    strings events;
    std::vector<timestamp> times;

private:
    void record(const char* _what, const T& _object, timestamp _ts) {
        events.push_back(_what + std::string(" ") + _object.get_uid());
        times.push_back(_ts);
    }
};

// A manager's parts over the fake location server: its loader retries every 20 ms, and its
// log lines are collected.
class repository_managers : public ::testing::Test {
protected:
    repository_managers() { m_root.connect(m_collector.endpoint()); }

    ~repository_managers() override {
        m_subscription.reset();
        m_manager.reset();
    }

    // Builds the zones manager over the current answer for zones and subscribes the recorder.
    void make_manager() {
        auto manager = std::make_unique<zones_manager>(object_infos::zone, m_initializer, m_updater,
                                                       m_events_loop->get_timers());
        // The subscription to a manager made before goes with it.
        m_subscription.reset();
        m_manager = std::move(manager);
        m_subscription.emplace(m_manager->get_objects().subscribe(m_recorder));
    }

    bool run_until(const std::function<bool()>& _done,
                   std::chrono::milliseconds _timeout = std::chrono::seconds(5)) {
        return test_support::run_until(m_events_loop->get_io_context(), _done, _timeout);
    }

    // Runs the loop for _period, whatever happens.
    void run_for(std::chrono::milliseconds _period) {
        run_until([] { return false; }, _period);
    }

    std::size_t zone_requests() const {
        std::size_t count = 0;
        for (const auto& request : m_server.requests()) {
            count += request.path == zones_path ? 1 : 0;
        }
        return count;
    }

    test_support::http_server m_server;
    test_support::debug_socket_collector m_collector;  // outlives the logger's linger
    core::logger m_root{"quillmere", "test"};
    core::component_logger::ptr m_logger = m_root.component("context_utils");
    core::core::ptr m_core = core::core::create(m_root);
    core::events_loop::ptr m_events_loop = m_core->create_events_loop("main loop");
    core::http::client::ptr m_client =
        m_events_loop->create_http_client(m_server.url(), std::chrono::seconds(5), {}, 1);
    context_initializer m_initializer{*m_client, *m_events_loop, *m_logger, 20ms};
    context_updater m_updater;
    recorder<objects::zone> m_recorder;
    std::unique_ptr<zones_manager> m_manager;
    boost::optional<objects_repository<objects::zone>::subscription_handle> m_subscription;
};

template <class Interface, class Implementation>
strings loaded_uids(const object_info& _info, context_initializer& _initializer,
                    context_updater& _updater, core::timers_manager& _timers) {
    const objects_repository_manager_impl<Interface, Implementation> manager(_info, _initializer,
                                                                             _updater, _timers);
    return uids_of(manager.get_objects());
}

}  // namespace

TEST_F(repository_managers, each_kind_is_loaded_from_its_list) {
    m_server.answer("GET", "/api/private/zones/", ok(read_sample("rest/zones.json")));
    m_server.answer("GET", "/api/private/track_obj/", ok(read_sample("rest/track_obj.json")));
    m_server.answer("GET", "/api/private/win_anchors/", ok(read_sample("rest/win_anchors.json")));
    m_server.answer("GET", "/api/private/sublocations/", ok(read_sample("rest/sublocations.json")));
    m_server.answer("GET", "/api/private/nodes/", ok(read_sample("rest/nodes.json")));
    auto& timers = m_events_loop->get_timers();
    EXPECT_EQ((loaded_uids<objects::zone, objects::zone_impl>(object_infos::zone, m_initializer,
                                                              m_updater, timers)),
              (strings{"zone-1", "zone-2"}));
    EXPECT_EQ((loaded_uids<objects::trackable_object, objects::trackable_object_impl>(
                  object_infos::trackable_object, m_initializer, m_updater, timers)),
              (strings{"tag-1", "tag-2"}));
    EXPECT_EQ((loaded_uids<objects::win_anchor, objects::win_anchor_impl>(
                  object_infos::win_anchor, m_initializer, m_updater, timers)),
              (strings{"anchor-1", "anchor-2"}));
    EXPECT_EQ((loaded_uids<objects::sublocation, objects::sublocation_impl>(
                  object_infos::sublocation, m_initializer, m_updater, timers)),
              (strings{"subloc-1", "subloc-2"}));
    EXPECT_EQ((loaded_uids<objects::node, objects::node_impl>(object_infos::node, m_initializer,
                                                              m_updater, timers)),
              (strings{"node-1", "node-2"}));
}

TEST_F(repository_managers, the_first_load_waits_for_the_server) {
    test_support::http_answer failure;
    failure.status = 503;
    m_server.answer_once("GET", zones_path, failure);
    m_server.answer("GET", zones_path, ok(zones({"b", "a"})));
    make_manager();
    EXPECT_EQ(zone_requests(), 2u);
    EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "b"}));
    EXPECT_EQ(m_manager->get_objects().get("a").get_updated_at(), timestamp(1714979289, 123));
}

namespace {

// An element of a list that the first load cannot read, why, and its uid when that is read.
struct unreadable_element {
    const char* name;
    const char* json;
    const char* reason;
    const char* uid = nullptr;
};

void PrintTo(const unreadable_element& _element, std::ostream* _out) {
    *_out << _element.name;
}

class first_load_of_unreadable_elements : public repository_managers,
                                          public ::testing::WithParamInterface<unreadable_element> {
};

}  // namespace

TEST_P(first_load_of_unreadable_elements, are_logged_with_path_index_and_reason_and_left_out) {
    const unreadable_element& bad = GetParam();
    Json::Value answer = parse(zones({"a", "b"}));
    const Json::Value b = answer["zones"][1];
    answer["zones"][1] = parse(bad.json);
    answer["zones"][2] = b;
    answer["zones"][3] = parse(bad.json);
    m_server.answer("GET", zones_path, ok(tvk::libs::core::json::to_string(answer)));

    make_manager();
    EXPECT_EQ(zone_requests(), 1u);
    EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "b"}));
    EXPECT_EQ(m_manager->get_objects().get("b").get_updated_at(), timestamp(1714979289, 123));
    for (const char* index : {"1", "3"}) {
        const std::string text =
            std::string("Skipped element ") + index + " of /api/private/zones/: " + bad.reason;
        ASSERT_TRUE(m_collector.wait_for_line_containing(text)) << text;
    }
    for (const auto& line : m_collector.lines()) {
        if (line.find("Skipped element ") != std::string::npos) {
            EXPECT_NE(line.find("objects_repository_manager_impl.hpp:"), std::string::npos) << line;
            EXPECT_EQ(line.substr(line.size() - std::string(bad.reason).size()), bad.reason)
                << line;
        }
    }

    // Its users can tell a skipped element from an object that is gone.
    const auto& skipped = m_manager->get_skipped_at_load();
    EXPECT_EQ(skipped.uids, bad.uid ? std::set<std::string>{bad.uid} : std::set<std::string>());
    EXPECT_EQ(skipped.unknown_uids, bad.uid == nullptr);

    // The manager follows its notices as usual.
    m_updater.handle_notify(notice("updated", R"({"uid": "c"})"));
    EXPECT_EQ(m_recorder.events, strings{"created c"});
}

INSTANTIATE_TEST_SUITE_P(
    repository_managers, first_load_of_unreadable_elements,
    ::testing::Values(
        unreadable_element{"uid_5", R"({"uid": 5, "updated_at": "2024-05-06T07:08:09.123Z"})",
                           R"("uid" is not a string!)"},
        unreadable_element{"uid_missing", R"({"updated_at": "2024-05-06T07:08:09.123Z"})",
                           R"("uid" is not a string!)"},
        unreadable_element{"updated_at_missing", R"({"uid": "x"})",
                           R"("updated_at" is not a string!)", "x"},
        unreadable_element{"updated_at_5", R"({"uid": "x", "updated_at": 5})",
                           R"("updated_at" is not a string!)", "x"},
        unreadable_element{"updated_at_not_a_time", R"({"uid": "x", "updated_at": "soon"})",
                           R"(failed to parse timestamp: "updated_at")", "x"},
        unreadable_element{"a_number", "5", "not an object"},
        unreadable_element{"a_string", R"("x")", "not an object"},
        unreadable_element{"an_array", R"([{"uid": "x"}])", "not an object"},
        unreadable_element{"null", "null", "not an object"}),
    [](const ::testing::TestParamInfo<unreadable_element>& _info) { return _info.param.name; });

TEST_F(repository_managers, a_refresh_applies_the_answer_in_order_then_removes_with_one_time) {
    m_server.answer("GET", zones_path, ok(zones({"a", "b", "d"})));
    make_manager();
    EXPECT_TRUE(m_recorder.events.empty());

    m_server.answer("GET", zones_path, ok(zones({"c", "a"})));
    const timestamp before = timestamp::current_time();
    m_manager->set_update_period(30ms);
    ASSERT_TRUE(run_until([this] { return m_recorder.events.size() >= 4; }));
    m_manager->disable_timer();
    const timestamp after = timestamp::current_time();

    EXPECT_EQ(strings(m_recorder.events.begin(), m_recorder.events.begin() + 4),
              (strings{"created c", "updated a", "deleted b", "deleted d"}));
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m_recorder.times[i], m_recorder.times[0]);
    }
    EXPECT_LE(before, m_recorder.times[0]);
    EXPECT_LE(m_recorder.times[0], after);
    EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "c"}));
}

TEST_F(repository_managers, a_failed_refresh_changes_nothing_and_the_next_tick_tries_again) {
    m_server.answer("GET", zones_path, ok(zones({"a", "b"})));
    make_manager();
    test_support::http_answer failure;
    failure.status = 500;
    failure.body = "down";
    m_server.answer_once("GET", zones_path, failure);
    m_server.answer("GET", zones_path, ok(R"({"zones": []})"));
    m_manager->set_update_period(30ms);
    ASSERT_TRUE(run_until([this] { return m_recorder.events.size() >= 2; }));
    m_manager->disable_timer();
    EXPECT_GE(zone_requests(), 3u);  // the first load, the failure, the empty list
    EXPECT_EQ(m_recorder.events, (strings{"deleted a", "deleted b"}));
    EXPECT_TRUE(uids_of(m_manager->get_objects()).empty());
}

TEST_F(repository_managers, only_the_newest_refresh_is_applied) {
    m_server.answer("GET", zones_path, ok(zones({"a"})));
    make_manager();
    // The first refresh is answered late, after newer ones have been asked for.
    m_server.answer_once("GET", zones_path, ok(zones({"a", "stale"}), 400ms));
    m_server.answer("GET", zones_path, ok(zones({"a", "fresh"})));
    m_manager->set_update_period(40ms);
    ASSERT_TRUE(run_until([this] { return m_manager->get_objects().is_exists("fresh"); }));
    m_manager->disable_timer();
    run_for(600ms);
    EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "fresh"}));
    for (const auto& event : m_recorder.events) {
        EXPECT_EQ(event.find("stale"), std::string::npos) << event;
    }
}

TEST_F(repository_managers, notices_update_add_or_remove_whatever_their_action) {
    m_server.answer("GET", zones_path, ok(zones({"a", "b"})));
    make_manager();
    struct sample {
        std::string notice;
        strings events;
    };
    const sample samples[] = {
        {notice("created", R"({"uid": "a"})"), {"updated a"}},
        {notice("updated", R"({"uid": "x"})"), {"created x"}},
        {notice("deleted", R"({"uid": "y"})"), {}},
        {notice("deleted", R"({"uid": "b"})"), {"deleted b"}},
    };
    for (const auto& s : samples) {
        m_recorder.events.clear();
        m_recorder.times.clear();
        m_updater.handle_notify(s.notice);
        EXPECT_EQ(m_recorder.events, s.events) << s.notice;
        for (const auto& time : m_recorder.times) {
            EXPECT_EQ(time, timestamp(1000, 5)) << s.notice;
        }
    }
    EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "x"}));
}

TEST_F(repository_managers, a_deletion_without_uid_raises_and_removes_nothing) {
    m_server.answer("GET", zones_path, ok(zones({"a"})));
    make_manager();
    EXPECT_EQ(error_of([this] { m_updater.handle_notify(notice("deleted", R"({"name": "a"})")); }),
              R"("uid" is not a string!)");
    EXPECT_EQ(error_of([this] {
                  m_updater.handle_notify(R"({"object": "ZONE",
        "action": "deleted", "plist": {"uid": "a"}})");
              }),
              R"("ts" is not an unsigned int!)");
    EXPECT_TRUE(m_recorder.events.empty());
    EXPECT_EQ(uids_of(m_manager->get_objects()), strings{"a"});
}

TEST_F(repository_managers, updated_at_is_needed_by_the_first_load_only) {
    m_server.answer("GET", zones_path, ok(R"({"zones": [{"uid": "a"}]})"));
    make_manager();
    EXPECT_TRUE(uids_of(m_manager->get_objects()).empty());

    m_server.answer("GET", zones_path, ok(zones({"a"})));
    make_manager();
    m_server.answer("GET", zones_path, ok(R"({"zones": [{"uid": "a"}, {"uid": "b"}]})"));
    const timestamp before = timestamp::current_time();
    m_manager->set_update_period(30ms);
    ASSERT_TRUE(run_until([this] { return m_recorder.events.size() >= 2; }));
    m_manager->disable_timer();
    EXPECT_EQ(strings(m_recorder.events.begin(), m_recorder.events.begin() + 2),
              (strings{"updated a", "created b"}));
    EXPECT_LE(before, m_recorder.times[1]);
}

TEST_F(repository_managers, a_refresh_answer_that_cannot_be_read_changes_nothing) {
    m_server.answer("GET", zones_path, ok(zones({"a", "b"})));
    make_manager();
    const auto with_element = [](const std::string& _element) {
        return R"({"zones": [{"uid": "c"}, )" + _element + R"(, {"uid": "a"}]})";
    };
    const std::string refused = "Refused the answer of /api/private/zones/: ";
    const std::pair<std::string, std::string> samples[] = {
        {with_element(R"({"name": "no uid"})"), refused + R"(element 1: "uid" is not a string!)"},
        {with_element(R"({"uid": 7})"), refused + R"(element 1: "uid" is not a string!)"},
        {with_element("null"), refused + "element 1: not an object"},
        {with_element("5"), refused + "element 1: not an object"},
        {with_element(R"("c")"), refused + "element 1: not an object"},
        {with_element("[]"), refused + "element 1: not an object"},
        {"<html>busy</html>", refused + "parse error: "},
        {"", refused + "parse error: "},
        {R"({"error": "busy"})", refused + R"("zones" is not an array!)"},
        {R"({"zones": {}})", refused + R"("zones" is not an array!)"},
        {"[]", refused + R"("zones" is not an array!)"},
        {"5", refused + R"("zones" is not an array!)"},
    };
    for (const auto& s : samples) {
        m_recorder.events.clear();
        m_server.answer("GET", zones_path, ok(s.first));
        m_manager->set_update_period(20ms);
        // The refresh's error leaves the loop.
        const std::string error = error_of([this] { run_for(2000ms); });
        m_manager->disable_timer();
        run_for(50ms);  // lets a refresh already sent arrive
        EXPECT_EQ(error.substr(0, s.second.size()), s.second) << s.first;
        // Neither c nor a is told, and b, which the answer no longer lists, stays.
        EXPECT_TRUE(m_recorder.events.empty()) << s.first;
        EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "b"})) << s.first;
    }

    // A sound answer applies as usual afterwards.
    m_server.answer("GET", zones_path, ok(zones({"c", "a"})));
    m_manager->set_update_period(20ms);
    ASSERT_TRUE(run_until([this] { return m_recorder.events.size() >= 3; }));
    m_manager->disable_timer();
    EXPECT_EQ(strings(m_recorder.events.begin(), m_recorder.events.begin() + 3),
              (strings{"created c", "updated a", "deleted b"}));
}

TEST_F(repository_managers, refreshes_follow_the_period_set_last) {
    m_server.answer("GET", zones_path, ok(zones({"a"})));
    make_manager();
    run_for(150ms);
    EXPECT_EQ(zone_requests(), 1u);  // the default period is long

    m_manager->set_update_period(20ms);
    ASSERT_TRUE(run_until([this] { return zone_requests() >= 3; }));
    m_manager->disable_timer();
    run_for(50ms);  // lets a request already sent arrive
    const std::size_t stopped_at = zone_requests();
    run_for(200ms);
    EXPECT_EQ(zone_requests(), stopped_at);

    m_manager->set_update_period(20ms);
    EXPECT_TRUE(run_until([&] { return zone_requests() > stopped_at; }));
}

TEST_F(repository_managers, a_destroyed_manager_is_never_called_back) {
    m_server.answer("GET", zones_path, ok(zones({"a"})));
    make_manager();
    m_subscription.reset();
    m_manager.reset();
    for (const char* action : {"created", "updated", "deleted"}) {
        EXPECT_EQ(error_of([&] { m_updater.handle_notify(notice(action, R"({"uid": "a"})")); }),
                  "no exception")
            << action;
    }
}

TEST_F(repository_managers, registrations_that_replaced_a_destroyed_managers_stay) {
    m_server.answer("GET", zones_path, ok(zones({"a"})));
    auto first = std::make_unique<zones_manager>(object_infos::zone, m_initializer, m_updater,
                                                 m_events_loop->get_timers());
    make_manager();  // takes the zone notices away from the first
    strings deleted;
    m_updater.on_zone_deleting([&deleted](const json_notify& _message) {
        deleted.push_back(_message.get_json()["plist"]["uid"].asString());
    });
    first.reset();

    m_updater.handle_notify(notice("created", R"({"uid": "b"})"));
    m_updater.handle_notify(notice("deleted", R"({"uid": "a"})"));
    EXPECT_EQ(m_recorder.events, strings{"created b"});
    EXPECT_EQ(deleted, strings{"a"});
    EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "b"}));
}

TEST_F(repository_managers, a_refresh_in_flight_goes_with_its_manager) {
    m_server.answer("GET", zones_path, ok(zones({"a"})));
    make_manager();
    m_server.answer("GET", zones_path, ok(zones({"b"}), 200ms));
    m_manager->set_update_period(20ms);
    ASSERT_TRUE(run_until([this] { return zone_requests() >= 2; }));
    m_subscription.reset();
    m_manager.reset();
    run_for(400ms);  // the late answers arrive and find no manager
    EXPECT_TRUE(m_recorder.events.empty());
}

TEST_F(repository_managers, a_refresh_answer_leaves_the_notices_handled_while_it_travelled) {
    m_server.answer("GET", zones_path, ok(zones({"a", "b", "c"})));
    make_manager();
    // One refresh, answered late with the list as it stood when it was asked for.
    m_server.answer_once("GET", zones_path, ok(zones({"a", "b", "c"}), 200ms));
    m_manager->set_update_period(20ms);
    ASSERT_TRUE(run_until([this] { return zone_requests() >= 2; }));
    m_manager->disable_timer();

    m_updater.handle_notify(notice("created", R"({"uid": "n"})"));
    m_updater.handle_notify(notice("deleted", R"({"uid": "b"})"));
    m_updater.handle_notify(notice("updated", R"({"uid": "a"})"));
    ASSERT_TRUE(run_until([this] { return m_recorder.events.size() >= 4; }));
    run_for(50ms);  // lets anything else the answer would do happen

    // Only c, which no notice touched, hears from the answer.
    EXPECT_EQ(m_recorder.events, (strings{"created n", "deleted b", "updated a", "updated c"}));
    EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "c", "n"}));
    EXPECT_EQ(m_manager->get_objects().get("a").get_updated_at(), timestamp(1000, 5));

    // The next refresh applies as usual.
    m_recorder.events.clear();
    m_server.answer("GET", zones_path, ok(zones({"a", "b"})));
    m_manager->set_update_period(20ms);
    ASSERT_TRUE(run_until([this] { return m_recorder.events.size() >= 4; }));
    m_manager->disable_timer();
    EXPECT_EQ(strings(m_recorder.events.begin(), m_recorder.events.begin() + 4),
              (strings{"updated a", "created b", "deleted c", "deleted n"}));
    EXPECT_EQ(uids_of(m_manager->get_objects()), (strings{"a", "b"}));
}
