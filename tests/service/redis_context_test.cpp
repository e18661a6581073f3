#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/exception.hpp"
#include "core/scope_guard.hpp"
#include "redis/redis_context.hpp"
#include "redis/reply.hpp"
#include "redis/reply_type.hpp"
#include "test_support/free_port.hpp"
#include "test_support/polling_thread.hpp"
#include "test_support/redis_server.hpp"
#include "test_support/tcp_proxy.hpp"

using tvk::redis::reply;
using tvk::redis::reply_array;
using tvk::redis::reply_element;
using tvk::redis::reply_type;
using namespace std::chrono_literals;

namespace {

// Runs _f and returns the text of the tvk exception it raises, or "" when it raises none.
template <class F>
std::string error_of(F&& _f) {
    try {
        _f();
    } catch (const tvk::libs::core::exception& e) {
        return e.what();
    }
    return "";
}

// A raised text: the short file name, ":", any line, " " and a message matching _message.
struct raised {
    raised(const std::string& _file, const std::string& _message)
        : text("/" + _file + ":<line> " + _message), pattern("/" + _file + ":[0-9]+ " + _message) {}
    std::string text;
    std::regex pattern;
};

void expect_that(const std::string& _what, const raised& _expected) {
    EXPECT_TRUE(std::regex_match(_what, _expected.pattern))
        << "raised: \"" << _what << "\"\nexpected: \"" << _expected.text << "\"";
}

sockaddr_in loopback(int _port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(_port));
    return address;
}

