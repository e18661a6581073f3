#include "bench_support.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/json.hpp"

namespace bench {

double seconds_between(clock::time_point _from, clock::time_point _to) {
    return std::chrono::duration<double>(_to - _from).count();
}

double median(std::vector<double> _values) {
    if (_values.empty()) {
        return 0;
    }
    std::sort(_values.begin(), _values.end());
    const std::size_t middle = _values.size() / 2;
    return _values.size() % 2 == 1 ? _values[middle] : (_values[middle - 1] + _values[middle]) / 2;
}

std::string fixed(double _value, int _digits) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", _digits, _value);
    return text;
}

std::string spread(const std::vector<double>& _values, int _digits) {
    if (_values.empty()) {
        return "-";
    }
    const auto range = std::minmax_element(_values.begin(), _values.end());
    return fixed(median(_values), _digits) + " (" + fixed(*range.first, _digits) + ".." +
           fixed(*range.second, _digits) + ")";
}

std::string machine_note() {
    std::string model = "unknown processor";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.compare(0, 10, "model name") == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    std::string load;
    std::ifstream loadavg("/proc/loadavg");
    std::getline(loadavg, load);
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) +
           " cores, load average " + load.substr(0, load.find(' ', load.find(' ') + 1));
}

// stream_publisher

stream_publisher::stream_publisher() : m_socket(m_context, zmq::socket_type::xpub) {
    m_socket.set(zmq::sockopt::sndhwm, 0);
    m_socket.set(zmq::sockopt::linger, 0);
    // Every subscription is reported, also one that a previous subscriber had made.
    m_socket.set(zmq::sockopt::xpub_verbose, 1);
    m_socket.bind("tcp://127.0.0.1:*");
    m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
    m_thread = std::thread([this] { serve(); });
}

stream_publisher::~stream_publisher() {
    m_stop = true;
    m_thread.join();
}

void stream_publisher::publish(const std::string& _topic, const std::string& _text) {
    publish_all({"#" + _topic + " " + _text});
}

void stream_publisher::publish(const std::string& _topic, const Json::Value& _message) {
    publish(_topic, tvk::libs::core::json::to_string(_message));
}

void stream_publisher::publish_all(std::vector<std::string> _frames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& frame : _frames) {
        m_queue.push_back(std::move(frame));
    }
}

void stream_publisher::forget_subscriptions() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscriptions.clear();
}

boost::optional<clock::time_point> stream_publisher::wait_for_subscription(
    const std::string& _topic, std::chrono::milliseconds _timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, _timeout, [&] { return m_subscriptions.count(_topic) > 0; })) {
        return boost::none;
    }
    return m_subscriptions[_topic];
}

void stream_publisher::serve() {
    zmq::pollitem_t item{static_cast<void*>(m_socket), 0, ZMQ_POLLIN, 0};
    while (!m_stop) {
        zmq::poll(&item, 1, std::chrono::milliseconds(1));
        const auto now = clock::now();
        std::deque<std::string> frames;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            zmq::message_t notice;
            while (m_socket.recv(notice, zmq::recv_flags::dontwait)) {
                const auto* bytes = static_cast<const char*>(notice.data());
                if (notice.size() > 0 && bytes[0] == 1) {
                    m_subscriptions.emplace(std::string(bytes + 1, notice.size() - 1), now);
                }
            }
            frames.swap(m_queue);
        }
        m_changed.notify_all();
        for (const auto& frame : frames) {
            m_socket.send(zmq::buffer(frame), zmq::send_flags::none);
        }
    }
}

// post_recorder

post_recorder::post_recorder(test_support::http_server& _server) {
    const std::shared_ptr<state> shared = m_state;
    _server.answer_with("POST", test_support::location_site::user_msg_path,
                        [shared](const test_support::http_request& _request) {
                            const auto now = clock::now();
                            {
                                std::lock_guard<std::mutex> lock(shared->mutex);
                                shared->times.push_back(now);
                                shared->bodies.push_back(_request.body);
                            }
                            shared->changed.notify_all();
                            return test_support::http_answer{200, "{}"};
                        });
}

