// The messenger over the real message stream, HTTP client and events loop: frames come from
// an in-process publisher, posts go to an in-process server playing the location server, and
// the loop runs on a thread of its own as in the service.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/http/client.hpp"
#include "core/logger.hpp"
#include "core/message_stream.hpp"
#include "messenger_impl.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "test_support/free_port.hpp"
#include "test_support/http_server.hpp"
#include "test_support/zmq_publisher.hpp"

using tvk::messenger;
using tvk::messenger_impl;
using tvk::libs::core::timestamp;
namespace core = tvk::libs::core;
namespace http = tvk::libs::core::http;
using namespace std::chrono_literals;

namespace {

const std::string user_msg_path = "/api/v2/private/user_msg/";
const std::string time_ms = "1700000000250";  // "ts" 1700000000 and "ms" 250

// A "user_msg" frame from the device dev1 with every member present.
std::string user_msg(const std::string& _hex) {
    return R"(#user_msg {"hex":")" + _hex +
           R"(","dev_id":"dev1","mac":"AA:BB","ts":1700000000,"ms":250})";
}

std::string notify(const std::string& _members) {
    return "#notify {" + _members + "}";
}

// What one batch of frames did: the callbacks called, the log lines written and the posts
// the server received.
struct outcome {
    std::vector<std::string> calls;
    std::vector<std::string> lines;
    std::vector<test_support::http_request> posts;
};

class messenger_service : public ::testing::Test {
protected:
    messenger_service() {
        m_logger.connect(m_collector.endpoint());
        m_server.answer("POST", user_msg_path, {200, "{}"});
        m_messenger = std::make_unique<messenger_impl>(*m_stream, *m_client, m_logger);
        m_messenger->set_on_ack(
            [this](const std::string& _uid, unsigned int _seq_no, timestamp _ts) {
                record("ack " + _uid + " " + std::to_string(_seq_no) + " " + ms(_ts));
            });
        m_messenger->set_on_nack([this](const std::string& _uid, unsigned int _seq_no,
                                        unsigned int _error_code, timestamp _ts) {
            record("nack " + _uid + " " + std::to_string(_seq_no) + " " +
                   std::to_string(_error_code) + " " + ms(_ts));
        });
        m_messenger->set_on_register_tag(
            [this](const std::string& _uid, const std::string& _mac, timestamp _ts) {
                record("register " + _uid + " " + _mac + " " + ms(_ts) + " after " +
                       std::to_string(m_server.request_count()) + " post(s)");
            });
        m_messenger->set_on_reboot([this](const std::string& _uid) { record("reboot " + _uid); });
        m_messenger->set_on_heartbeat(
            [this](const std::string& _uid) { record("heartbeat " + _uid); });
        m_thread = std::thread([this] { m_loop->run_catch_exceptions(TVK_SOURCE_LOCATION); });
    }

    ~messenger_service() override {
        m_loop->stop();
        m_thread.join();
    }

    static std::string ms(timestamp _ts) {
        return std::to_string(_ts.get_time_since_epoch().count());
    }