// A loopback listener on _port with a queue of _backlog, past the TIME_WAIT that a stopped
// server's connections may have left; -1 when the port cannot be had.
int listen_on(int _port, int _backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    const sockaddr_in address = loopback(_port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd, _backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string quoted_words(const std::vector<std::string>& _words) {
    std::string text;
    for (const auto& word : _words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

class redis_context_test : public ::testing::Test {
protected:
    test_support::redis_server m_server;
    tvk::redis::context m_redis{m_server.address(), m_server.port(), 0};
};

// The test's own server, on a port that another process holds: it says why it cannot start,
// leaves no process behind, and starts once the port is free.
TEST(redis_server_fixture, a_server_whose_port_is_taken_raises_with_its_status_and_log) {
    test_support::redis_server server;
    server.stop();
    {
        const int holder = listen_on(server.port(), 1);
        ASSERT_GE(holder, 0);
        const auto close_holder =
            tvk::libs::core::execute_on_scope_exit([holder]() noexcept { ::close(holder); });
        try {
            server.start();
            ADD_FAILURE() << "started on a port that is taken";
        } catch (const std::runtime_error& e) {
            const std::string text = e.what();
            for (const char* part :
                 {"exited with status 1", "Address already in use", "attempt 5 of 5: "}) {
                EXPECT_NE(text.find(part), std::string::npos) << part << " in: " << text;
            }
        }
        EXPECT_FALSE(server.running());
    }
    server.start();
    EXPECT_TRUE(server.ping());
}

TEST(redis_context, a_server_that_does_not_listen_is_a_connection_error_within_the_time_out) {
    const auto start = std::chrono::steady_clock::now();
    const std::string error =
        error_of([] { tvk::redis::context("127.0.0.1", test_support::free_port(), 0); });
    expect_that(error,
                raised("src/redis/redis_context.cpp", "Connection error: Connection refused"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(redis_context, a_port_outside_0_to_65535_is_a_connection_error) {
    test_support::redis_server server;
    // The first would reach the server above if the port were taken modulo 65536.
    for (const int port : {server.port() + 65536, -1, 1 << 20}) {
        SCOPED_TRACE(port);
        expect_that(
            error_of([&] { tvk::redis::context(server.address(), port, 0); }),
            raised("src/redis/redis_context.cpp",
                   "Connection error: port " + std::to_string(port) + " is outside 0\\.\\.65535"));
    }
}

TEST(redis_context, a_database_the_server_lacks_is_refused_by_select) {
    test_support::redis_server server;
    const std::string error =
        error_of([&] { tvk::redis::context(server.address(), server.port(), 99); });
    expect_that(error, raised("src/redis/redis_context.cpp",
                              "Command: SELECT %u, error: ERR DB index is out of range"));
}

TEST(redis_context, commands_reach_the_selected_database) {
    test_support::redis_server server;
    tvk::redis::context third(server.address(), server.port(), 3);
    tvk::redis::context first(server.address(), server.port(), 0);
    third.set_to_table("t", "f", "in 3");
    EXPECT_EQ(third.get_from_table("t", "f").to_string(), "in 3");
    EXPECT_EQ(first.get_from_table("t", "f").get_type(), reply_type::NIL);
}

TEST_F(redis_context_test, replies_are_read_with_type_checks) {
    const reply ok = m_redis.flush_db();
    EXPECT_EQ(ok.get_type(), reply_type::STATUS);
    EXPECT_EQ(ok.to_string(), "OK");

    const reply missing = m_redis.get_from_table("table", "field");
    EXPECT_EQ(missing.get_type(), reply_type::NIL);
    expect_that(error_of([&] { missing.to_string(); }),
                raised("src/redis/reply.cpp", "Reply is not string, actual type: nil"));

    EXPECT_EQ(m_redis.set_to_table("table", "field", "41").to_integer(), 1);
    const reply count = m_redis.increment_in_table("table", "field", "1");
    EXPECT_EQ(count.get_type(), reply_type::INTEGER);
    EXPECT_EQ(count.to_integer(), 42);
    expect_that(error_of([&] { count.as_array(); }),
                raised("src/redis/reply.cpp", "Reply is not array, actual type: integer"));

    const reply text = m_redis.get_from_table("table", "field");
    EXPECT_EQ(text.to_string(), "42");
    expect_that(error_of([&] { text.to_integer(); }),
                raised("src/redis/reply.cpp", "Reply is not integer, actual type: string"));

    EXPECT_EQ(m_redis.delete_from_table("table", "field").to_integer(), 1);
    EXPECT_EQ(m_redis.get_from_table("table", "field").get_type(), reply_type::NIL);
}

TEST_F(redis_context_test, texts_with_zero_bytes_and_blanks_go_through_whole) {
    const std::string value("a\0b c", 5);
    const std::string table("t a\0b%s", 7);
    m_redis.set_to_table(table, "field", value);
    EXPECT_EQ(m_redis.get_from_table(table, "field").to_string(), value);
    EXPECT_EQ(m_redis.execute_command_sv({"HGET", table, "field"}).to_string(), value);

    m_redis.execute_command_argv({"SADD", "my set %s", "member one"});
    const reply members = m_redis.get_set_members("my set %s");
    ASSERT_EQ(members.as_array().size(), 1u);
    EXPECT_EQ(members.as_array()[0].to_string(), "member one");
}

TEST_F(redis_context_test, hmget_of_a_missing_table_gives_one_nil_per_field) {
    const std::string a = "a", b = "b", c = "c";
    const reply values = m_redis.get_from_table("missing", {a, b, c});
    const reply_array elements = values.as_array();
    ASSERT_EQ(elements.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(elements[i].get_type(), reply_type::NIL);
    }
}

TEST_F(redis_context_test, arrays_are_walked_in_order_and_refuse_an_index_beyond_them) {
    m_redis.execute_command_argv({"RPUSH", "list", "one", "two", "three"});
    const reply list = m_redis.execute_command_argv({"LRANGE", "list", "0", "-1"});
    const reply_array elements = list.as_array();
    EXPECT_EQ(elements[2].to_string(), "three");
    expect_that(error_of([&] { elements[3]; }),
                raised("src/redis/reply.cpp", "Index out of range"));

    std::vector<std::string> seen;
    EXPECT_FALSE(elements.for_each_element([&seen](const reply_element& _element) {
        seen.push_back(_element.to_string());
        return seen.size() < 2;
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(elements.for_each_element([](const reply_element&) { return true; }));

    const reply empty = m_redis.get_set_members("no set");
    EXPECT_TRUE(empty.as_array().for_each_element([](const reply_element&) { return false; }));
}

TEST_F(redis_context_test, an_error_reply_raises_with_the_command_name) {
    m_redis.execute_command_argv({"SADD", "a set", "x"});
    const std::string field = "f";  // the pairs refer to their keys
    expect_that(error_of([&] {
                    m_redis.set_to_table("a set", {{field, "v"}});
                }),
                raised("src/redis/redis_context.cpp",
                       "Command: HMSET, error: WRONGTYPE Operation against a key holding the "
                       "wrong kind of value"));
    // The formatted form names the format, placeholders unexpanded.
    expect_that(error_of([&] { m_redis.execute_command("HGET %s %s", "a set", "f"); }),
                raised("src/redis/redis_context.hpp", "Command: HGET %s %s, error: WRONGTYPE.*"));
    expect_that(error_of([&] { m_redis.execute_command_argv({}); }),
                raised("src/redis/redis_context.cpp", "Command is empty"));
    // The connection is still usable.
    EXPECT_EQ(m_redis.execute_command("PING").to_string(), "PONG");
}

TEST_F(redis_context_test, commands_sent_together_reply_in_order_and_raise_the_first_failure) {
    const auto replies = m_redis.execute_commands_sv({{"SADD", "s", "a", "b"}, {"SCARD", "s"}});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].to_integer(), 2);
    EXPECT_EQ(replies[1].to_integer(), 2);

    // A failed first command raises; the second went out with it and was carried out.
    const std::string field = "f", value = "v";
    expect_that(error_of([&] {
                    m_redis.execute_commands_sv(
                        {tvk::redis::context::set_to_table_command("s", {{field, value}}),
                         {"SADD", "s", "c"},
                         {"HSET", "s", "f", "v"}});
                }),
                raised("src/redis/redis_context.cpp", "Command: HMSET, error: WRONGTYPE.*"));
    EXPECT_EQ(m_redis.execute_command_sv({"SCARD", "s"}).to_integer(), 3);
    // Every reply was read: the next command gets its own.
    EXPECT_EQ(m_redis.execute_command("PING").to_string(), "PONG");
    expect_that(error_of([&] {
                    m_redis.execute_commands_sv({{"PING"}, {}});
                }),
                raised("src/redis/redis_context.cpp", "Command is empty"));
    EXPECT_EQ(m_redis.execute_command("ECHO %s", "x").to_string(), "x");
}

TEST_F(redis_context_test, set_to_table_opt_writes_the_values_and_deletes_the_fields_without) {
    const std::string a = "a", b = "b", c = "c";
    m_redis.set_to_table("t", {{a, "1"}, {b, "2"}, {c, "3"}});
    m_redis.set_to_table_opt("t", {{a, std::string("10")}, {b, boost::none}});
    EXPECT_EQ(m_redis.get_from_table("t", "a").to_string(), "10");
    EXPECT_EQ(m_redis.get_from_table("t", "b").get_type(), reply_type::NIL);
    EXPECT_EQ(m_redis.get_from_table("t", "c").to_string(), "3");

    // Only an HDEL, then only an HMSET: neither sends an empty command.
    m_redis.set_to_table_opt("t", {{a, boost::none}, {c, boost::none}});
    EXPECT_EQ(m_redis.execute_command_argv({"EXISTS", "t"}).to_integer(), 0);
    m_redis.set_to_table_opt("t", {{a, std::string("x")}});
    EXPECT_EQ(m_redis.get_from_table("t", "a").to_string(), "x");
}

// The keys of the database, sorted.
std::vector<std::string> keys(tvk::redis::context& _redis) {
    std::vector<std::string> names;
    _redis.execute_command_argv({"KEYS", "*"})
        .as_array()
        .for_each_element([&names](const reply_element& _key) {
            names.push_back(_key.to_string());
            return true;
        });
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(redis_context_test, clear_branch_deletes_only_the_keys_under_the_branch) {
    m_redis.clear_branch("a");  // an empty database: nothing to delete
    for (const char* key : {"a:1", "a:2", "ab:3", "a", "a:b:c", "b:a:1"}) {
        m_redis.set_to_table(key, "f", "v");
    }
    m_redis.clear_branch("a");
    EXPECT_EQ(keys(m_redis), (std::vector<std::string>{"a", "ab:3", "b:a:1"}));
}

TEST_F(redis_context_test, clear_branch_takes_glob_characters_of_the_branch_literally) {
    for (const char* key : {"a*:1", "ab:1", "a?:1", "a[b]:1", "ab]:1"}) {
        m_redis.set_to_table(key, "f", "v");
    }
    m_redis.clear_branch("a*");
    m_redis.clear_branch("a[b]");
    EXPECT_EQ(keys(m_redis), (std::vector<std::string>{"a?:1", "ab:1", "ab]:1"}));
}

TEST_F(redis_context_test, clear_branch_walks_every_scan_step) {
    // SCAN returns about ten keys a step: this takes many steps.
    tvk::redis::context::args command{"MSET"};
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) {
        texts.push_back("q:" + std::to_string(i));
        texts.push_back(i % 3 == 0 ? "r:" + std::to_string(i) : "v");
    }
    for (const auto& text : texts) {
        command.push_back(text.c_str());
    }
    m_redis.execute_command_argv(command);
    m_redis.execute_command_argv({"SET", "r:x", "v"});
    m_redis.clear_branch("q");
    EXPECT_EQ(m_redis.execute_command("DBSIZE").to_integer(), 1);
}

// A server that speaks just enough of the Redis protocol to play one script: _answer gets
// each command's words and returns the raw reply, or "" to close the connection instead.
class scripted_server {
public:
    using answer = std::function<std::string(const std::vector<std::string>&)>;

    explicit scripted_server(answer _answer) : m_answer(std::move(_answer)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) ||
            ::listen(m_listener, 4) ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length)) {
            throw std::runtime_error("scripted_server: cannot listen");
        }
        m_port = ntohs(address.sin_port);
        m_thread.start([this] { step(); });
    }
    ~scripted_server() {
        m_thread.stop();
        close_client();
        ::close(m_listener);
    }

    int port() const { return m_port; }
    // Every command received, as its words joined by blanks.
    std::vector<std::string> commands() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_commands;
    }
    int connections() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connections;
    }

private:
    void step() {
        pollfd waiting{m_client >= 0 ? m_client : m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0) {
            return;
        }
        if (m_client < 0) {
            m_client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_connections;
            return;
        }
        char buffer[4096];
        const auto n = ::recv(m_client, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            close_client();
            return;
        }
        m_input.append(buffer, static_cast<std::size_t>(n));
        std::vector<std::string> words;
        while (take_command(words)) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_commands.push_back(quoted_words(words));
            }
            const std::string reply = m_answer(words);
            if (reply.empty()) {
                close_client();
                return;
            }
            ::send(m_client, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
    }

    // Takes one whole "*<n>" command of bulk strings off the input, if there is one.
    bool take_command(std::vector<std::string>& _words) {
        _words.clear();
        std::size_t at = 0;
        auto line = [&](std::string& _text) {
            const auto end = m_input.find("\r\n", at);
            if (end == std::string::npos) {
                return false;
            }
            _text = m_input.substr(at, end - at);
            at = end + 2;
            return true;
        };
        std::string text;
        if (!line(text) || text.empty() || text[0] != '*') {
            return false;
        }
        const int count = std::stoi(text.substr(1));
        for (int i = 0; i < count; ++i) {
            if (!line(text)) {
                return false;
            }
            const std::size_t length = std::stoul(text.substr(1));
            if (m_input.size() < at + length + 2) {
                return false;
            }
            _words.push_back(m_input.substr(at, length));
            at += length + 2;
        }
        m_input.erase(0, at);
        return true;
    }

    void close_client() {
        if (m_client >= 0) {
            ::close(m_client);
            m_client = -1;
        }
        m_input.clear();
    }

    answer m_answer;
    int m_listener = -1;
    int m_port = 0;
    int m_client = -1;
    std::string m_input;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    int m_connections = 0;
    test_support::polling_thread m_thread;  // last: stopped first
};

std::string bulk(const std::string& _text) {
    return "$" + std::to_string(_text.size()) + "\r\n" + _text + "\r\n";
}

TEST(redis_context_scan, a_cursor_beyond_the_int_range_is_sent_back_as_it_came) {
    const std::string big = "18446744073709551615";
    scripted_server server([&](const std::vector<std::string>& _words) -> std::string {
        if (_words[0] != "SCAN") {
            return "+OK\r\n";
        }
        const std::string next = _words[1] == "0" ? big : "0";
        return "*2\r\n" + bulk(next) + "*1\r\n" + bulk("b:" + _words[1]);
    });
    tvk::redis::context redis("127.0.0.1", server.port(), 0);
    redis.clear_branch("b");
    EXPECT_EQ(server.commands(),
              (std::vector<std::string>{"SELECT 0", "SCAN 0 MATCH b:*", "DEL b:0",
                                        "SCAN " + big + " MATCH b:*", "DEL b:" + big}));
}

TEST(redis_context_scan, a_cursor_that_is_not_a_number_raises) {
    for (const std::string cursor : {"-1", "x", "", "18446744073709551616"}) {
        scripted_server server([&](const std::vector<std::string>& _words) -> std::string {
            return _words[0] == "SCAN" ? "*2\r\n" + bulk(cursor) + "*0\r\n" : "+OK\r\n";
        });
        tvk::redis::context redis("127.0.0.1", server.port(), 0);
        EXPECT_ANY_THROW(redis.clear_branch("b")) << cursor;
        EXPECT_EQ(server.commands().size(), 2u) << cursor;
    }
}

TEST(redis_context_scan, an_array_announcing_too_many_elements_is_refused_unallocated) {
    // Without a limit hiredis allocates 16 GiB for these few bytes before any element came.
    scripted_server server([](const std::vector<std::string>& _words) -> std::string {
        return _words[0] == "SMEMBERS" ? "*2147483647\r\n" : "+OK\r\n";
    });
    tvk::redis::context redis("127.0.0.1", server.port(), 0);
    expect_that(error_of([&] { redis.get_set_members("s"); }),
                raised("src/redis/redis_context.cpp",
                       "Command: SMEMBERS s, connection error: Out of memory"));
}

TEST(redis_context_scan, set_reads_and_scans_are_named_by_their_command_text_and_sent_whole) {
    scripted_server server([](const std::vector<std::string>& _words) -> std::string {
        // The count shows that each text went as one argument.
        return _words[0] == "SELECT" ? "+OK\r\n"
                                     : "-ERR " + std::to_string(_words.size()) + " words\r\n";
    });
    tvk::redis::context redis("127.0.0.1", server.port(), 0);
    expect_that(
        error_of([&] { redis.get_set_members("a b%s"); }),
        raised("src/redis/redis_context.cpp", "Command: SMEMBERS a b%s, error: ERR 2 words"));
    expect_that(
        error_of([&] { redis.clear_branch("c d%u"); }),
        raised("src/redis/redis_context.cpp", "Command: SCAN %u MATCH %s:\\*, error: ERR 4 words"));
    EXPECT_EQ(server.commands(),
              (std::vector<std::string>{"SELECT 0", "SMEMBERS a b%s", "SCAN 0 MATCH c d%u:*"}));
}

TEST(redis_context_replies, elements_of_unexpected_types_raise_and_leave_the_connection_usable) {
    // What a restore may meet: a nil, an error and a nested array among the members.
    scripted_server server([](const std::vector<std::string>& _words) -> std::string {
        if (_words[0] == "SMEMBERS") {
            return "*4\r\n$-1\r\n-ERR inner\r\n*2\r\n*0\r\n$1\r\nx\r\n" + bulk("T1");
        }
        if (_words[0] == "HMGET") {
            return "*3\r\n*-1\r\n:7\r\n$-1\r\n";
        }
        return "+OK\r\n";
    });
    tvk::redis::context redis("127.0.0.1", server.port(), 0);
    const reply members = redis.get_set_members("s");
    const reply_array elements = members.as_array();
    ASSERT_EQ(elements.size(), 4u);
    expect_that(error_of([&] { elements[0].to_string(); }),
                raised("src/redis/reply.cpp", "Reply is not string, actual type: nil"));
    EXPECT_EQ(elements[1].get_type(), reply_type::ERROR);
    EXPECT_EQ(elements[1].to_string(), "ERR inner");
    expect_that(error_of([&] { elements[2].to_string(); }),
                raised("src/redis/reply.cpp", "Reply is not string, actual type: array"));
    const reply_array nested = elements[2].as_array();
    ASSERT_EQ(nested.size(), 2u);
    EXPECT_EQ(nested[0].as_array().size(), 0u);
    EXPECT_EQ(nested[1].to_string(), "x");
    expect_that(error_of([&] { nested[0].as_array()[0]; }),
                raised("src/redis/reply.cpp", "Index out of range"));
    EXPECT_EQ(elements[3].to_string(), "T1");

    const std::string table = "t";
    const std::string a = "a", b = "b", c = "c";
    const reply fields = redis.get_from_table(table, {a, b, c});
    const reply_array values = fields.as_array();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].get_type(), reply_type::NIL);
    expect_that(error_of([&] { values[1].to_string(); }),
                raised("src/redis/reply.cpp", "Reply is not string, actual type: integer"));
    EXPECT_EQ(values[2].get_type(), reply_type::NIL);
    EXPECT_EQ(redis.execute_command_sv({"PING"}).to_string(), "OK");
}

TEST(redis_context_reconnection, a_command_lost_on_the_wire_raises_once_and_the_next_reopens) {
    int hsets = 0;
    scripted_server server([&](const std::vector<std::string>& _words) -> std::string {
        if (_words[0] == "HSET" && ++hsets == 1) {
            return "";  // the connection breaks before the answer
        }
        return _words[0] == "SELECT" ? "+OK\r\n" : ":1\r\n";
    });
    tvk::redis::context redis("127.0.0.1", server.port(), 5);
    expect_that(error_of([&] { redis.set_to_table("t", "f", "1"); }),
                raised("src/redis/redis_context.cpp", "Command: HSET, connection error: .+"));
    EXPECT_EQ(redis.set_to_table("t", "f", "2").to_integer(), 1);
    // The lost command was not sent again; the new connection selected the database first.
    EXPECT_EQ(server.commands(),
              (std::vector<std::string>{"SELECT 5", "HSET t f 1", "SELECT 5", "HSET t f 2"}));
    EXPECT_EQ(server.connections(), 2);
}

TEST(redis_context_reconnection, a_restarted_server_gets_the_next_command) {
    for (const bool killed : {false, true}) {
        test_support::redis_server server;
        tvk::redis::context redis(server.address(), server.port(), 2);
        redis.set_to_table("device:1", "mac", "AA");
        if (killed) {
            server.kill();
        } else {
            server.stop();
        }
        server.start();
        EXPECT_EQ(redis.set_to_table("device:2", "mac", "BB").to_integer(), 1) << killed;
        // Written to the same database of the new server, which started empty.
        EXPECT_EQ(redis.get_from_table("device:2", "mac").to_string(), "BB");
        EXPECT_EQ(redis.get_from_table("device:1", "mac").get_type(), reply_type::NIL);
        tvk::redis::context first(server.address(), server.port(), 0);
        EXPECT_EQ(first.get_from_table("device:2", "mac").get_type(), reply_type::NIL);
    }
}

TEST(redis_context_reconnection, a_failed_reopen_is_a_connection_error_and_is_tried_again) {
    test_support::redis_server server;
    tvk::redis::context redis(server.address(), server.port(), 0);
    server.stop();
    for (int attempt = 0; attempt < 2; ++attempt) {
        expect_that(error_of([&] { redis.get_from_table("t", "f"); }),
                    raised("src/redis/redis_context.cpp", "Connection error: Connection refused"));
    }
    server.start();
    EXPECT_EQ(redis.get_from_table("t", "f").get_type(), reply_type::NIL);
}

TEST(redis_context_reconnection, a_reopen_that_a_frozen_server_takes_but_never_answers_fails) {
    test_support::redis_server server;
    tvk::redis::context redis(server.address(), server.port(), 0);
    EXPECT_EQ(redis.get_connection_number(), 1u);
    redis.set_timeout(200ms);
    server.stop();
    server.start();
    server.pause();
    const auto before = std::chrono::steady_clock::now();
    expect_that(error_of([&] { redis.get_from_table("t", "f"); }),
                raised("src/redis/redis_context.cpp",
                       "Connection error: Resource temporarily unavailable"));
    // The probe does not wait for the command time-out either.
    redis.set_timeout(5s);
    expect_that(error_of([&] { redis.ping(200ms); }),
                raised("src/redis/redis_context.cpp",
                       "Connection error: Resource temporarily unavailable"));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    server.resume();
    redis.ping(1s);
    EXPECT_EQ(redis.get_connection_number(), 2u);
    EXPECT_FALSE(redis.is_connection_lost());
    server.stop();
    EXPECT_TRUE(redis.is_connection_lost());
}

TEST(redis_context_reconnection,
     a_reopen_towards_an_address_that_drops_connections_waits_the_time_out) {
    test_support::redis_server server;
    tvk::redis::context redis(server.address(), server.port(), 0);
    redis.set_timeout(300ms);
    server.stop();
    // A listener whose queue is full: the kernel drops further connection requests unanswered.
    const int listener = listen_on(server.port(), 0);
    const int queued = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto closing = tvk::libs::core::execute_on_scope_exit([&]() noexcept {
        ::close(queued);
        ::close(listener);
    });
    ASSERT_GE(listener, 0);
    const sockaddr_in address = loopback(server.port());
    ASSERT_EQ(::connect(queued, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

    const auto before = std::chrono::steady_clock::now();
    expect_that(error_of([&] { redis.get_from_table("t", "f"); }),
                raised("src/redis/redis_context.cpp", "Connection error: .*"));
    // Within the command time-out, not the first connection's 1.5 s.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

TEST_F(redis_context_test,
       a_transaction_carries_out_every_command_or_raises_for_the_first_refused) {
    const auto replies = m_redis.execute_transaction_sv({{"SADD", "s", "a"}, {"SCARD", "s"}});
    ASSERT_EQ(replies.as_array().size(), 2u);
    EXPECT_EQ(replies.as_array()[1].to_integer(), 1);

    // Refused while queued: nothing is carried out.
    expect_that(error_of([&] {
                    m_redis.execute_transaction_sv({{"SADD", "s", "b"}, {"HSET", "h"}});
                }),
                raised("src/redis/redis_context.cpp",
                       "Command: HSET, error: ERR wrong number of arguments .*"));
    EXPECT_EQ(m_redis.execute_command_sv({"SCARD", "s"}).to_integer(), 1);
    // Failed when carried out: the others are done, the failure named.
    expect_that(error_of([&] {
                    m_redis.execute_transaction_sv({{"HSET", "s", "f", "v"}, {"SADD", "s", "c"}});
                }),
                raised("src/redis/redis_context.cpp", "Command: HSET, error: WRONGTYPE .*"));
    EXPECT_EQ(m_redis.execute_command_sv({"SCARD", "s"}).to_integer(), 2);
}

// The connection is cut after every possible number of bytes of a transaction: the server
// holds both of its commands or neither.
TEST(redis_context_transaction, a_transaction_cut_on_the_wire_leaves_both_commands_or_neither) {
    test_support::redis_server server;
    test_support::tcp_proxy proxy(server.port());
    tvk::redis::context redis(server.address(), proxy.port(), 0);
    tvk::redis::context check(server.address(), server.port(), 0);
    const std::string key = "quillmere:devices:T1:fields";
    const std::vector<std::string> hmset{"HMSET", key, "uid", "T1", "mac_address", "AA:BB"};
    const std::vector<std::string> sadd{"SADD", "quillmere:devices:set", "T1"};
    // The bytes of a command as sent.
    const auto sent = [](const std::vector<std::string>& _words) {
        std::size_t size = ("*" + std::to_string(_words.size()) + "\r\n").size();
        for (const auto& word : _words) {
            size += ("$" + std::to_string(word.size()) + "\r\n").size() + word.size() + 2;
        }
        return size;
    };
    const std::size_t length = sent({"MULTI"}) + sent(hmset) + sent(sadd) + sent({"EXEC"});
    std::size_t both = 0;
    for (std::size_t cut = 0; cut <= length; ++cut) {
        check.flush_db();
        redis.ping(5s);  // reopened before the cut is set
        proxy.cut_after(cut);
        try {
            redis.execute_transaction_sv(
                {{hmset.begin(), hmset.end()}, {sadd.begin(), sadd.end()}});
        } catch (const tvk::libs::core::exception&) {
        }
        const bool hash = check.execute_command_sv({"EXISTS", key}).to_integer() == 1;
        const bool member =
            check.execute_command_sv({"SISMEMBER", "quillmere:devices:set", "T1"}).to_integer() ==
            1;
        EXPECT_EQ(hash, member) << "cut after " << cut << " bytes";
        both += hash ? 1 : 0;
    }
    // Only the whole transaction is carried out.
    EXPECT_EQ(both, 1u);
}

TEST(redis_reply_type, every_kind_has_its_text_and_others_raise) {
    const std::vector<std::pair<int, std::string>> kinds{
        {1, "string"}, {2, "array"}, {3, "integer"}, {4, "nil"},
        {5, "status"}, {6, "error"}, {7, "unknown"}};
    EXPECT_EQ(tvk::redis::reply_types_strings.size(), kinds.size());
    for (const auto& kind : kinds) {
        EXPECT_EQ(tvk::redis::to_string(static_cast<reply_type>(kind.first)), kind.second);
    }
    EXPECT_THROW(tvk::redis::to_string(static_cast<reply_type>(0)), std::out_of_range);
    EXPECT_THROW(tvk::redis::to_string(static_cast<reply_type>(8)), std::out_of_range);
}

}  // namespace
