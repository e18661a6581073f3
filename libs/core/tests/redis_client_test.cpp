#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <boost/optional.hpp>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/events_loop.hpp"
#include "core/exception.hpp"
#include "core/redis/context.hpp"
#include "core/scope_guard.hpp"
#include "loop_fixture.hpp"
#include "redis/sync_context.hpp"
#include "test_support/free_port.hpp"
#include "test_support/process.hpp"
#include "test_support/redis_server.hpp"

namespace redis = tvk::libs::core::redis;
using namespace std::chrono_literals;
using redis::reply;
using redis::reply_type;
using tvk::libs::core::iteration_result;

namespace {

using creation = boost::optional<redis::context::ptr>;
using creation_handle = tvk::libs::core::async_operation_handle<creation>::ptr;
using reply_handle = tvk::libs::core::async_operation_handle<reply>::ptr;

// The message of the tvk::libs::core::exception that _f raises; empty when it raises none.
template <class F>
std::string raised(F&& _f) {
    try {
        _f();
    } catch (const tvk::libs::core::exception& _e) {
        return _e.get_string_error();
    }
    return std::string();
}

// Freezes a redis-server for the life of the object. A watchdog thread thaws it after _limit,
// so that a client that would wait for the frozen server for good is let go, and fails its
// test, instead of hanging it.
class frozen_server {
public:
    frozen_server(test_support::redis_server& _server, std::chrono::milliseconds _limit)
        : m_server(_server) {
        m_server.pause();
        m_watchdog = std::thread([this, _limit] {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_released.wait_for(lock, _limit, [this] { return m_done; });
            m_server.resume();
        });
    }
    ~frozen_server() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_released.notify_one();
        m_watchdog.join();
    }
    frozen_server(const frozen_server&) = delete;
    frozen_server& operator=(const frozen_server&) = delete;

private:
    test_support::redis_server& m_server;
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_done = false;
    std::thread m_watchdog;
};

volatile std::sig_atomic_t sigpipes = 0;

extern "C" void count_sigpipe(int) {
    sigpipes = sigpipes + 1;
}

bool thread_blocks_sigpipe() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, SIGPIPE) == 1;
}

bool sigpipe_is_pending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

// A loop of the shared fixture and a redis-server of this test's own. The members below go
// before the fixture's loop, the contexts among them.
class redis_client : public loop_test::loop_fixture {
protected:
    // Starts a creation whose results collect in m_creations.
    creation_handle start_creation(int _db = 0, int _port = 0) {
        auto handle =
            m_loop->create_redis_context(m_server.address(), _port ? _port : m_server.port(), _db);
        handle->set_callback(
            [this](creation _result) { m_creations.push_back(std::move(_result)); });
        return handle;
    }

    // The result of one creation.
    creation create(int _db = 0, int _port = 0) {
        const std::size_t before = m_creations.size();
        const auto handle = start_creation(_db, _port);
        if (!run_until([&] { return m_creations.size() > before; }, 10s)) {
            ADD_FAILURE() << "no creation result";
            return boost::none;
        }
        return std::move(m_creations.back());
    }

    // Connects m_context to database _db.
    void connect(int _db = 0) {
        auto made = create(_db);
        ASSERT_TRUE(made && *made);
        m_context = std::move(*made);
    }

    // Sends _command asynchronously and waits for its reply.
    reply await(redis::command& _command) {
        boost::optional<reply> received;
        const reply_handle handle = _command.execute_async();
        handle->set_callback([&](reply _reply) { received = std::move(_reply); });
        EXPECT_TRUE(run_until([&] { return received.has_value(); }));
        return received ? std::move(*received) : reply(nil());
    }

    static redisReply* nil() {
        auto* made = static_cast<redisReply*>(std::calloc(1, sizeof(redisReply)));
        made->type = REDIS_REPLY_NIL;
        return made;
    }

    // Whether the loop has nothing left to wait for: no readiness wait on a socket.
    bool loop_is_idle() {
        auto& io = m_loop->get_io_context();
        io.restart();
        io.run_for(1s);
        return io.stopped();
    }

    // The connections that the server has taken so far, the one that asks included.
    long long connections_received() {
        const std::string info = m_server.command({"INFO", "stats"});
        const std::string field = "total_connections_received:";
        const auto at = info.find(field);
        return at == std::string::npos ? -1 : std::stoll(info.substr(at + field.size()));
    }

    test_support::redis_server m_server;
    std::vector<creation> m_creations;
    redis::context::ptr m_context;
};

}  // namespace