    void record(std::string _call) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(std::move(_call));
        m_changed.notify_all();
    }

    // Runs _f on the loop's thread and returns its result.
    template <class F>
    auto on_loop(F _f) -> decltype(_f()) {
        auto task = std::make_shared<std::packaged_task<decltype(_f())()>>(std::move(_f));
        auto result = task->get_future();
        m_loop->post([task] { (*task)(); }, TVK_SOURCE_LOCATION);
        if (result.wait_for(10s) != std::future_status::ready) {
            throw std::runtime_error("the events loop did not run the task in time");
        }
        return result.get();
    }

    // Publishes _frames, then a heartbeat of the device "sentinel", and waits until the
    // sentinel has been handled: every frame before it has been handled by then.
    outcome handle(const std::vector<std::string>& _frames) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.clear();
        }
        m_server.clear_requests();
        for (const auto& frame : _frames) {
            m_publisher.publish(frame);
        }
        m_publisher.publish(notify(R"("action":"HB","dev_id":"sentinel")"));
        outcome result;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            const bool handled = m_changed.wait_for(lock, 10s, [this] {
                return !m_calls.empty() && m_calls.back() == "heartbeat sentinel";
            });
            EXPECT_TRUE(handled) << "the sentinel was not handled";
            result.calls.assign(m_calls.begin(), m_calls.end() - (handled ? 1 : 0));
        }
        result.lines = new_lines();
        result.posts = m_server.requests();
        return result;
    }

    // The log lines written since the last call, as "<component>: <indentation and text>".
    std::vector<std::string> new_lines() {
        const std::string mark = "mark " + std::to_string(++m_marks);
        on_loop([&] { m_logger.info("%1%") % mark; });
        const std::regex time(R"(^&quillmere:(\w+) \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
        std::vector<std::string> result;
        const bool marked = m_collector.wait_for([&](const std::vector<std::string>& _lines) {
            return !_lines.empty() && _lines.back().find(mark) != std::string::npos;
        });
        EXPECT_TRUE(marked);
        const auto lines = m_collector.lines();
        for (std::size_t i = m_seen_lines; i + 1 < lines.size(); ++i) {
            if (lines[i].find("Connected to socket") == std::string::npos) {
                result.push_back(std::regex_replace(lines[i], time, "$1: "));
            }
        }
        m_seen_lines = lines.size();
        return result;
    }

    test_support::debug_socket_collector m_collector;  // outlives the logger's linger
    test_support::zmq_publisher m_publisher;
    test_support::http_server m_server;
    core::logger m_logger{"quillmere", "main"};
    core::core::ptr m_core = core::core::create(m_logger);
    core::events_loop::ptr m_loop = m_core->create_events_loop("main loop");
    core::events_loop::work::ptr m_work = m_loop->create_work();
    core::message_stream::ptr m_stream = m_loop->create_zmq_message_stream(m_publisher.endpoint());
    http::client::ptr m_client = m_loop->create_http_client(m_server.url(), 5s, {}, 1);
    std::unique_ptr<messenger_impl> m_messenger;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_calls;
    std::size_t m_seen_lines = 0;
    int m_marks = 0;
    std::thread m_thread;
};

std::vector<std::string> lines_matching(const std::vector<std::string>& _lines,
                                        const std::string& _pattern) {
    std::vector<std::string> result;
    const std::regex pattern(_pattern);
    for (const auto& line : _lines) {
        if (std::regex_search(line, pattern)) {
            result.push_back(line);
        }
    }
    return result;
}

}  // namespace

TEST_F(messenger_service, acknowledgements_reach_their_callback_with_the_peers_time) {
    const auto result = handle({user_msg("0400000107"), user_msg("04000001")});
    EXPECT_EQ(result.calls,
              (std::vector<std::string>{"ack dev1 7 " + time_ms, "ack dev1 0 " + time_ms}));
    EXPECT_EQ(result.lines, (std::vector<std::string>{"main: From BRUQ dev1: 0400000107",
                                                      "main: From BRUQ dev1: 04000001"}));
    EXPECT_TRUE(result.posts.empty());
}

TEST_F(messenger_service, a_registration_is_acknowledged_before_its_callback) {
    const auto result = handle({user_msg("040500012A")});
    EXPECT_EQ(result.calls,
              std::vector<std::string>{"register dev1 AA:BB " + time_ms + " after 1 post(s)"});
    ASSERT_EQ(result.posts.size(), 1u);
    EXPECT_EQ(result.posts[0].method, "POST");
    EXPECT_EQ(result.posts[0].target, user_msg_path);
    EXPECT_EQ(result.posts[0].header("content-type"), "application/json");
    EXPECT_EQ(result.posts[0].body, R"({"data":{"hex":"040000012A"},"uid":"dev1"})");
    EXPECT_EQ(result.lines, (std::vector<std::string>{"main: From BRUQ dev1: 040500012A",
                                                      "main:     | Ack for dev1",
                                                      "main:         | To BRUQ dev1: 040000012A"}));
    // The acknowledgement repeats the device's number and takes none of this side's.
    EXPECT_EQ(on_loop([&] { return m_messenger->get_last_sequence_number(); }), 0);
}

