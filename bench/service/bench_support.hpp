#pragma once

// Shared pieces of the service benchmarks: the service binary run against a location site, a
// stream publisher that never drops a frame, a recorder of the posted frames, the bare clients
// that measure the floors, and the report.

#include <curl/curl.h>
#include <hiredis/hiredis.h>
#include <json/json.h>
#include <sys/types.h>

#include <atomic>
#include <boost/optional.hpp>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <zmq.hpp>

#include "test_support/debug_socket_collector.hpp"
#include "test_support/http_server.hpp"
#include "test_support/location_site.hpp"
#include "test_support/process.hpp"
#include "test_support/service_process.hpp"

namespace bench {

using clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// What the command line chose.
struct options {
    std::string binary;     // the service binary
    int repetitions = 5;    // measured runs; the report gives their median
    std::size_t count = 0;  // the benchmark's size; 0 keeps its default
};

double seconds_between(clock::time_point _from, clock::time_point _to);
// The median of the values (the mean of the middle two for an even count); 0 when empty.
double median(std::vector<double> _values);
std::string fixed(double _value, int _digits);
// "median (min..max)" of the values with _digits decimals.
std::string spread(const std::vector<double>& _values, int _digits);

// The processor, the number of cores and the load average, for the report.
std::string machine_note();

// Thrown when a run cannot be measured (a deadline passed, a count is wrong).
struct failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The service's message stream: an XPUB on a free loopback port with no high-water mark, so
// that a slow subscriber slows the queue down instead of losing frames. A thread of its own
// sends the queued frames and notes when each subscription arrives. A frame goes only to the
// subscribers present when it is sent: publish once the service has subscribed.
class stream_publisher {
public:
    stream_publisher();
    ~stream_publisher();
    stream_publisher(const stream_publisher&) = delete;
    stream_publisher& operator=(const stream_publisher&) = delete;

    const std::string& endpoint() const { return m_endpoint; }

    // Queues "#<topic> <text>".
    void publish(const std::string& _topic, const std::string& _text);
    void publish(const std::string& _topic, const Json::Value& _message);
    // Queues every frame at once: one lock, one wake-up of the thread.
    void publish_all(std::vector<std::string> _frames);

    // Forgets the subscriptions seen, before a new service starts.
    void forget_subscriptions();
    // When the raw subscription _topic (such as "#user_msg") arrived since the last
    // forget_subscriptions; waits for it up to _timeout.
    boost::optional<clock::time_point> wait_for_subscription(const std::string& _topic,
                                                             std::chrono::milliseconds _timeout);

private:
    void serve();

    zmq::context_t m_context{1};
    zmq::socket_t m_socket;
    std::string m_endpoint;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, clock::time_point> m_subscriptions;
    std::deque<std::string> m_queue;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The frames posted to the server's user_msg path, each with its arrival time, answered with
// 200 "{}" as the site does.
class post_recorder {
public:
    explicit post_recorder(test_support::http_server& _server);

    std::size_t count() const;
    // The arrival time of post number _count (from 1), once it has arrived; none at the deadline.
    boost::optional<clock::time_point> wait_for(std::size_t _count,
                                                std::chrono::milliseconds _timeout) const;
    // The bodies of the posts numbered _from (from 0) up to, not including, _to.
    std::vector<std::string> bodies(std::size_t _from, std::size_t _to) const;

private:
    struct state {
        mutable std::mutex mutex;
        mutable std::condition_variable changed;
        std::vector<clock::time_point> times;
        std::vector<std::string> bodies;
    };
    std::shared_ptr<state> m_state = std::make_shared<state>();
};

// The arrival time of every GET of one path (the REST lists), answered with a fixed body.
class list_server {
public:
    list_server(test_support::http_server& _server, const std::string& _path, std::string _body);
    // The arrival time of the latest GET, waiting up to _timeout for one after _after.
    boost::optional<clock::time_point> wait_for_get_after(clock::time_point _after,
                                                          std::chrono::milliseconds _timeout) const;

private:
    struct state {
        mutable std::mutex mutex;
        mutable std::condition_variable changed;
        std::vector<clock::time_point> times;
    };
    std::shared_ptr<state> m_state = std::make_shared<state>();
};

// The body the location server sends for a list: {"<key>": <list>}, compact.
std::string list_body(const std::string& _key, const Json::Value& _list);

// Resident memory of a process, in KiB, from /proc.
struct memory_use {
    long rss_kib = 0;   // now
    long peak_kib = 0;  // the high-water mark
};
memory_use read_memory(pid_t _pid);

// The service binary on a site, with its debug log collected. The stream comes from
// _publisher instead of the site's own publisher.
class service_instance {
public:
    service_instance(const options& _options, test_support::location_site& _site,
                     stream_publisher& _publisher, const std::vector<std::string>& _zone_types);
    ~service_instance();

    // Waits until the dispatcher has started and the stream's three topics are subscribed.
    void wait_until_running(std::chrono::milliseconds _timeout);
    pid_t pid() const { return m_process->pid(); }
    clock::time_point started() const { return m_started; }
    const test_support::debug_socket_collector& log() const { return m_log; }

private:
    stream_publisher& m_publisher;
    test_support::debug_socket_collector m_log;
    test_support::temporary_directory m_directory;
    clock::time_point m_started;
    std::unique_ptr<test_support::service_process> m_process;
};

// A blocking hiredis connection for the floors and for filling Redis.
class bare_redis {
public:
    bare_redis(const std::string& _host, int _port);
    ~bare_redis();
    bare_redis(const bare_redis&) = delete;
    bare_redis& operator=(const bare_redis&) = delete;

    // One command, one round trip; raises failure for an error reply or a broken connection.
    // The reply is freed at once, except that the caller may read it through _read.
    void command(const std::vector<std::string>& _words,
                 const std::function<void(const redisReply&)>& _read = nullptr);
    // Many commands written before their replies are read, _batch at a time.
    void pipeline(const std::vector<std::vector<std::string>>& _commands, std::size_t _batch);

private:
    redisContext* m_context = nullptr;
};

// A libcurl easy handle reused for every request, as bare as a client gets.
class bare_http {
public:
    bare_http();
    ~bare_http();
    bare_http(const bare_http&) = delete;
    bare_http& operator=(const bare_http&) = delete;

    // POSTs _body as JSON to _url; raises failure unless the answer is 2xx.
    void post(const std::string& _url, const std::string& _body);
    // GETs _url; returns the body; raises failure unless the answer is 2xx.
    std::string get(const std::string& _url);

private:
    void perform(const std::string& _url);

    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    std::string m_answer;
};

// Frames from a device.
std::string registration_frame(unsigned int _seq_no);
std::string refusal_frame(unsigned int _seq_no, unsigned int _error_code);
// The body the service posts for a frame.
std::string frame_body(const std::string& _uid, const std::string& _hex);

// The benchmarks.
int zone_events_benchmark(const options& _options);
int startup_benchmark(const options& _options);
int clear_benchmark(const options& _options);
int reboot_benchmark(const options& _options);
// Writing the whole state again after Redis restarted empty: the Redis mirror in process.
int rewrite_benchmark(const options& _options);

}  // namespace bench
