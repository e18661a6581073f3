#include <gtest/gtest.h>

#include <boost/optional/optional_io.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/exception.hpp"
#include "core/http/client.hpp"
#include "core/logger.hpp"
#include "test_support/free_port.hpp"
#include "test_support/http_server.hpp"
#include "test_support/run_until.hpp"

namespace http = tvk::libs::core::http;
using std::chrono::milliseconds;
using tvk::libs::core::events_loop;

namespace {

class http_client : public ::testing::Test {
protected:
    http::client::ptr make_client(std::vector<http::method> _disabled = {}, int _threads = 2,
                                  std::string _address = std::string()) {
        return m_loop->create_http_client(_address.empty() ? m_server.url() : _address,
                                          std::chrono::seconds(5), _disabled, _threads);
    }

    template <class Predicate>
    bool run_until(Predicate&& _done, milliseconds _timeout = std::chrono::seconds(5)) {
        return test_support::run_until(m_loop->get_io_context(), std::forward<Predicate>(_done),
                                       _timeout);
    }

    // Runs the loop for a while, for results that must not arrive.
    void settle(milliseconds _period = milliseconds(300)) {
        run_until([] { return false; }, _period);
    }

    // Stores each delivered result.
    http::client::handle::callback collect() {
        return [this](http::result _result) { m_results.push_back(std::move(_result)); };
    }

    test_support::http_server m_server;
    tvk::libs::core::logger m_root{"quillmere", "test"};
    tvk::libs::core::core::ptr m_core = tvk::libs::core::core::create(m_root);
    events_loop::ptr m_loop = m_core->create_events_loop("main loop");
    std::vector<http::result> m_results;
};

}  // namespace

TEST_F(http_client, blocking_requests_go_to_the_base_url_plus_the_address) {
    m_server.answer("GET", "/api/private/zones/", {200, "[1,2]"});
    m_server.answer("POST", "/api/v2/private/user_msg/", {500, "broken"});
    const auto client = make_client();

    const auto zones = client->perform_request(http::method::get, "/api/private/zones/");
    EXPECT_TRUE(zones.ok());
    EXPECT_EQ(*zones.data(), "[1,2]");

    const auto posted =
        client->perform_request(http::method::post, "/api/v2/private/user_msg/", "{}");
    EXPECT_FALSE(posted.ok());
    EXPECT_EQ(posted.status_code(), boost::optional<int>(500));
    EXPECT_EQ(posted.error(), std::string("broken"));

    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].has_header("content-type"));
    EXPECT_EQ(requests[1].header("content-type"), "application/json");
    EXPECT_EQ(requests[1].body, "{}");
}

TEST_F(http_client, asynchronous_results_arrive_on_the_creating_loop) {
    m_server.answer("GET", "/a", {200, "alpha"});
    m_server.answer("PUT", "/b", {404, "missing"});
    const auto client = make_client();
    const auto loop_thread = std::this_thread::get_id();
    std::vector<std::thread::id> threads;
    auto first = client->perform_async_request(http::method::get, "/a", [&](http::result _r) {
        threads.push_back(std::this_thread::get_id());
        m_results.push_back(std::move(_r));
    });
    auto second = client->perform_async_request(http::method::put, "/b", "{\"x\":1}", collect());
    ASSERT_TRUE(run_until([&] { return m_results.size() == 2; }));
    EXPECT_EQ(threads, std::vector<std::thread::id>{loop_thread});
    EXPECT_TRUE(first->is_complete());
    EXPECT_TRUE(second->is_complete());

    const http::result* alpha = m_results[0].ok() ? &m_results[0] : &m_results[1];
    const http::result* missing = m_results[0].ok() ? &m_results[1] : &m_results[0];
    EXPECT_EQ(*alpha->data(), "alpha");
    EXPECT_EQ(missing->status_code(), boost::optional<int>(404));
    EXPECT_EQ(missing->error(), std::string("missing"));
    for (const auto& request : m_server.requests()) {
        if (request.method == "PUT") {
            EXPECT_EQ(request.body, "{\"x\":1}");
            EXPECT_EQ(request.header("content-type"), "application/json");
        }
    }
}

