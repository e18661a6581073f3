#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support/collected.hpp"

namespace test_support {

// One request as the server received it.
struct http_request {
    std::string method;                          // "GET", "POST", or any custom name
    std::string target;                          // the request target as sent, query included
    std::string path;                            // the target without its query
    std::map<std::string, std::string> headers;  // field names in lower case
    std::string body;

    bool has_header(const std::string& _lower_case_name) const {
        return headers.count(_lower_case_name) > 0;
    }
    // The field's value, or "" when it is absent.
    std::string header(const std::string& _lower_case_name) const;
};

// What the server answers to one request.
struct http_answer {
    int status = 200;
    std::string body;
    // Waited before the answer is written (other connections are served meanwhile).
    std::chrono::milliseconds delay{0};
    std::string content_type = "application/json";
};

// An in-process HTTP/1.1 server on a free 127.0.0.1 port (Boost.Beast, one thread of its own)
// that plays the location server: answers are scripted per method and path, and every request
// is recorded. Connections are kept alive as the client asks.
//
// An answer is chosen for a request, by its method and path (the target without its query):
//   1. the oldest unused answer queued with answer_once for them, used once;
//   2. else the answer of the handler set with answer_with for them;
//   3. else the answer set with answer for them;
//   4. else the default answer (404, empty body, unless set_default_answer changed it).
// The methods are thread-safe; scripts may be changed while requests arrive.
class http_server {
public:
    using handler = std::function<http_answer(const http_request&)>;

    http_server();
    ~http_server();
    http_server(const http_server&) = delete;
    http_server& operator=(const http_server&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>", without a trailing "/".
    std::string url() const;

    void answer(const std::string& _method, const std::string& _path, http_answer _answer);
    void answer_once(const std::string& _method, const std::string& _path, http_answer _answer);
    void answer_with(const std::string& _method, const std::string& _path, handler _handler);
    void set_default_answer(http_answer _answer);

    // Every request received so far, in order of arrival.
    std::vector<http_request> requests() const;
    std::size_t request_count() const;
    // The number of TCP connections accepted so far.
    std::size_t connection_count() const;
    // Waits until at least _count requests have arrived; false at the deadline.
    bool wait_for_requests(std::size_t _count,
                           std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;
    void clear_requests();

private:
    class session;
    using key = std::pair<std::string, std::string>;

    void accept();
    http_answer choose_answer(const http_request& _request);

    boost::asio::io_context m_io_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    int m_port = 0;
    mutable std::mutex m_mutex;  // guards the scripts and the connection count
    std::map<key, std::deque<http_answer>> m_once;
    std::map<key, handler> m_handlers;
    std::map<key, http_answer> m_answers;
    http_answer m_default;
    std::size_t m_connections = 0;
    collected<http_request> m_requests;
    std::thread m_thread;
};

}  // namespace test_support
