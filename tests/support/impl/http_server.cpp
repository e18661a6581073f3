#include "test_support/http_server.hpp"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/optional.hpp>
#include <cctype>

namespace test_support {

namespace beast = boost::beast;
namespace http = boost::beast::http;
using boost::asio::ip::tcp;

std::string http_request::header(const std::string& _lower_case_name) const {
    const auto found = headers.find(_lower_case_name);
    return found == headers.end() ? std::string() : found->second;
}

// One connection: reads requests one after another and answers each.
class http_server::session : public std::enable_shared_from_this<session> {
public:
    session(http_server& _server, tcp::socket _socket)
        : m_server(_server), m_stream(std::move(_socket)), m_timer(m_server.m_io_context) {}

    void read() {
        m_parser.emplace();
        m_parser->body_limit(64 * 1024 * 1024);
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self = shared_from_this()](beast::error_code _ec, std::size_t) {
                                    if (!_ec) {
                                        self->read_body();
                                    }
                                });
    }

private:
    // A client that asked to be told to go on with its body is told so at once.
    void read_body() {
        if (beast::iequals(m_parser->get()[http::field::expect], "100-continue")) {
            m_continue = {};
            m_continue.version(11);
            m_continue.result(http::status::continue_);
            http::async_write(m_stream, m_continue,
                              [self = shared_from_this()](beast::error_code _ec, std::size_t) {
                                  if (!_ec) {
                                      self->read_rest();
                                  }
                              });
            return;
        }
        read_rest();
    }

    void read_rest() {
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](beast::error_code _ec, std::size_t) {
                             if (!_ec) {
                                 self->answer();
                             }
                         });
    }

    void answer() {
        const auto& request = m_parser->get();
        http_request record;
        record.method = std::string(request.method_string());
        record.target = std::string(request.target());
        record.path = record.target.substr(0, record.target.find('?'));
        for (const auto& field : request) {
            std::string name(field.name_string());
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char _c) { return static_cast<char>(std::tolower(_c)); });
            record.headers[name] = std::string(field.value());
        }
        record.body = request.body();
        const http_answer chosen = m_server.choose_answer(record);
        m_server.m_requests.add(std::move(record));

        m_response = {};
        m_response.version(request.version());
        m_response.result(static_cast<unsigned>(chosen.status));
        m_response.set(http::field::server, "test_support::http_server");
        m_response.set(http::field::content_type, chosen.content_type);
        m_response.body() = chosen.body;
        m_response.keep_alive(request.keep_alive());
        m_response.prepare_payload();

        m_timer.expires_after(chosen.delay);
        m_timer.async_wait([self = shared_from_this()](beast::error_code _ec) {
            if (!_ec) {
                self->write();
            }
        });
    }

    void write() {
        http::async_write(
            m_stream, m_response, [self = shared_from_this()](beast::error_code _ec, std::size_t) {
                if (_ec) {
                    return;
                }
                if (self->m_response.keep_alive()) {
                    self->read();
                } else {
                    beast::error_code ignored;
                    self->m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
                }
            });
    }

    http_server& m_server;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    boost::optional<http::request_parser<http::string_body>> m_parser;
    http::response<http::empty_body> m_continue;
    http::response<http::string_body> m_response;
    boost::asio::steady_timer m_timer;
};

http_server::http_server() : m_acceptor(m_io_context) {
    m_default.status = 404;
    const tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), 0);
    m_acceptor.open(endpoint.protocol());
    m_acceptor.set_option(tcp::acceptor::reuse_address(true));
    m_acceptor.bind(endpoint);
    m_acceptor.listen();
    m_port = m_acceptor.local_endpoint().port();
    accept();
    m_thread = std::thread([this] { m_io_context.run(); });
}

http_server::~http_server() {
    m_io_context.stop();
    m_thread.join();
    // The pending handlers, and with them the sessions, go with the io_context.
}

std::string http_server::url() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void http_server::accept() {
    m_acceptor.async_accept([this](beast::error_code _ec, tcp::socket _socket) {
        if (_ec) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_connections;
        }
        std::make_shared<session>(*this, std::move(_socket))->read();
        accept();
    });
}

http_answer http_server::choose_answer(const http_request& _request) {
    const key k(_request.method, _request.path);
    handler chosen_handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto once = m_once.find(k);
        if (once != m_once.end() && !once->second.empty()) {
            http_answer result = std::move(once->second.front());
            once->second.pop_front();
            return result;
        }
        const auto found_handler = m_handlers.find(k);
        if (found_handler != m_handlers.end()) {
            chosen_handler = found_handler->second;
        } else {
            const auto found = m_answers.find(k);
            return found != m_answers.end() ? found->second : m_default;
        }
    }
    // Outside the lock, so the handler may use the server's methods.
    return chosen_handler(_request);
}

void http_server::answer(const std::string& _method, const std::string& _path,
                         http_answer _answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers[key(_method, _path)] = std::move(_answer);
}

void http_server::answer_once(const std::string& _method, const std::string& _path,
                              http_answer _answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_once[key(_method, _path)].push_back(std::move(_answer));
}

void http_server::answer_with(const std::string& _method, const std::string& _path,
                              handler _handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handlers[key(_method, _path)] = std::move(_handler);
}

void http_server::set_default_answer(http_answer _answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_default = std::move(_answer);
}

std::vector<http_request> http_server::requests() const {
    return m_requests.items();
}

std::size_t http_server::request_count() const {
    return m_requests.size();
}

std::size_t http_server::connection_count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections;
}

bool http_server::wait_for_requests(std::size_t _count, std::chrono::milliseconds _timeout) const {
    return m_requests.wait_for(
        [_count](const std::vector<http_request>& _requests) { return _requests.size() >= _count; },
        _timeout);
}

void http_server::clear_requests() {
    m_requests.clear();
}

}  // namespace test_support