TEST_F(messenger_service, a_refusal_in_lower_case_carries_its_error_code) {
    const auto result = handle({user_msg("04ff00022a03")});
    EXPECT_EQ(result.calls, std::vector<std::string>{"nack dev1 42 3 " + time_ms});
    EXPECT_EQ(result.lines, std::vector<std::string>{"main: From BRUQ dev1: 04FF00022A03"});
}

TEST_F(messenger_service, wrong_lengths_and_unknown_types_write_one_line_and_do_nothing) {
    const auto result =
        handle({user_msg("0400000207"), user_msg("0405000207"), user_msg("04FF000107"),
                user_msg("0401000107"), user_msg("04AB000107")});
    EXPECT_TRUE(result.calls.empty());
    EXPECT_TRUE(result.posts.empty());
    EXPECT_EQ(result.lines, (std::vector<std::string>{
                                "main: From BRUQ dev1: 0400000207",
                                "main:     | Wrong lengh",
                                "main: From BRUQ dev1: 0405000207",
                                "main:     | Wrong lengh",
                                "main: From BRUQ dev1: 04FF000107",
                                "main:     | Wrong lengh",
                                "main: From BRUQ dev1: 0401000107",
                                "main:     | Unknown Message type 0x1",
                                "main: From BRUQ dev1: 04AB000107",
                                "main:     | Unknown Message type 0xab",
                            }));
}

TEST_F(messenger_service, odd_lengths_read_the_digits_that_are_there) {
    const auto result = handle({user_msg("040000010"), user_msg("04000001070")});
    EXPECT_EQ(result.calls,
              (std::vector<std::string>{"ack dev1 0 " + time_ms, "ack dev1 7 " + time_ms}));
}

TEST_F(messenger_service, other_protocols_and_incomplete_messages_are_dropped) {
    const auto result = handle({
        user_msg("0500000107"),                                           // not protocol 04
        user_msg("0"),                                                    // shorter than the id
        R"(#user_msg {"hex":400000107,"dev_id":"dev1"})",                 // hex not a string
        R"(#user_msg {"hex":"0400000107","dev_id":7})",                   // no string dev_id
        R"(#user_msg {"hex":"0400000107","dev_id":"d2","ts":1,"ms":2})",  // no mac
        R"(#user_msg {"hex":"0400000107","dev_id":"d3","mac":"m","ts":"1","ms":2})",
        R"(#user_msg {"hex":"0400000107","dev_id":"d4","mac":"m","ts":2147483648,"ms":2})",
        R"(#user_msg {"hex":"0400000107","dev_id":"d5","mac":"m","ts":1,"ms":1.5})",
        "#user_msg without a brace",
        R"(#user_msg [{"hex":"0400000107"}])",
    });
    EXPECT_TRUE(result.calls.empty());
    EXPECT_TRUE(result.posts.empty());
    // Only what passed the protocol id is logged, as its scope line alone.
    EXPECT_EQ(result.lines, (std::vector<std::string>{
                                "main: From BRUQ d2: 0400000107",
                                "main: From BRUQ d3: 0400000107",
                                "main: From BRUQ d4: 0400000107",
                                "main: From BRUQ d5: 0400000107",
                            }));
}

TEST_F(messenger_service, a_negative_ms_moves_the_time_back) {
    const auto result = handle(
        {R"(#user_msg {"hex":"0400000107","dev_id":"dev1","mac":"m","ts":1700000000,"ms":-250})"});
    EXPECT_EQ(result.calls, std::vector<std::string>{"ack dev1 7 1699999999750"});
}

TEST_F(messenger_service, fields_that_are_not_hex_are_dropped_with_a_line) {
    const auto result =
        handle({user_msg("04ZZ000107"), user_msg("04-1000107"), user_msg("04FF00022AZ3")});
    EXPECT_TRUE(result.calls.empty());
    EXPECT_EQ(result.lines, (std::vector<std::string>{
                                "main: From BRUQ dev1: 04ZZ000107",
                                "main:     | Not a hexadecimal frame",
                                "main: From BRUQ dev1: 04-1000107",
                                "main:     | Not a hexadecimal frame",
                                "main: From BRUQ dev1: 04FF00022AZ3",
                                "main:     | Not a hexadecimal frame",
                            }));
}