TEST_F(redis_client, both_connections_use_the_selected_database) {
    connect(3);
    EXPECT_EQ(m_context->set("k", "v")->execute().to_string(), "OK");
    EXPECT_EQ(await(*m_context->get("k")).to_string(), "v");
    EXPECT_EQ(m_server.command({"EXISTS", "k"}), ":0\r\n");
    EXPECT_EQ(await(*m_context->set("a", "1")).to_string(), "OK");
    EXPECT_EQ(m_context->get("a")->execute().to_string(), "1");
}

TEST_F(redis_client, without_a_server_the_creation_delivers_an_empty_result_once) {
    const int unused = test_support::free_port();
    EXPECT_FALSE(create(0, unused));
    settle(200ms);
    EXPECT_EQ(m_creations.size(), 1u);
    EXPECT_TRUE(loop_is_idle());
}

TEST_F(redis_client, an_address_hiredis_refuses_raises_at_once) {
    const std::string message = raised([&] { m_loop->create_redis_context("256.1.1.1", 6379, 0); });
    EXPECT_EQ(message.rfind("Cannot open connection to the redis server: ", 0), 0u) << message;
}

// The resolver would take the port modulo 65536 and reach this server all the same.
TEST_F(redis_client, a_port_outside_the_range_is_refused_and_reaches_no_server) {
    const auto core_logger = m_logger.component("core");
    const long long before = connections_received();
    std::vector<creation_handle> started;
    for (const int port :
         {m_server.port() + 65536, m_server.port() - 65536, m_server.port() + 2 * 65536}) {
        SCOPED_TRACE(port);
        const std::string outside = "port " + std::to_string(port) + " is outside 0..65535";
        EXPECT_EQ(raised([&] { started.push_back(start_creation(0, port)); }),
                  "Cannot open connection to the redis server: " + outside);
        EXPECT_EQ(raised([&] {
                      redis::sync_context(*m_loop, *core_logger, m_server.address(), port, 0);
                  }),
                  "Connection error: " + outside);
    }
    settle(200ms);
    EXPECT_TRUE(m_creations.empty());
    EXPECT_EQ(connections_received(), before + 1);
}

TEST_F(redis_client, a_missing_database_is_logged_and_delivers_an_empty_result) {
    EXPECT_FALSE(create(99));
    EXPECT_TRUE(m_collector.wait_for_line_containing("/libs/core/impl/redis/sync_context.cpp:"));
    EXPECT_TRUE(m_collector.wait_for_line_containing(
        "Command: SELECT, error: ERR DB index is out of range"));
    EXPECT_TRUE(loop_is_idle());
}

TEST_F(redis_client, a_missing_key_reads_as_nil_both_ways) {
    connect();
    EXPECT_EQ(m_context->get("missing")->execute().get_type(), reply_type::NIL);
    EXPECT_EQ(await(*m_context->get("missing")).get_type(), reply_type::NIL);
}

TEST_F(redis_client, arguments_holding_zero_bytes_are_sent_whole) {
    connect();
    const std::string blocking("a\0b", 3);
    const std::string asynchronous("\0\0x\0", 4);
    m_context->set("blocking", blocking)->execute();
    await(*m_context->set("async", asynchronous));
    EXPECT_EQ(m_server.command({"STRLEN", "blocking"}), ":3\r\n");
    EXPECT_EQ(m_context->get("async")->execute().to_string(), asynchronous);
    EXPECT_EQ(await(*m_context->get("blocking")).to_string(), blocking);
}

TEST_F(redis_client, an_error_reply_is_raised_blocking_and_delivered_asynchronously) {
    connect();
    EXPECT_EQ(raised([&] { m_context->set_to_table_multi("h")->execute(); }),
              "Command: HMSET, error: ERR wrong number of arguments for 'hmset' command");
    const reply answer = await(*m_context->set_to_table_multi("h"));
    EXPECT_EQ(answer.get_type(), reply_type::ERROR);
    EXPECT_EQ(answer.to_string(), "ERR wrong number of arguments for 'hmset' command");

    m_context->set_to_table_multi("h")
        ->add_argument("a")
        .add_argument("1")
        .add_argument("b")
        .add_argument("2")
        .execute();
    EXPECT_EQ(m_context->get_from_table("h", "b")->execute().to_string(), "2");
}

