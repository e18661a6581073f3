#include "context_initializer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "test_helpers.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "test_support/free_port.hpp"
#include "test_support/http_server.hpp"
#include "test_support/run_until.hpp"

using namespace context_utils_test;
using tvk::libs::context_utils::context_initializer;
using tvk::libs::context_utils::json_answer;
using tvk::libs::context_utils::json_object;
using tvk::libs::context_utils::object_info;
using tvk::libs::context_utils::object_infos;
namespace core = tvk::libs::core;

namespace {

typedef std::vector<std::string> strings;

const auto retry_period = std::chrono::milliseconds(50);

test_support::http_answer ok(const std::string& _body) {
    test_support::http_answer answer;
    answer.body = _body;
    return answer;
}

test_support::http_answer failure(int _status, const std::string& _body) {
    test_support::http_answer answer;
    answer.status = _status;
    answer.body = _body;
    return answer;
}

// The loader over a real HTTP client, an events loop and a logger whose lines are collected.
class rest_loading : public ::testing::Test {
protected:
    explicit rest_loading(const std::string& _url = std::string())
        : m_client(m_events_loop->create_http_client(_url.empty() ? m_server.url() : _url,
                                                     std::chrono::seconds(5), {}, 1)) {
        m_root.connect(m_collector.endpoint());
    }

    std::vector<std::string> paths() const {
        std::vector<std::string> result;
        for (const auto& request : m_server.requests()) {
            result.push_back(request.method + " " + request.path);
        }
        return result;
    }

    // Loads _info's list from the server; the uids of its elements.
    strings uids_on_server(const object_info& _info) {
        strings uids;
        m_initializer.for_each_object_on_server(_info, [&uids](const json_object& _object) {
            uids.push_back(_object.get_json()["uid"].asString());
            return true;
        });
        return uids;
    }

    // One asynchronous load of _info's list, the loop run until its callback: what the
    // callback got, or none when it was not called in time.
    boost::optional<boost::optional<json_answer>> load_async(const object_info& _info) {
        boost::optional<boost::optional<json_answer>> delivered;
        const auto handle = m_initializer.get_objects_async(
            _info,
            [&delivered](boost::optional<json_answer> _answer) { delivered = std::move(_answer); });
        test_support::run_until(m_events_loop->get_io_context(),
                                [&] { return delivered.is_initialized(); });
        return delivered;
    }

    bool has_line(const std::string& _text) const { return !line_with(_text).empty(); }

    // The first collected log line that contains _text, or "" when none came in time.
    std::string line_with(const std::string& _text) const {
        m_collector.wait_for_line_containing(_text, std::chrono::seconds(2));
        for (const auto& line : m_collector.lines()) {
            if (line.find(_text) != std::string::npos) {
                return line;
            }
        }
        return std::string();
    }

    test_support::http_server m_server;
    test_support::debug_socket_collector m_collector;  // outlives the logger's linger
    core::logger m_root{"quillmere", "test"};
    core::component_logger::ptr m_logger = m_root.component("context_utils");
    core::core::ptr m_core = core::core::create(m_root);
    core::events_loop::ptr m_events_loop = m_core->create_events_loop("main loop");
    core::http::client::ptr m_client;
    context_initializer m_initializer{*m_client, *m_events_loop, *m_logger, retry_period};
};

class rest_loading_without_server : public rest_loading {
protected:
    rest_loading_without_server()
        : rest_loading("http://127.0.0.1:" + std::to_string(test_support::free_port())) {}
};

}  // namespace

TEST_F(rest_loading, each_kind_has_its_path_and_array_key) {
    struct sample {
        const object_info* info;
        const char* path;
        const char* file;
        strings uids;
    };
    const sample samples[] = {
        {&object_infos::zone, "/api/private/zones/", "rest/zones.json", {"zone-1", "zone-2"}},
        {&object_infos::trackable_object,
         "/api/private/track_obj/",
         "rest/track_obj.json",
         {"tag-1", "tag-2"}},
        {&object_infos::win_anchor,
         "/api/private/win_anchors/",
         "rest/win_anchors.json",
         {"anchor-1", "anchor-2"}},
        {&object_infos::sublocation,
         "/api/private/sublocations/",
         "rest/sublocations.json",
         {"subloc-1", "subloc-2"}},
        {&object_infos::alarm, "/api/private/alarms/", "rest/alarms.json", {"alarm-1"}},
        {&object_infos::node, "/api/private/nodes/", "rest/nodes.json", {"node-1", "node-2"}},
    };
    for (const auto& s : samples) {
        m_server.clear_requests();
        m_server.answer("GET", s.path, ok(read_sample(s.file)));
        EXPECT_EQ(s.info->m_rest_endpoint, s.path);
        EXPECT_EQ(uids_on_server(*s.info), s.uids) << s.path;
        EXPECT_EQ(paths(), strings{std::string("GET ") + s.path});
    }
}