TEST_F(messenger_service, short_hex_texts_reach_the_events_loop_and_the_next_message_is_handled) {
    // Each ends before a field that is read begins; the refusal needs its error code.
    const std::vector<std::string> texts = {"04", "0400", "0400000", "04FF0002", "04FF00022"};
    std::vector<std::string> frames;
    for (const auto& hex : texts) {
        frames.push_back(user_msg(hex));
        frames.push_back(user_msg("0400000107"));
    }
    const auto result = handle(frames);
    EXPECT_EQ(result.calls, std::vector<std::string>(texts.size(), "ack dev1 7 " + time_ms));
    EXPECT_TRUE(result.posts.empty());
    const auto caught = lines_matching(
        result.lines, R"(^main: /tests/service/messenger_service_test\.cpp:\d+ Caught exeption$)");
    EXPECT_EQ(caught.size(), texts.size());
    EXPECT_EQ(lines_matching(result.lines, "^core: "),
              (std::vector<std::string>{
                  "core: std::exception::what(): hex frame 04 ends before its field at character 4",
                  "core: std::exception::what(): hex frame 0400 ends before its field at "
                  "character 8",
                  "core: std::exception::what(): hex frame 0400000 ends before its field at "
                  "character 8",
                  "core: std::exception::what(): hex frame 04FF0002 ends before its field at "
                  "character 10",
                  "core: std::exception::what(): hex frame 04FF00022 ends before its field at "
                  "character 10",
              }));
    // The scope of the failed frame was left: the next one is logged at depth 0 again.
    EXPECT_EQ(lines_matching(result.lines, "From BRUQ dev1: 0400000107$").front(),
              "main: From BRUQ dev1: 0400000107");
}

TEST_F(messenger_service, texts_that_are_not_json_reach_the_events_loop) {
    const auto result = handle({"#user_msg {oops", user_msg("0400000107"), "#notify {oops",
                                notify(R"("action":"NA","dev_id":"dev1")")});
    EXPECT_EQ(result.calls, (std::vector<std::string>{"ack dev1 7 " + time_ms, "reboot dev1"}));
    const auto checks = lines_matching(result.lines, "^core: ");
    ASSERT_EQ(checks.size(), 2u);
    for (const auto& line : checks) {
        EXPECT_TRUE(std::regex_match(
            line,
            std::regex(R"(core: /src/messenger_impl\.cpp:\d+ check failed: parse_result\.ok)")))
            << line;
    }
    EXPECT_EQ(lines_matching(result.lines, "Caught exeption$").size(), 2u);
}

TEST_F(messenger_service, notify_actions_of_devices) {
    const auto result = handle({
        notify(R"("action":"NA","dev_id":"dev1")"), notify(R"("action":"HB","dev_id":"dev2")"),
        notify(R"("action":"HB")"),                      // no dev_id
        notify(R"("action":"HB","dev_id":3)"),           // no string dev_id
        notify(R"("action":"XX","dev_id":"dev1")"),      // another action
        notify(R"("object":"zone","action":"update")"),  // an object change
    });
    EXPECT_EQ(result.calls, (std::vector<std::string>{"reboot dev1", "heartbeat dev2"}));
    EXPECT_TRUE(result.lines.empty());
}