TEST_F(redis_client, each_builder_sends_its_command) {
    connect();
    auto& c = *m_context;
    EXPECT_EQ(c.add_to_set("s", "x")->execute().to_int(), 1);
    EXPECT_EQ(c.add_to_set("s")->add_argument("y").add_argument("z").execute().to_int(), 2);
    EXPECT_EQ(c.remove_from_set("s", "y")->execute().to_int(), 1);
    std::set<std::string> members;
    c.get_set_members("s")->execute().as_array().for_each_element(
        [&](const redis::reply_element& _e) { return members.insert(_e.to_string()).second; });
    EXPECT_EQ(members, (std::set<std::string>{"x", "z"}));

    EXPECT_EQ(c.set_to_table("t", "f", "1")->execute().to_int(), 1);
    EXPECT_EQ(c.increment_in_table("t", "f", "41")->execute().to_long_long(), 42);
    c.set_to_table_multi("t")->add_argument("g").add_argument("v").execute();
    const reply fields = c.get_from_table_multi("t")
                             ->add_argument("f")
                             .add_argument("none")
                             .add_argument("g")
                             .execute();
    const auto values = fields.as_array();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].to_string(), "42");
    EXPECT_EQ(values[1].get_type(), reply_type::NIL);
    EXPECT_EQ(values[2].to_string(), "v");
    EXPECT_EQ(c.delete_from_table("t", "g")->execute().to_int(), 1);
    EXPECT_EQ(c.get_table("t")->execute().as_array().size(), 2u);  // f and its value

    EXPECT_EQ(c.create_command({"SET", "plain", "p"})->execute().to_string(), "OK");
    EXPECT_EQ(c.del("plain")->execute().to_int(), 1);
    EXPECT_EQ(m_server.command({"EXISTS", "plain"}), ":0\r\n");
}

TEST_F(redis_client, scan_walks_every_matching_key_until_the_callback_stops) {
    connect();
    int calls = 0;
    EXPECT_EQ(m_context->scan("*", [&](boost::string_view) { return ++calls > 0; }),
              iteration_result::finished);
    EXPECT_EQ(calls, 0);

    std::set<std::string> expected;
    for (int i = 0; i < 60; ++i) {
        const std::string key = "key:" + std::to_string(i);
        m_context->set(key, "v")->execute();
        m_context->set("other:" + std::to_string(i), "v")->execute();
        expected.insert(key);
    }
    std::set<std::string> seen;
    EXPECT_EQ(m_context->scan("key:*",
                              [&](boost::string_view _key) {
                                  seen.insert(_key.to_string());
                                  return true;
                              }),
              iteration_result::finished);
    EXPECT_EQ(seen, expected);

    calls = 0;
    EXPECT_EQ(m_context->scan("key:*", [&](boost::string_view) { return ++calls > 1; }),
              iteration_result::interrupted);
    EXPECT_EQ(calls, 1);
}

TEST_F(redis_client, a_dropped_handle_gets_no_callback) {
    connect();
    bool called = false;
    m_context->get("k")->execute_async()->set_callback([&](reply) { called = true; });
    EXPECT_EQ(await(*m_context->set("after", "x")).to_string(), "OK");
    settle(50ms);
    EXPECT_FALSE(called);
}