TEST(object_infos, kinds_table) {
    struct sample {
        const object_info& info;
        int type;
        const char* rest_json_name;
        const char* notify_json_name;
    };
    const sample samples[] = {
        {object_infos::zone, 0, "zones", "ZONE"},
        {object_infos::trackable_object, 1, "trackableObjects", "TRACKABLE_OBJECT"},
        {object_infos::win_anchor, 2, "win_anchors", "WIN_ANCHOR"},
        {object_infos::sublocation, 3, "sublocations", "SUBLOCATION"},
        {object_infos::alarm, 4, "alarms", ""},
        {object_infos::node, 5, "nodes", "NODE"},
    };
    for (const auto& s : samples) {
        EXPECT_EQ(static_cast<int>(s.info.m_type), s.type);
        EXPECT_EQ(s.info.m_rest_json_name, s.rest_json_name);
        EXPECT_EQ(s.info.m_notify_json_name, s.notify_json_name);
    }
}

TEST_F(rest_loading, a_failed_attempt_is_logged_and_repeated_after_the_pause) {
    m_server.answer_once("GET", "/api/private/track_obj/", failure(404, "no such list"));
    m_server.answer("GET", "/api/private/track_obj/", ok(read_sample("rest/track_obj.json")));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(uids_on_server(object_infos::trackable_object), (strings{"tag-1", "tag-2"}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, retry_period);
    EXPECT_EQ(m_server.request_count(), 2u);
    EXPECT_TRUE(has_line("context_initializer.cpp:"));
    EXPECT_TRUE(has_line(
        "Request failed with code: 404, addr: /api/private/track_obj/, response no such list"));
}

TEST_F(rest_loading, an_empty_error_body_is_logged_as_such) {
    m_server.answer_once("GET", "/api/private/zones/", failure(503, ""));
    m_server.answer("GET", "/api/private/zones/", ok(R"({"zones": []})"));
    EXPECT_TRUE(uids_on_server(object_infos::zone).empty());
    const std::string line =
        line_with("Request failed with code: 503, addr: /api/private/zones/, response");
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.substr(line.rfind("response")), "response ");
}

TEST_F(rest_loading, a_long_error_body_is_cut_in_the_log_line) {
    const std::string body(1 << 20, 'b');
    m_server.answer_once("GET", "/api/private/zones/", failure(500, body));
    m_server.answer("GET", "/api/private/zones/", ok(R"({"zones": []})"));
    EXPECT_TRUE(uids_on_server(object_infos::zone).empty());
    const std::string line =
        line_with("Request failed with code: 500, addr: /api/private/zones/, response");
    ASSERT_FALSE(line.empty());
    EXPECT_LT(line.size(), 2048u);
    EXPECT_NE(line.find(std::string(1024, 'b') + "... (1048576 bytes)"), std::string::npos);
}

TEST_F(rest_loading_without_server, a_stopped_loop_ends_the_retries_with_interrupted) {
    // Stops the loop from another thread once the first failure has been logged, as the
    // signal thread does.
    std::thread stopper([this] {
        m_collector.wait_for_line_containing("Request failed with code: -1",
                                             std::chrono::seconds(10));
        m_events_loop->stop();
    });
    const std::string error = error_of([&] { uids_on_server(object_infos::zone); });
    stopper.join();
    EXPECT_EQ(error, "Interrupted");
    EXPECT_TRUE(
        has_line("Request failed with code: -1, addr: /api/private/zones/, response "
                 "curl_easy_perform failed:"));
}

TEST_F(rest_loading, a_loop_stopped_before_the_load_sends_nothing) {
    m_events_loop->stop();
    try {
        uids_on_server(object_infos::zone);
        FAIL() << "no exception";
    } catch (const core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "Interrupted");
        EXPECT_EQ(e.get_source_location().short_file(),
                  "/libs/context-utils/impl/context_initializer.cpp");
    }
    EXPECT_EQ(m_server.request_count(), 0u);
}