TEST_F(http_client, a_callback_attached_after_the_start_gets_the_result) {
    m_server.answer("POST", "/late", {201, "made"});
    const auto client = make_client();
    auto handle = client->perform_async_request(http::method::post, "/late", "{}");
    handle->set_callback(collect());
    ASSERT_TRUE(run_until([&] { return m_results.size() == 1; }));
    EXPECT_EQ(*m_results[0].data(), "made");

    // No callback at all: the result is dropped, the handle reads complete.
    auto silent = client->perform_async_request(http::method::post, "/late", "{}");
    ASSERT_TRUE(run_until([&] { return silent->is_complete(); }));
    settle(milliseconds(50));
    EXPECT_EQ(m_results.size(), 1u);
}

TEST_F(http_client, restart_repeats_the_request_and_delivers_again) {
    m_server.answer_once("GET", "/r", {500, "first"});
    m_server.answer("GET", "/r", {200, "second"});
    const auto client = make_client();
    auto handle = client->perform_async_request(http::method::get, "/r", collect());
    ASSERT_TRUE(run_until([&] { return m_results.size() == 1; }));
    EXPECT_EQ(m_results[0].error(), std::string("first"));
    handle->restart();
    ASSERT_TRUE(run_until([&] { return m_results.size() == 2; }));
    EXPECT_EQ(*m_results[1].data(), "second");
    EXPECT_EQ(m_server.request_count(), 2u);
}

TEST_F(http_client, a_handle_dropped_before_a_worker_takes_it_saves_the_transfer) {
    m_server.answer("GET", "/slow", {200, "slow", milliseconds(300)});
    m_server.answer("GET", "/dropped", {200, "dropped"});
    const auto client = make_client({}, 1);
    auto slow = client->perform_async_request(http::method::get, "/slow", collect());
    ASSERT_TRUE(m_server.wait_for_requests(1));  // the only worker is busy
    client->perform_async_request(http::method::get, "/dropped", collect()).reset();
    ASSERT_TRUE(run_until([&] { return m_results.size() == 1; }));
    settle();
    EXPECT_EQ(m_results.size(), 1u);
    EXPECT_EQ(m_server.request_count(), 1u);
}

TEST_F(http_client, a_handle_dropped_during_the_transfer_gets_no_callback) {
    m_server.answer("GET", "/slow", {200, "slow", milliseconds(200)});
    const auto client = make_client();
    auto handle = client->perform_async_request(http::method::get, "/slow", collect());
    ASSERT_TRUE(m_server.wait_for_requests(1));
    handle.reset();
    settle(milliseconds(500));
    EXPECT_TRUE(m_results.empty());
}

TEST_F(http_client, disabled_methods_send_nothing_and_answer_200_empty) {
    m_server.set_default_answer({200, "real"});
    const auto client = make_client({http::method::post});
    const auto blocking =
        client->perform_request(http::method::post, "/api/v2/private/user_msg/", "{}");
    EXPECT_TRUE(blocking.ok());
    EXPECT_EQ(blocking.status_code(), boost::optional<int>(200));
    EXPECT_EQ(*blocking.data(), "");
    auto async = client->perform_async_request(http::method::post, "/x", "{}", collect());
    ASSERT_TRUE(run_until([&] { return m_results.size() == 1; }));
    EXPECT_TRUE(m_results[0].ok());
    EXPECT_EQ(*m_results[0].data(), "");
    EXPECT_EQ(m_server.connection_count(), 0u);
    // Other methods still go out.
    EXPECT_EQ(*client->perform_request(http::method::get, "/x").data(), "real");
}