std::size_t post_recorder::count() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->times.size();
}

boost::optional<clock::time_point> post_recorder::wait_for(
    std::size_t _count, std::chrono::milliseconds _timeout) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    if (_count == 0 || !m_state->changed.wait_for(
                           lock, _timeout, [&] { return m_state->times.size() >= _count; })) {
        return boost::none;
    }
    return m_state->times[_count - 1];
}

std::vector<std::string> post_recorder::bodies(std::size_t _from, std::size_t _to) const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    _to = std::min(_to, m_state->bodies.size());
    if (_from >= _to) {
        return {};
    }
    return std::vector<std::string>(m_state->bodies.begin() + static_cast<long>(_from),
                                    m_state->bodies.begin() + static_cast<long>(_to));
}

// list_server

list_server::list_server(test_support::http_server& _server, const std::string& _path,
                         std::string _body) {
    const std::shared_ptr<state> shared = m_state;
    // One copy of the body, shared by every answer: only the answer itself is copied.
    const auto body = std::make_shared<const std::string>(std::move(_body));
    _server.answer_with("GET", _path, [shared, body](const test_support::http_request&) {
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->times.push_back(clock::now());
        }
        shared->changed.notify_all();
        return test_support::http_answer{200, *body};
    });
}

boost::optional<clock::time_point> list_server::wait_for_get_after(
    clock::time_point _after, std::chrono::milliseconds _timeout) const {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    if (!m_state->changed.wait_for(lock, _timeout, [&] {
            return !m_state->times.empty() && m_state->times.back() > _after;
        })) {
        return boost::none;
    }
    return m_state->times.back();
}

std::string list_body(const std::string& _key, const Json::Value& _list) {
    Json::Value answer(Json::objectValue);
    answer[_key] = _list;
    return tvk::libs::core::json::to_string(answer);
}

memory_use read_memory(pid_t _pid) {
    memory_use use;
    std::ifstream status("/proc/" + std::to_string(_pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            use.rss_kib = std::stol(line.substr(6));
        } else if (line.compare(0, 6, "VmHWM:") == 0) {
            use.peak_kib = std::stol(line.substr(6));
        }
    }
    return use;
}

// service_instance

service_instance::service_instance(const options& _options, test_support::location_site& _site,
                                   stream_publisher& _publisher,
                                   const std::vector<std::string>& _zone_types)
    : m_publisher(_publisher) {
    Json::Value config =
        test_support::service_config(_site, m_directory, m_log.endpoint(), _zone_types);
    config["proxy"]["output_port"] = _publisher.endpoint();
    m_publisher.forget_subscriptions();
    m_started = clock::now();
    m_process =
        std::make_unique<test_support::service_process>(_options.binary, m_directory, config);
}

service_instance::~service_instance() {
    m_process->stop();
}

void service_instance::wait_until_running(std::chrono::milliseconds _timeout) {
    const auto deadline = clock::now() + _timeout;
    const auto left = [&] {
        return std::max(
            std::chrono::milliseconds(0),
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()));
    };
    for (const char* topic : {"#zone_event", "#notify", "#user_msg"}) {
        if (!m_publisher.wait_for_subscription(topic, left())) {
            throw failure(std::string("the service did not subscribe ") + topic);
        }
    }
    if (!m_log.wait_for_line_containing(": called", left())) {
        throw failure("the service's dispatcher did not start");
    }
}

// bare_redis

bare_redis::bare_redis(const std::string& _host, int _port) {
    m_context = redisConnect(_host.c_str(), _port);
    if (m_context == nullptr || m_context->err != 0) {
        throw failure("cannot connect to Redis");
    }
}

bare_redis::~bare_redis() {
    redisFree(m_context);
}