// An error page sent as a success, or a cut answer, holds nothing to load: it is one more
// failed attempt.
TEST_F(rest_loading, a_success_without_the_list_is_logged_and_repeated) {
    const std::pair<const char*, const char*> answers[] = {
        {"", "parse error: "},
        {"{", "parse error: "},
        {"<html></html>", "parse error: "},
        {"null", R"("nodes" is not an array!)"},
        {"[]", R"("nodes" is not an array!)"},
        {R"({"nodes": {}})", R"("nodes" is not an array!)"},
        {R"({"node": []})", R"("nodes" is not an array!)"},
    };
    m_server.answer("GET", "/api/private/nodes/", ok(R"({"nodes": [{"uid": "n1"}]})"));
    for (const auto& answer : answers) {
        m_server.clear_requests();
        m_server.answer_once("GET", "/api/private/nodes/", ok(answer.first));
        EXPECT_EQ(uids_on_server(object_infos::node), strings{"n1"}) << answer.first;
        EXPECT_EQ(m_server.request_count(), 2u) << answer.first;
        EXPECT_TRUE(has_line(std::string("Request failed with code: 200, addr: "
                                         "/api/private/nodes/, response ") +
                             answer.second))
            << answer.first;
    }
}

TEST_F(rest_loading, walks_the_answer_array) {
    const json_answer answer(parse(R"({"zones": [{"uid": "a"}, {"uid": "b"}, {"uid": "c"},
                                                 {"uid": "d"}, {"uid": "e"}], "other": 1})"));
    strings seen;
    EXPECT_FALSE(m_initializer.for_each_object(
        object_infos::zone, answer, [&seen](const json_object& _object) {
            seen.push_back(_object.get_json()["uid"].asString());
            return seen.size() < 2;
        }));
    EXPECT_EQ(seen, (strings{"a", "b"}));

    int calls = 0;
    EXPECT_TRUE(m_initializer.for_each_object(object_infos::zone,
                                              json_answer(parse(R"({"zones": []})")),
                                              [&calls](const json_object&) { return ++calls; }));
    EXPECT_EQ(calls, 0);

    for (const char* text : {R"({"zones": {}})", R"({"zone": []})", R"({"zones": null})", "{}",
                             R"({"zones": "z"})", "null", "[]", "5", R"("zones")"}) {
        EXPECT_EQ(error_of([&] {
                      m_initializer.for_each_object(object_infos::zone, json_answer(parse(text)),
                                                    [](const json_object&) { return true; });
                  }),
                  R"(Refused the answer of /api/private/zones/: "zones" is not an array!)")
            << text;
    }
    EXPECT_EQ(
        error_of([&] {
            m_initializer.for_each_object(object_infos::trackable_object,
                                          json_answer(parse(R"({"zones": []})")),
                                          [](const json_object&) { return true; });
        }),
        R"(Refused the answer of /api/private/track_obj/: "trackableObjects" is not an array!)");
}

TEST_F(rest_loading, elements_outlive_the_answer) {
    std::vector<json_object> kept;
    {
        const json_answer answer(parse(R"({"nodes": [{"uid": "n1"}]})"));
        m_initializer.for_each_object(object_infos::node, answer,
                                      [&kept](const json_object& _object) {
                                          kept.push_back(_object);
                                          return true;
                                      });
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].get_json()["uid"].asString(), "n1");
}

TEST_F(rest_loading, initialize_loads_only_the_kinds_with_a_callback) {
    for (const char* path : {"/api/private/zones/", "/api/private/track_obj/",
                             "/api/private/sublocations/", "/api/private/nodes/"}) {
        m_server.answer("GET", path,
                        ok(R"({"zones": [{"uid": "z"}], "trackableObjects": [{"uid": "t"}],
                                           "sublocations": [{"uid": "s"}], "nodes": [{"uid": "n"}]})"));
    }
    m_initializer.initialize();
    EXPECT_EQ(m_server.request_count(), 0u);

    strings calls;
    const auto record = [&calls](const char* _kind) {
        return [&calls, _kind](const json_object& _object) {
            calls.push_back(_kind + std::string(" ") + _object.get_json()["uid"].asString());
        };
    };
    m_initializer.on_node_creating(record("node"));
    m_initializer.initialize();
    EXPECT_EQ(paths(), strings{"GET /api/private/nodes/"});
    EXPECT_EQ(calls, strings{"node n"});

    m_server.clear_requests();
    calls.clear();
    m_initializer.on_node_creating(nullptr);
    m_initializer.on_zone_creating(record("zone"));
    m_initializer.on_sublocation_creating(record("sublocation"));
    m_initializer.on_trackable_object_creating(record("trackable"));
    m_initializer.on_zone_creating(record("zone again"));  // replaces the first
    m_initializer.initialize();
    EXPECT_EQ(paths(), (strings{"GET /api/private/track_obj/", "GET /api/private/zones/",
                                "GET /api/private/sublocations/"}));
    EXPECT_EQ(calls, (strings{"trackable t", "zone again z", "sublocation s"}));
}