TEST_F(http_client, transfer_errors_reach_asynchronous_callers_too) {
    const auto client =
        make_client({}, 1, "http://127.0.0.1:" + std::to_string(test_support::free_port()));
    auto handle = client->perform_async_request(http::method::get, "/", collect());
    ASSERT_TRUE(run_until([&] { return m_results.size() == 1; }));
    EXPECT_FALSE(m_results[0].status_code());
    EXPECT_EQ(m_results[0].error().value_or("").rfind("curl_easy_perform failed:", 0), 0u);
}

TEST_F(http_client, a_failing_job_leaves_the_worker_serving) {
    m_server.answer("GET", "/after", {200, "served"});
    const auto client = make_client({}, 1);
    EXPECT_THROW(client->perform_request(http::method::_count, "/"), tvk::libs::core::exception);
    auto failing = client->perform_async_request(static_cast<http::method>(7), "/", collect());
    auto after = client->perform_async_request(http::method::get, "/after", collect());
    ASSERT_TRUE(run_until([&] { return m_results.size() == 2; }));
    EXPECT_FALSE(m_results[0].status_code());
    EXPECT_NE(m_results[0].error().value_or("").find("Unknown enumeration value"),
              std::string::npos);
    EXPECT_EQ(*m_results[1].data(), "served");
    EXPECT_EQ(m_server.request_count(), 1u);
}

TEST_F(http_client, the_two_argument_factory_makes_a_working_client) {
    m_server.answer("GET", "/z", {200, "z"});
    const auto client = m_loop->create_http_client(m_server.url(), std::chrono::seconds(5));
    std::vector<http::client::handle::ptr> handles;
    for (int i = 0; i < 10; ++i) {
        handles.push_back(client->perform_async_request(http::method::get, "/z", collect()));
    }
    ASSERT_TRUE(run_until([&] { return m_results.size() == 10; }));
    EXPECT_EQ(*client->perform_request(http::method::get, "/z").data(), "z");
}

TEST_F(http_client, fewer_than_one_worker_is_refused) {
    EXPECT_THROW(make_client({}, 0), tvk::libs::core::check_failed_exception);
}

// Requests on several threads at once: each thread keeps to its own connections, and each
// reuses them.
TEST_F(http_client, concurrent_requests_on_workers_and_the_caller) {
    m_server.set_default_answer({200, "ok", milliseconds(2)});
    const int workers = 4;
    const auto client = make_client({}, workers);
    std::vector<http::client::handle::ptr> handles;
    for (int i = 0; i < 40; ++i) {
        handles.push_back(client->perform_async_request(
            http::method::post, "/frame", "{\"n\":" + std::to_string(i) + "}", collect()));
    }
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(client->perform_request(http::method::post, "/frame", "{}").ok());
    }
    ASSERT_TRUE(run_until([&] { return m_results.size() == 40; }));
    for (const auto& r : m_results) {
        EXPECT_TRUE(r.ok());
    }
    EXPECT_EQ(m_server.request_count(), 50u);
    EXPECT_LE(m_server.connection_count(), static_cast<std::size_t>(workers + 1));
}

TEST_F(http_client, destroying_the_client_performs_and_delivers_what_was_queued) {
    m_server.answer("GET", "/slow", {200, "slow", milliseconds(200)});
    m_server.answer("GET", "/queued", {200, "queued"});
    auto client = make_client({}, 1);
    auto slow = client->perform_async_request(http::method::get, "/slow", collect());
    ASSERT_TRUE(m_server.wait_for_requests(1));
    auto queued = client->perform_async_request(http::method::get, "/queued", collect());
    client.reset();
    ASSERT_TRUE(run_until([&] { return m_results.size() == 2; }));
    EXPECT_EQ(*m_results[0].data(), "slow");
    EXPECT_EQ(*m_results[1].data(), "queued");

    // The client is gone: a restart does nothing.
    queued->restart();
    settle(milliseconds(100));
    EXPECT_EQ(m_results.size(), 2u);
}