TEST_F(messenger_service, enter_and_leave_frames_are_posted_with_the_exact_body) {
    messenger::zone_enter_event_t event;
    event.zone_descriptor.area_id = 3;
    event.zone_descriptor.zone_id = 17;
    event.zone_descriptor.zone_type_id = 2;
    event.zone_descriptor.severity_level = 1;
    event.zone_descriptor.zone_shape = 1;
    event.zone_descriptor.vertices = {{100, 200}, {-50, 200}, {100, -25}};
    EXPECT_TRUE(on_loop([&] { return m_messenger->send_enter_zone_event("tag-1", event); }));
    EXPECT_TRUE(on_loop([&] { return m_messenger->send_leave_zone_event("tag-1", 17); }));
    EXPECT_EQ(on_loop([&] { return m_messenger->get_last_sequence_number(); }), 2);

    const std::string enter =
        "0401002401012100030011020100010300000064000000C8FFFFFFCE000000C800000064FFFFFFE7";
    const auto posts = m_server.requests();
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].method, "POST");
    EXPECT_EQ(posts[0].target, user_msg_path);
    EXPECT_EQ(posts[0].body, R"({"data":{"hex":")" + enter + R"("},"uid":"tag-1"})");
    EXPECT_EQ(posts[1].body, R"({"data":{"hex":"040200050202020011"},"uid":"tag-1"})");
    EXPECT_EQ(new_lines(), (std::vector<std::string>{
                               "main: Zone event for tag-1", "main:     | To BRUQ tag-1: " + enter,
                               "main: Leave zone event for tag-1",
                               "main:     | To BRUQ tag-1: 040200050202020011"}));
}

TEST_F(messenger_service, a_failed_post_gives_two_error_lines_and_false) {
    m_server.answer("POST", user_msg_path, {500, "boom"});
    EXPECT_FALSE(on_loop([&] { return m_messenger->send_leave_zone_event("tag-1", 17); }));
    EXPECT_EQ(m_server.request_count(), 1u);

    // An unreachable server: the client's error text.
    auto unreachable = m_loop->create_http_client(
        "http://127.0.0.1:" + std::to_string(test_support::free_port()), 5s, {}, 1);
    auto other = on_loop(
        [&] { return std::make_unique<messenger_impl>(*m_stream, *unreachable, m_logger); });
    EXPECT_FALSE(on_loop([&] { return other->send_ack("tag-2", 9); }));
    on_loop([&] { other.reset(); });

    const std::string body = R"({"data":{"hex":"040200050102020011"},"uid":"tag-1"})";
    const auto lines = new_lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "main: Leave zone event for tag-1");
    EXPECT_TRUE(
        std::regex_match(lines[2], std::regex(R"(main:     \| /src/messenger_impl\.cpp:\d+ boom)")))
        << lines[2];
    EXPECT_EQ(lines[3], "main:     | user_msg: " + body);
    EXPECT_EQ(lines[4], "main: Ack for tag-2");
    EXPECT_TRUE(std::regex_match(
        lines[6],
        std::regex(R"(main:     \| /src/messenger_impl\.cpp:\d+ curl_easy_perform failed:.+)")))
        << lines[6];
    EXPECT_EQ(lines[7], R"(main:     | user_msg: {"data":{"hex":"0400000109"},"uid":"tag-2"})");
}

TEST_F(messenger_service, a_failed_post_with_an_empty_answer_logs_error) {
    m_server.answer("POST", user_msg_path, {404, ""});
    EXPECT_FALSE(on_loop([&] { return m_messenger->send_ack("tag-1", 7); }));
    const auto lines = new_lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(std::regex_match(lines[2],
                                 std::regex(R"(main:     \| /src/messenger_impl\.cpp:\d+ Error)")))
        << lines[2];
    EXPECT_EQ(lines[3], R"(main:     | user_msg: {"data":{"hex":"0400000107"},"uid":"tag-1"})");
}

TEST_F(messenger_service, a_disabled_post_sends_nothing_and_succeeds) {
    auto disabled = m_loop->create_http_client(m_server.url(), 5s, {http::method::post}, 1);
    auto quiet =
        on_loop([&] { return std::make_unique<messenger_impl>(*m_stream, *disabled, m_logger); });
    EXPECT_TRUE(on_loop([&] { return quiet->send_leave_zone_event("tag-1", 17); }));
    EXPECT_TRUE(on_loop([&] { return quiet->send_ack("tag-1", 3); }));
    EXPECT_EQ(on_loop([&] { return quiet->get_last_sequence_number(); }), 1);
    on_loop([&] { quiet.reset(); });
    EXPECT_EQ(m_server.request_count(), 0u);
}