TEST_F(rest_loading, a_creating_callback_may_replace_or_empty_its_own_slot) {
    m_server.answer("GET", "/api/private/zones/",
                    ok(R"({"zones": [{"uid": "z1"}, {"uid": "z2"}, {"uid": "z3"}]})"));
    strings calls;
    const std::string first = "first ", second = "second ";
    m_initializer.on_zone_creating([&, first](const json_object& _object) {
        m_initializer.on_zone_creating([&, second](const json_object& _next) {
            m_initializer.on_zone_creating(nullptr);
            calls.push_back(second + _next.get_json()["uid"].asString());
        });
        // Its captures must still be there after the replacement.
        calls.push_back(first + _object.get_json()["uid"].asString());
    });
    m_initializer.initialize();
    EXPECT_EQ(calls, (strings{"first z1", "second z2"}));
}

TEST_F(rest_loading, initialize_stops_at_an_exception) {
    m_server.answer("GET", "/api/private/track_obj/", ok(R"({"trackableObjects": [{}]})"));
    m_server.answer("GET", "/api/private/zones/", ok(R"({"zones": []})"));
    m_initializer.on_trackable_object_creating(
        [](const json_object&) { throw std::runtime_error("refused"); });
    m_initializer.on_zone_creating([](const json_object&) {});
    EXPECT_EQ(error_of([&] { m_initializer.initialize(); }), "other exception: refused");
    EXPECT_EQ(paths(), strings{"GET /api/private/track_obj/"});
}

TEST_F(rest_loading, asynchronous_load_passes_the_answer) {
    m_server.answer("GET", "/api/private/zones/", ok(read_sample("rest/zones.json")));
    const auto delivered = load_async(object_infos::zone);
    ASSERT_TRUE(delivered);
    ASSERT_TRUE(*delivered);
    EXPECT_EQ((**delivered).get_json()["zones"][1]["uid"].asString(), "zone-2");
}

TEST_F(rest_loading, asynchronous_failure_is_logged_and_passes_nothing) {
    m_server.answer("GET", "/api/private/sublocations/", failure(500, "oops"));
    const auto delivered = load_async(object_infos::sublocation);
    ASSERT_TRUE(delivered);
    EXPECT_FALSE(*delivered);
    EXPECT_EQ(m_server.request_count(), 1u);
    EXPECT_TRUE(
        has_line("Request failed with code: 500, addr: /api/private/sublocations/, response oops"));
}

TEST_F(rest_loading, a_dropped_handle_delivers_nothing) {
    auto answer = failure(500, "late");
    answer.delay = std::chrono::milliseconds(200);
    m_server.answer("GET", "/api/private/nodes/", answer);
    bool called = false;
    auto handle = m_initializer.get_objects_async(
        object_infos::node, [&called](boost::optional<json_answer>) { called = true; });
    ASSERT_TRUE(m_server.wait_for_requests(1));
    handle.reset();
    // Long enough for the late answer to arrive and be dropped.
    test_support::run_until(
        m_events_loop->get_io_context(), [] { return false; }, std::chrono::milliseconds(500));
    EXPECT_FALSE(called);
    EXPECT_FALSE(
        m_collector.wait_for_line_containing("response late", std::chrono::milliseconds(100)));
}

TEST_F(rest_loading, an_asynchronous_success_that_is_not_json_raises_on_the_loop) {
    m_server.answer("GET", "/api/private/zones/", ok("not json"));
    bool called = false;
    const auto handle = m_initializer.get_objects_async(
        object_infos::zone, [&called](boost::optional<json_answer>) { called = true; });
    const std::string error = error_of([&] {
        test_support::run_until(
            m_events_loop->get_io_context(), [] { return false; }, std::chrono::seconds(2));
    });
    const std::string expected = "Refused the answer of /api/private/zones/: parse error: ";
    EXPECT_EQ(error.substr(0, expected.size()), expected);
    EXPECT_FALSE(called);
}