namespace {
struct argv {
    std::vector<const char*> texts;
    std::vector<std::size_t> lengths;
    explicit argv(const std::vector<std::string>& _words) {
        for (const auto& word : _words) {
            texts.push_back(word.data());
            lengths.push_back(word.size());
        }
    }
};

void check_reply(redisContext* _context, redisReply* _reply) {
    if (_reply == nullptr) {
        throw failure(std::string("Redis: ") + _context->errstr);
    }
    if (_reply->type == REDIS_REPLY_ERROR) {
        const std::string text(_reply->str, _reply->len);
        freeReplyObject(_reply);
        throw failure("Redis: " + text);
    }
}
}  // namespace

void bare_redis::command(const std::vector<std::string>& _words,
                         const std::function<void(const redisReply&)>& _read) {
    argv args(_words);
    auto* reply = static_cast<redisReply*>(redisCommandArgv(
        m_context, static_cast<int>(args.texts.size()), args.texts.data(), args.lengths.data()));
    check_reply(m_context, reply);
    if (_read) {
        _read(*reply);
    }
    freeReplyObject(reply);
}

void bare_redis::pipeline(const std::vector<std::vector<std::string>>& _commands,
                          std::size_t _batch) {
    for (std::size_t begin = 0; begin < _commands.size(); begin += _batch) {
        const std::size_t end = std::min(_commands.size(), begin + _batch);
        for (std::size_t i = begin; i < end; ++i) {
            argv args(_commands[i]);
            redisAppendCommandArgv(m_context, static_cast<int>(args.texts.size()),
                                   args.texts.data(), args.lengths.data());
        }
        for (std::size_t i = begin; i < end; ++i) {
            void* reply = nullptr;
            if (redisGetReply(m_context, &reply) != REDIS_OK) {
                throw failure(std::string("Redis: ") + m_context->errstr);
            }
            check_reply(m_context, static_cast<redisReply*>(reply));
            freeReplyObject(reply);
        }
    }
}

// bare_http

namespace {
std::size_t keep_answer(char* _data, std::size_t _size, std::size_t _count, void* _answer) {
    static_cast<std::string*>(_answer)->append(_data, _size * _count);
    return _size * _count;
}
}  // namespace

bare_http::bare_http() : m_easy(curl_easy_init()) {
    if (m_easy == nullptr) {
        throw failure("no libcurl easy handle");
    }
    m_headers = curl_slist_append(nullptr, "content-type: application/json");
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &keep_answer);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, &m_answer);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
}

bare_http::~bare_http() {
    curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
}

void bare_http::perform(const std::string& _url) {
    m_answer.clear();
    curl_easy_setopt(m_easy, CURLOPT_URL, _url.c_str());
    const CURLcode error = curl_easy_perform(m_easy);
    long code = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &code);
    if (error != CURLE_OK || code < 200 || code > 299) {
        throw failure("request to " + _url + " failed: " + curl_easy_strerror(error) + ", " +
                      std::to_string(code));
    }
}

void bare_http::post(const std::string& _url, const std::string& _body) {
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(_body.size()));
    curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, _body.data());
    perform(_url);
}

std::string bare_http::get(const std::string& _url) {
    curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
    perform(_url);
    return m_answer;
}

// Frames

std::string registration_frame(unsigned int _seq_no) {
    char text[16];
    std::snprintf(text, sizeof(text), "04050001%02X", _seq_no & 0xFFu);
    return text;
}

std::string refusal_frame(unsigned int _seq_no, unsigned int _error_code) {
    char text[16];
    std::snprintf(text, sizeof(text), "04FF0002%02X%02X", _seq_no & 0xFFu, _error_code & 0xFFu);
    return text;
}

std::string frame_body(const std::string& _uid, const std::string& _hex) {
    Json::Value body(Json::objectValue);
    body["uid"] = _uid;
    body["data"]["hex"] = _hex;
    return tvk::libs::core::json::to_string(body);
}

}  // namespace bench
