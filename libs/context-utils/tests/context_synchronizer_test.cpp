#include "context_utils/context_synchronizer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "context_synchronizer_impl.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
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

    bool run_until(const std::function<bool()>& _done,
                   std::chrono::milliseconds _timeout = std::chrono::seconds(5)) {
        return test_support::run_until(m_events_loop->get_io_context(), _done, _timeout);
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