TEST_F(redis_client, restarting_a_command_handle_sends_it_again) {
    connect();
    std::vector<long long> counts;
    auto increment = m_context->create_command({"INCR", "n"});
    const reply_handle handle = increment->execute_async();
    handle->set_callback([&](reply _reply) { counts.push_back(_reply.to_long_long()); });
    ASSERT_TRUE(run_until([&] { return counts.size() == 1; }));
    increment.reset();  // a restart needs only the context
    handle->restart();
    ASSERT_TRUE(run_until([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts, (std::vector<long long>{1, 2}));
}

TEST_F(redis_client, restarting_a_completed_creation_connects_anew) {
    m_server.stop();
    const auto handle = start_creation();
    ASSERT_TRUE(run_until([&] { return m_creations.size() == 1; }));
    EXPECT_FALSE(m_creations[0]);

    m_server.start();
    handle->restart();
    ASSERT_TRUE(run_until([&] { return m_creations.size() == 2; }, 10s));
    ASSERT_TRUE(m_creations[1] && *m_creations[1]);
    handle->restart();
    ASSERT_TRUE(run_until([&] { return m_creations.size() == 3; }, 10s));
    ASSERT_TRUE(m_creations[2] && *m_creations[2]);
    EXPECT_NE(m_creations[1]->get(), m_creations[2]->get());
    (*m_creations[1])->set("k", "1")->execute();
    EXPECT_EQ(await(*(*m_creations[2])->get("k")).to_string(), "1");
    m_creations.clear();
}

TEST_F(redis_client, a_dropped_creation_delivers_nothing_and_keeps_no_connection) {
    start_creation().reset();
    settle(200ms);
    EXPECT_TRUE(m_creations.empty());
    EXPECT_NE(m_server.command({"INFO", "clients"}).find("connected_clients:1\r\n"),
              std::string::npos);
}

TEST_F(redis_client, after_the_server_is_killed_commands_fail_cleanly) {
    connect();
    m_server.kill();

    // Queued before the loop sees the connection close: a NIL reply.
    EXPECT_EQ(await(*m_context->get("k")).get_type(), reply_type::NIL);
    EXPECT_TRUE(m_collector.wait_for_line_containing("Connection to the redis server is lost: "));
    // After it: refused at once, and nothing is left waiting on the loop.
    EXPECT_EQ(raised([&] { m_context->get("k")->execute_async(); }), "Command: GET, error");
    EXPECT_TRUE(loop_is_idle());

    const std::string blocking = raised([&] { m_context->get("k")->execute(); });
    EXPECT_EQ(blocking.rfind("Command: GET, connection error: ", 0), 0u) << blocking;
    EXPECT_EQ(raised([&] {
                  m_context->set("k", "v")->execute();
              }).rfind("Command: SET, connection error: ", 0),
              0u);
    m_context.reset();
}

TEST_F(redis_client, a_context_destroyed_with_a_command_in_flight_delivers_nil) {
    connect();
    boost::optional<reply> received;
    const reply_handle handle = m_context->get("k")->execute_async();
    handle->set_callback([&](reply _reply) { received = std::move(_reply); });
    m_context.reset();
    ASSERT_TRUE(run_until([&] { return received.has_value(); }));
    EXPECT_EQ(received->get_type(), reply_type::NIL);
    EXPECT_TRUE(loop_is_idle());
}

TEST_F(redis_client, large_values_travel_whole_asynchronously) {
    connect();
    std::string value(4 << 20, 'x');
    for (std::size_t i = 0; i < value.size(); i += 4096) {
        value[i] = static_cast<char>('a' + (i / 4096) % 26);
    }
    EXPECT_EQ(await(*m_context->set("big", value)).to_string(), "OK");
    EXPECT_EQ(await(*m_context->get("big")).to_string(), value);
    EXPECT_EQ(m_context->get("big")->execute().to_string(), value);
}

TEST_F(redis_client, subscribing_commands_are_refused_asynchronously_and_the_context_works_on) {
    connect();
    const std::vector<redis::context::args> refused = {
        {"SUBSCRIBE", "news"}, {"psubscribe", "n*"}, {"SSUBSCRIBE", "news"}, {"MONITOR"}};
    for (const auto& words : refused) {
        auto command = m_context->create_command(words);
        EXPECT_EQ(raised([&] { command->execute_async(); }), "Command: " + words[0] + ", error");
    }
    // What a subscription or a monitor would have been sent reaches nobody.
    m_server.command({"PUBLISH", "news", "one"});
    m_server.command({"SET", "k", "v"});
    EXPECT_EQ(await(*m_context->get("k")).to_string(), "v");
    EXPECT_EQ(await(*m_context->create_command({"PUBLISH", "news", "two"})).to_int(), 0);
    settle();
}

TEST_F(redis_client, a_blocking_write_to_a_server_that_went_away_fails_without_sigpipe) {
    struct sigaction counting {};
    counting.sa_handler = count_sigpipe;
    sigemptyset(&counting.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGPIPE, &counting, &previous), 0);
    const auto restore_action = tvk::libs::core::execute_on_scope_exit(
        [&previous] { sigaction(SIGPIPE, &previous, nullptr); });
    sigset_t caller_mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &caller_mask);
    const auto restore_mask = tvk::libs::core::execute_on_scope_exit(
        [&caller_mask] { pthread_sigmask(SIG_SETMASK, &caller_mask, nullptr); });

    // The library must neither raise the signal nor leave one pending for a caller that blocks
    // it; either way the caller's mask is left as it was.
    const std::string value(64 << 20, 'x');
    for (const bool caller_blocks : {false, true}) {
        SCOPED_TRACE(caller_blocks ? "SIGPIPE blocked by the caller" : "SIGPIPE delivered");
        if (!m_server.running()) {
            m_server.start();
        }
        connect();
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(caller_blocks ? SIG_BLOCK : SIG_UNBLOCK, &pipe, nullptr);
        sigpipes = 0;
        m_server.stop();

        const std::string message = raised([&] { m_context->set("big", value)->execute(); });
        EXPECT_EQ(message.rfind("Command: SET, connection error: ", 0), 0u) << message;
        EXPECT_FALSE(sigpipe_is_pending());
        EXPECT_EQ(sigpipes, 0);
        EXPECT_EQ(thread_blocks_sigpipe(), caller_blocks);
        struct sigaction now {};
        sigaction(SIGPIPE, nullptr, &now);
        EXPECT_EQ(now.sa_handler, &count_sigpipe);
        m_context.reset();
    }
    // A SIGPIPE of the caller's own still reaches its handler.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    ::raise(SIGPIPE);
    EXPECT_EQ(sigpipes, 1);
}

