#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <boost/optional/optional_io.hpp>

#include "core/exception.hpp"
#include "core/http/method.hpp"
#include "core/http/result.hpp"
#include "http/shared_curl_data.hpp"
#include "http/transfer.hpp"
#include "test_support/free_port.hpp"
#include "test_support/http_server.hpp"

namespace http = tvk::libs::core::http;

TEST(http_method, names_and_unknown_values) {
    EXPECT_STREQ(http::to_string(http::method::get), "GET");
    EXPECT_STREQ(http::to_string(http::method::post), "POST");
    EXPECT_STREQ(http::to_string(http::method::put), "PUT");
    EXPECT_STREQ(http::to_string(http::method::del), "DELETE");
    for (const int value : {4, 5, -1}) {
        try {
            http::to_string(static_cast<http::method>(value));
            ADD_FAILURE() << value;
        } catch (const tvk::libs::core::exception& _e) {
            EXPECT_EQ(_e.get_string_error(), "Unknown enumeration value");
            EXPECT_EQ(_e.get_source_location().short_file(),
                      "/libs/core/include/core/http/method.hpp");
        }
    }
}

TEST(http_result, body_goes_to_data_or_error_by_status) {
    struct row {
        int code;
        bool ok;
    };
    for (const row r : {row{200, true}, row{204, true}, row{299, true}, row{199, false},
                        row{300, false}, row{404, false}, row{500, false}}) {
        const http::result answer("body", r.code);
        EXPECT_EQ(answer.ok(), r.ok) << r.code;
        EXPECT_EQ(answer.status_code(), boost::optional<int>(r.code));
        EXPECT_EQ(static_cast<bool>(answer.data()), r.ok);
        EXPECT_EQ(static_cast<bool>(answer.error()), !r.ok);
        EXPECT_EQ(r.ok ? *answer.data() : *answer.error(), "body");
    }
    const http::result failed(std::string("curl_easy_perform failed:x"));
    EXPECT_FALSE(failed.ok());
    EXPECT_FALSE(failed.status_code());
    EXPECT_FALSE(failed.data());
    EXPECT_EQ(failed.error(), std::string("curl_easy_perform failed:x"));
    EXPECT_EQ(http::result("moved", 201).data().value(), "moved");  // rvalue: by value
}

namespace {

class transfer : public ::testing::Test {
protected:
    http::result perform(http::method _method, const std::string& _address,
                         const std::string& _body = std::string(), bool _disabled = false,
                         const std::string& _base = std::string()) {
        const std::string base = _base.empty() ? m_server.url() : _base;
        const http::transfer_settings settings{base, std::chrono::seconds(5),
                                               m_shares.get().get_ptr()};
        return http::perform_transfer(settings, _method, _address, _body, _disabled);
    }

    test_support::http_server m_server;
    http::thread_curl_shares m_shares;
};

}  // namespace

TEST_F(transfer, sends_exactly_the_request_it_is_given) {
    m_server.answer("POST", "/api/v2/private/user_msg/", {201, "{\"id\":1}"});
    const auto answer = perform(http::method::post, "/api/v2/private/user_msg/", "{\"a\":1}");
    EXPECT_TRUE(answer.ok());
    EXPECT_EQ(answer.status_code(), boost::optional<int>(201));
    EXPECT_EQ(answer.data().value(), "{\"id\":1}");

    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests.front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/api/v2/private/user_msg/");
    EXPECT_EQ(request.header("user-agent"), "quillmere");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.body, "{\"a\":1}");
}

TEST_F(transfer, every_method_goes_out_by_its_name_without_a_body_or_content_type) {
    for (const auto m :
         {http::method::get, http::method::post, http::method::put, http::method::del}) {
        m_server.answer(http::to_string(m), "/x", {200, http::to_string(m)});
        const auto answer = perform(m, "/x");
        ASSERT_TRUE(answer.data());
        EXPECT_EQ(*answer.data(), http::to_string(m));
    }
    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 4u);
    const std::vector<std::string> names = {"GET", "POST", "PUT", "DELETE"};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].method, names[i]);
        EXPECT_FALSE(requests[i].has_header("content-type")) << names[i];
        EXPECT_TRUE(requests[i].body.empty());
        EXPECT_EQ(requests[i].header("user-agent"), "quillmere");
    }
}

TEST_F(transfer, the_url_is_the_plain_concatenation_of_base_and_address) {
    m_server.set_default_answer({200, ""});
    perform(http::method::get, "/api/private/zones/");
    perform(http::method::get, "/api/private/zones/", "", false, m_server.url() + "/");
    perform(http::method::get, "?a=1&b=2", "", false, m_server.url() + "/list");
    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/api/private/zones/");
    EXPECT_EQ(requests[1].target, "//api/private/zones/");
    EXPECT_EQ(requests[2].target, "/list?a=1&b=2");
}

TEST_F(transfer, an_error_status_gives_the_body_as_error) {
    m_server.answer("GET", "/missing", {404, "no such thing"});
    const auto answer = perform(http::method::get, "/missing");
    EXPECT_FALSE(answer.ok());
    EXPECT_EQ(answer.status_code(), boost::optional<int>(404));
    EXPECT_FALSE(answer.data());
    EXPECT_EQ(answer.error(), std::string("no such thing"));
}

