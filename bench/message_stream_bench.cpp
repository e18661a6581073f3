// Frames per second through the JSON message stream to one callback, against a bare libzmq
// receive loop on the same kind of SUB socket, fed by the same publisher.
#include <benchmark/benchmark.h>
#include <zmq.h>

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <zmq.hpp>

#include "core/logger.hpp"
#include "message_stream_zmq.hpp"

namespace {

constexpr int frames_per_batch = 20000;

// A zone event of the usual size.
const std::string frame =
    "#zone_event{\"event\":\"enter\",\"zone_id\":1042,\"zone_type\":\"room\",\"trackable_id\":"
    "77310,\"trackable_name\":\"tag-77310\",\"node_mac\":\"0x12a4b7c9d1e2\",\"timestamp\":"
    "\"2024-05-06T07:08:09.123Z\",\"sublocation_id\":3}";

// An XPUB on loopback whose thread sends one batch of frames each time it is asked, after a
// subscription has arrived.
class publisher {
public:
    publisher() : m_socket(m_context, zmq::socket_type::xpub) {
        m_socket.set(zmq::sockopt::sndhwm, 0);  // a slow receiver slows the sender, nothing drops
        m_socket.set(zmq::sockopt::linger, 0);
        m_socket.bind("tcp://127.0.0.1:*");
        m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
        m_thread = std::thread([this] { run(); });
    }
    ~publisher() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    const std::string& endpoint() const { return m_endpoint; }

    void send_batch() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_batches;
        m_changed.notify_all();
    }

private:
    void run() {
        zmq::message_t subscription;
        (void)m_socket.recv(subscription);  // the receiver has joined
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return m_stop || m_batches > 0; });
                if (m_stop) {
                    return;
                }
                --m_batches;
            }
            for (int i = 0; i < frames_per_batch; ++i) {
                m_socket.send(zmq::buffer(frame), zmq::send_flags::none);
            }
        }
    }

    zmq::context_t m_context{1};
    zmq::socket_t m_socket;
    std::string m_endpoint;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_batches = 0;
    bool m_stop = false;
    std::thread m_thread;
};

void json_stream_to_one_callback(benchmark::State& _state) {
    tvk::libs::core::logger root("quillmere", "bench");
    const auto core = root.component("core");
    publisher source;
    boost::asio::io_context io;
    tvk::libs::core::message_stream_zmq stream(io, *core, source.endpoint());
    int received = 0;
    std::size_t bytes = 0;
    auto subscription = stream.subscribe("zone_event", [&](boost::string_view _json) {
        bytes += _json.size();
        if (++received == frames_per_batch) {
            io.stop();
        }
    });
    for (auto _ : _state) {
        received = 0;
        source.send_batch();
        io.restart();
        io.run();
    }
    benchmark::DoNotOptimize(bytes);
    _state.SetItemsProcessed(_state.iterations() * frames_per_batch);
}

void bare_libzmq_receive_loop(benchmark::State& _state) {
    publisher source;
    zmq::context_t context(1);
    zmq::socket_t socket(context, zmq::socket_type::sub);
    socket.set(zmq::sockopt::linger, 0);
    socket.connect(source.endpoint());
    socket.set(zmq::sockopt::subscribe, "#zone_event");
    std::size_t bytes = 0;
    zmq_msg_t message;
    zmq_msg_init(&message);
    for (auto _ : _state) {
        source.send_batch();
        for (int i = 0; i < frames_per_batch; ++i) {
            zmq_msg_recv(&message, socket.handle(), 0);
            bytes += zmq_msg_size(&message);
        }
    }
    zmq_msg_close(&message);
    benchmark::DoNotOptimize(bytes);
    _state.SetItemsProcessed(_state.iterations() * frames_per_batch);
}

}  // namespace

BENCHMARK(json_stream_to_one_callback)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(bare_libzmq_receive_loop)->Unit(benchmark::kMillisecond)->UseRealTime();
