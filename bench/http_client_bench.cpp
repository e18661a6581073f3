// Blocking POSTs per second through the HTTP client, against a bare libcurl loop that reuses
// one easy handle, both towards the same in-process server.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <string>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/http/client.hpp"
#include "core/logger.hpp"
#include "test_support/http_server.hpp"

namespace {

// A frame post of the usual size.
const std::string body =
    "{\"tag_id\":77310,\"data\":\"A5010C0100000000000000004F6B\",\"attempt\":1,\"sent\":"
    "\"2024-05-06T07:08:09.123Z\"}";
const std::string path = "/api/v2/private/user_msg/";

void blocking_posts_through_client(benchmark::State& _state) {
    test_support::http_server server;
    server.answer("POST", path, {200, "{}"});
    tvk::libs::core::logger root("quillmere", "bench");
    const auto core = tvk::libs::core::core::create(root);
    const auto loop = core->create_events_loop("main loop");
    const auto client = loop->create_http_client(server.url(), std::chrono::seconds(5), {}, 1);
    for (auto _ : _state) {
        const auto answer =
            client->perform_request(tvk::libs::core::http::method::post, path, body);
        if (!answer.ok()) {
            _state.SkipWithError("request failed");
            break;
        }
    }
    _state.SetItemsProcessed(_state.iterations());
}

std::size_t discard(char*, std::size_t _size, std::size_t _count, void*) {
    return _size * _count;
}

void blocking_posts_bare_libcurl(benchmark::State& _state) {
    test_support::http_server server;
    server.answer("POST", path, {200, "{}"});
    CURL* const easy = curl_easy_init();
    curl_slist* const headers = curl_slist_append(nullptr, "content-type: application/json");
    const std::string url = server.url() + path;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    for (auto _ : _state) {
        if (curl_easy_perform(easy) != CURLE_OK) {
            _state.SkipWithError("request failed");
            break;
        }
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
    _state.SetItemsProcessed(_state.iterations());
}

}  // namespace

BENCHMARK(blocking_posts_through_client)->UseRealTime();
BENCHMARK(blocking_posts_bare_libcurl)->UseRealTime();