// In a child with SIGPIPE's default action, which a raised SIGPIPE ends: a write of the
// asynchronous connection that meets the reset connection.
TEST_F(redis_client, an_asynchronous_write_to_a_reset_connection_gives_nil_without_sigpipe) {
    const auto result =
        test_support::run_process(REDIS_SIGPIPE_CHILD, {std::to_string(m_server.port())}, 60s);
    ASSERT_TRUE(result.finished) << result.standard_output;
    EXPECT_EQ(result.exit_code, 0) << result.standard_output << result.standard_error;
    EXPECT_EQ(result.standard_output, "nil\n");
}

TEST_F(redis_client, appending_arguments_takes_amortised_constant_time) {
    connect();
    constexpr int count = 200000;
    auto command = m_context->add_to_set("many");
    // Far beyond what linear growth needs, far below what growing by one element at a time
    // takes for this many.
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    int added = 0;
    for (; added < count && (added % 1000 != 0 || std::chrono::steady_clock::now() < deadline);
         ++added) {
        command->add_argument(std::to_string(added));
    }
    ASSERT_EQ(added, count) << "the deadline passed";
    EXPECT_EQ(command->execute().to_int(), count);
    EXPECT_EQ(m_server.command({"SCARD", "many"}), ":200000\r\n");
    EXPECT_EQ(m_context->get_set_members("many")->execute().as_array().size(),
              static_cast<std::size_t>(count));
}

// A frozen server takes connections and answers nothing; the blocking connection gives up on
// it after 5 s.
TEST_F(redis_client, a_blocking_command_to_a_frozen_server_fails_after_the_time_out) {
    connect();
    std::string message;
    std::chrono::steady_clock::duration took{};
    {
        const frozen_server frozen(m_server, 12s);
        const auto started = std::chrono::steady_clock::now();
        message = raised([&] { m_context->get("k")->execute(); });
        took = std::chrono::steady_clock::now() - started;
    }
    EXPECT_EQ(message.rfind("Command: GET, connection error: ", 0), 0u) << message;
    EXPECT_GE(took, 4s);
    EXPECT_LT(took, 10s);
}

TEST_F(redis_client, a_creation_on_a_frozen_server_fails_after_the_time_out) {
    bool delivered = false;
    creation result;
    std::chrono::steady_clock::duration took{};
    {
        const frozen_server frozen(m_server, 12s);
        const auto started = std::chrono::steady_clock::now();
        result = create();
        took = std::chrono::steady_clock::now() - started;
        delivered = m_creations.size() == 1;
    }
    EXPECT_TRUE(delivered);
    EXPECT_FALSE(result);
    EXPECT_TRUE(m_collector.wait_for_line_containing("Command: SELECT, connection error: "));
    EXPECT_GE(took, 4s);
    EXPECT_LT(took, 10s);
    m_creations.clear();
}

TEST_F(redis_client, a_command_or_handle_used_after_its_context_is_gone_raises) {
    connect();
    int replies = 0;
    auto command = m_context->get("k");
    const reply_handle handle = command->execute_async();
    handle->set_callback([&](reply) { ++replies; });
    ASSERT_TRUE(run_until([&] { return replies == 1; }));
    auto kept = m_context->set("k", "v");
    command.reset();
    m_context.reset();
    EXPECT_EQ(raised([&] { handle->restart(); }), "Command: GET, error");
    EXPECT_EQ(raised([&] { kept->execute(); }), "Command: SET, error");
    EXPECT_EQ(raised([&] { kept->execute_async(); }), "Command: SET, error");
    settle();
    EXPECT_EQ(replies, 1);
}