TEST_F(transfer, transfer_errors_carry_libcurl_s_text_and_no_code) {
    // Nothing listens on a port that was free a moment ago.
    const std::string closed = "http://127.0.0.1:" + std::to_string(test_support::free_port());
    const auto refused = perform(http::method::get, "/", "", false, closed);
    EXPECT_FALSE(refused.ok());
    EXPECT_FALSE(refused.status_code());
    EXPECT_EQ(refused.error().value_or(""),
              std::string("curl_easy_perform failed:") + curl_easy_strerror(CURLE_COULDNT_CONNECT));

    const auto malformed = perform(http::method::get, "/", "", false, "nosuchscheme://x");
    EXPECT_EQ(malformed.error().value_or(""), std::string("curl_easy_perform failed:") +
                                                  curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL));
}

TEST_F(transfer, the_time_out_ends_a_slow_answer) {
    m_server.answer("GET", "/slow", {200, "late", std::chrono::milliseconds(2500)});
    const std::string base = m_server.url();
    const http::transfer_settings settings{base, std::chrono::seconds(1), m_shares.get().get_ptr()};
    const auto answer = http::perform_transfer(settings, http::method::get, "/slow", "", false);
    EXPECT_EQ(answer.error().value_or(""), std::string("curl_easy_perform failed:") +
                                               curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
}

TEST_F(transfer, a_disabled_method_sends_nothing_and_answers_200_empty) {
    const auto answer = perform(http::method::post, "/api/v2/private/user_msg/", "{\"a\":1}", true);
    EXPECT_TRUE(answer.ok());
    EXPECT_EQ(answer.status_code(), boost::optional<int>(200));
    ASSERT_TRUE(answer.data());
    EXPECT_EQ(*answer.data(), "");
    // Even towards a server that is not there.
    const std::string closed = "http://127.0.0.1:" + std::to_string(test_support::free_port());
    EXPECT_TRUE(perform(http::method::post, "/", "", true, closed).ok());
    EXPECT_EQ(m_server.request_count(), 0u);
    EXPECT_EQ(m_server.connection_count(), 0u);
}

TEST_F(transfer, a_method_without_a_name_raises_before_any_traffic) {
    EXPECT_THROW(perform(http::method::_count, "/"), tvk::libs::core::exception);
    EXPECT_EQ(m_server.connection_count(), 0u);
}

TEST_F(transfer, successive_requests_of_one_thread_reuse_the_connection) {
    m_server.set_default_answer({200, "ok"});
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(
            perform(http::method::post, "/frame", "{\"n\":" + std::to_string(i) + "}").ok());
    }
    EXPECT_EQ(m_server.request_count(), 5u);
    EXPECT_EQ(m_server.connection_count(), 1u);
}

TEST_F(transfer, a_large_body_goes_out_whole) {
    const std::string body = "{\"data\":\"" + std::string(200000, 'x') + "\"}";
    m_server.set_default_answer({200, "ok"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(perform(http::method::put, "/big", body).ok());
    // libcurl asks to go on before a large body; the server says so at once.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    ASSERT_EQ(m_server.request_count(), 1u);
    EXPECT_EQ(m_server.requests().front().body, body);
}

TEST_F(transfer, a_reused_easy_handle_sends_each_request_as_a_new_handle_would) {
    m_server.set_default_answer({200, "ok"});
    CURL* const easy = m_shares.easy_handle();
    EXPECT_EQ(m_shares.easy_handle(), easy);
    const auto send = [&](http::method _method, const std::string& _address,
                          const std::string& _body, const std::string& _base = std::string()) {
        const std::string base = _base.empty() ? m_server.url() : _base;
        const http::transfer_settings settings{base, std::chrono::seconds(5),
                                               m_shares.get().get_ptr()};
        return http::perform_transfer(settings, _method, _address, _body, false, easy);
    };
    // Nothing of a request, a failed one included, may reach the next.
    EXPECT_TRUE(send(http::method::post, "/a", "{\"n\":1}").ok());
    EXPECT_TRUE(send(http::method::get, "/b", "").ok());
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(test_support::free_port());
    EXPECT_FALSE(send(http::method::post, "/c", "{\"n\":2}", unreachable).status_code());
    EXPECT_TRUE(send(http::method::del, "/d", "").ok());
    m_server.answer("PUT", "/e", {404, "missing"});
    EXPECT_EQ(send(http::method::put, "/e", "{\"n\":3}").error(), std::string("missing"));

    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 4u);
    struct row {
        const char* method;
        const char* path;
        const char* body;
    };
    const row expected[] = {{"POST", "/a", "{\"n\":1}"},
                            {"GET", "/b", ""},
                            {"DELETE", "/d", ""},
                            {"PUT", "/e", "{\"n\":3}"}};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].method, expected[i].method) << i;
        EXPECT_EQ(requests[i].path, expected[i].path) << i;
        EXPECT_EQ(requests[i].body, expected[i].body) << i;
        EXPECT_EQ(requests[i].has_header("content-type"), *expected[i].body != '\0') << i;
        EXPECT_EQ(requests[i].header("user-agent"), "quillmere") << i;
    }
    EXPECT_EQ(m_server.connection_count(), 1u);
}
