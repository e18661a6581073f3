// The Redis mirror against a redis-server of the test's own.
#include "external_storage.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "context/context.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/exception.hpp"
#include "core/logger.hpp"
#include "core/scope_guard.hpp"
#include "redis/redis_context.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "test_support/eventually.hpp"
#include "test_support/on_loop.hpp"
#include "test_support/redis_data.hpp"
#include "test_support/redis_server.hpp"
#include "test_support/tcp_proxy.hpp"

using tvk::external_storage;
using tvk::context::device;
using tvk::context::writable_context;
using tvk::context::zone_event;
using tvk::libs::core::timestamp;
using tvk::redis::reply_element;
using namespace std::chrono_literals;

namespace {

typedef std::map<std::string, std::string> hash_t;
typedef std::vector<std::string> texts;

const timestamp t1(1714979289, 10);  // 2024-05-06T07:08:09.010Z
const timestamp t2(1714979350, 999);
const std::string t1_text = "2024-05-06T07:08:09.010Z";
const std::string t2_text = "2024-05-06T07:09:10.999Z";
const timestamp t3(1714979411, 250);
const std::string t3_text = "2024-05-06T07:10:11.250Z";

const std::string constants_key = "quillmere:constants";
const std::string events_set = "quillmere:zone_events:set";
const std::string devices_set = "quillmere:devices:set";
// The start-up read's first command as it goes on the wire.
const std::string smembers_command = "*2\r\n$8\r\nSMEMBERS\r\n$21\r\n" + devices_set + "\r\n";

zone_event event(const std::string& _tag, const std::string& _zone, timestamp _ts = t1) {
    return zone_event(zone_event::make_uid(_tag, _zone), _ts, _tag, _zone, "kitchen", 7);
}

// Records the calls of an observer subscribed after the mirror, with what Redis held then.
template <class T>
class later_observer : public tvk::libs::context_utils::objects_repository<T>::observer {
public:
    later_observer(tvk::redis::context& _redis, std::string _key_prefix)
        : m_redis(_redis), m_key_prefix(std::move(_key_prefix)) {}
    void after_creating(const T& _object, timestamp) override { record("create", _object); }
    void after_updating(const T& _object, timestamp) override { record("update", _object); }
    void before_deleting(const T& _object, timestamp) override { record("delete", _object); }

    texts calls;

private:
    void record(const std::string& _call, const T& _object) {
        const std::string key = m_key_prefix + _object.get_uid() + ":fields";
        std::string state = " unknown";  // Redis cannot be asked
        try {
            const bool stored = m_redis.execute_command_sv({"EXISTS", key}).to_integer() == 1;
            state = stored ? " stored" : " absent";
        } catch (const tvk::libs::core::exception&) {
        }
        calls.push_back(_call + " " + _object.get_uid() + state);
    }

    tvk::redis::context& m_redis;
    std::string m_key_prefix;
};

class external_storage_test : public ::testing::Test {
protected:
    external_storage_test() { m_logger.connect(m_collector.endpoint()); }

    hash_t hash(const std::string& _key) {
        hash_t fields;
        const auto reply = m_redis.execute_command_sv({"HGETALL", _key});
        const auto elements = reply.as_array();
        for (std::size_t i = 0; i + 1 < elements.size(); i += 2) {
            fields[elements[i].to_string()] = elements[i + 1].to_string();
        }
        return fields;
    }

    texts sorted(const tvk::redis::reply& _reply) {
        texts names;
        _reply.as_array().for_each_element([&names](const reply_element& _name) {
            names.push_back(_name.to_string());
            return true;
        });
        std::sort(names.begin(), names.end());
        return names;
    }
    texts members(const std::string& _set) { return sorted(m_redis.get_set_members(_set)); }
    texts keys() { return sorted(m_redis.execute_command_argv({"KEYS", "*"})); }

    void write(const std::string& _key, const hash_t& _fields) {
        for (const auto& field : _fields) {
            m_redis.set_to_table(_key, field.first, field.second);
        }
    }

    // Devices as an earlier run left them: each with its uid as MAC address, created at t1.
    void store_devices(const texts& _uids) {
        write(constants_key, {{"version", "1.3.0"}});
        for (const auto& uid : _uids) {
            write("quillmere:devices:" + uid + ":fields",
                  {{"mac_address", uid}, {"create_time", t1_text}});
            m_redis.execute_command_sv({"SADD", devices_set, uid});
        }
    }

    // The read of the stored devices A, B and C met Redis loading its data: it raised, to be
    // tried again, instead of giving fewer devices; once Redis has loaded, the read gives all.
    void expect_tried_again_once_loaded(external_storage& _storage,
                                        std::future<std::vector<device>> _read) {
        try {
            const auto devices = _read.get();
            ADD_FAILURE() << "a read that Redis could not answer gave "
                          << ::testing::PrintToString(describe(devices));
        } catch (const tvk::libs::core::exception& e) {
            EXPECT_NE(std::string(e.what()).find(", error: LOADING "), std::string::npos)
                << e.what();
        }
        ASSERT_TRUE(m_server.wait_until_loaded());
        EXPECT_EQ(describe(_storage.get_devices()),
                  (texts{"A A " + t1_text, "B B " + t1_text, "C C " + t1_text}));
        EXPECT_EQ(members(devices_set), (texts{"A", "B", "C"}));
    }

    // uid, MAC address, time and fullness of each device read back, sorted (a set has no
    // order).
    static texts describe(const std::vector<device>& _devices) {
        texts result;
        for (const auto& d : _devices) {
            result.push_back(d.get_uid() + " " + d.get_mac() + " " +
                             d.get_ts().to_iso_8601(true, 'T', true) +
                             (d.is_full() ? " full" : ""));
        }
        std::sort(result.begin(), result.end());
        return result;
    }

    test_support::redis_server m_server;
    tvk::redis::context m_redis{m_server.address(), m_server.port(), 0};
    test_support::debug_socket_collector m_collector;
    tvk::libs::core::logger m_logger{"quillmere", "test"};
    tvk::libs::core::core::ptr m_core = tvk::libs::core::core::create(m_logger);
    // Runs only in the tests that start it; the mirror's catch-up runs on it.
    tvk::libs::core::events_loop::ptr m_loop = m_core->create_events_loop("main loop");
    writable_context m_context;
};

TEST_F(external_storage_test, first_start_on_empty_redis_writes_only_the_version) {
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    EXPECT_EQ(keys(), texts{constants_key});
    EXPECT_EQ(hash(constants_key), (hash_t{{"version", "1.3.0"}}));
    EXPECT_TRUE(storage.get_devices().empty());
}

TEST_F(external_storage_test, a_later_start_clears_the_zone_events_and_reads_the_devices_back) {
    {
        external_storage storage(m_context, m_redis, m_logger, *m_loop);
        m_context.take_zone_events().add(event("T1", "Z9"), t1);
        m_context.take_devices().add(device("T1", t1, "AA:BB"), t1);
        m_context.take_devices().add(device("T2", t1, "CC:DD"), t1);
        auto marked = m_context.take_devices().try_get("T2", t2);
        (*marked)->set_full(true);
    }
    m_redis.set_to_table("quillmere_other", "f", "kept");
    m_redis.set_to_table("other:zone_events:x", "f", "kept");

    writable_context next;
    external_storage storage(next, m_redis, m_logger, *m_loop);
    EXPECT_EQ(keys(), (texts{"other:zone_events:x", constants_key, "quillmere:devices:T1:fields",
                             "quillmere:devices:T2:fields", devices_set, "quillmere_other"}));
    // The newest stored time wins; the full flag is not read back.
    EXPECT_EQ(describe(storage.get_devices()),
              (texts{"T1 AA:BB " + t1_text, "T2 CC:DD " + t2_text}));
}

TEST_F(external_storage_test, keys_of_the_prefix_without_a_version_are_all_cleared) {
    write("quillmere:devices:T1:fields", {{"uid", "T1"}, {"mac_address", "AA"}});
    m_redis.execute_command_argv({"SADD", devices_set.c_str(), "T1"});
    write("quillmere:zone_events:T1:Z9:fields", {{"uid", "T1:Z9"}});
    write("quillmere", {{"f", "v"}});
    write("quillmerex:1", {{"f", "v"}});
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    EXPECT_EQ(keys(), (texts{"quillmere", constants_key, "quillmerex:1"}));
    EXPECT_TRUE(storage.get_devices().empty());
}

TEST_F(external_storage_test, any_stored_version_text_counts_as_present) {
    write(constants_key, {{"version", "0.0.1"}});
    write("quillmere:devices:T1:fields", {{"uid", "T1"}, {"mac_address", "AA"}});
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    EXPECT_EQ(keys(), (texts{constants_key, "quillmere:devices:T1:fields"}));
    EXPECT_EQ(hash(constants_key), (hash_t{{"version", "1.3.0"}}));
}

TEST_F(external_storage_test, a_zone_event_keeps_both_times_and_its_removal_takes_hash_and_member) {
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    m_context.take_zone_events().add(event("T1", "Z9"), t1);
    {
        auto writable = m_context.take_zone_events().try_get("T1:Z9", t2);
        (*writable)->set_zone_type("hall");
        (*writable)->set_zone_id(8);
    }
    const std::string key = "quillmere:zone_events:T1:Z9:fields";
    EXPECT_EQ(hash(key), (hash_t{{"uid", "T1:Z9"},
                                 {"obj_uid", "T1"},
                                 {"zone_uid", "Z9"},
                                 {"zone_type", "hall"},
                                 {"create_time", t1_text},
                                 {"update_time", t2_text}}));
    EXPECT_EQ(members(events_set), texts{"T1:Z9"});

    m_context.take_zone_events().add(event("T1", "Z8"), t1);
    m_context.take_zone_events().remove("T1:Z9", t2);
    EXPECT_EQ(keys(), (texts{constants_key, "quillmere:zone_events:T1:Z8:fields", events_set}));
    EXPECT_EQ(members(events_set), texts{"T1:Z8"});
}

TEST_F(external_storage_test, a_device_marked_full_is_stored_with_the_time_of_the_marking) {
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    m_context.take_devices().add(device("T1", t1, "AA:BB"), t1);
    const std::string key = "quillmere:devices:T1:fields";
    EXPECT_EQ(hash(key), (hash_t{{"uid", "T1"},
                                 {"mac_address", "AA:BB"},
                                 {"create_time", t1_text},
                                 {"is_full", "false"}}));
    {
        auto writable = m_context.take_devices().try_get("T1", t2);
        (*writable)->set_full(true);
    }
    EXPECT_EQ(hash(key), (hash_t{{"uid", "T1"},
                                 {"mac_address", "AA:BB"},
                                 {"create_time", t1_text},
                                 {"update_time", t2_text},
                                 {"is_full", "true"}}));
    EXPECT_EQ(members(devices_set), texts{"T1"});

    // The context updater drops a device it does not restore directly.
    storage.before_deleting(device("T1", t1, "AA:BB"), t2);
    EXPECT_EQ(keys(), texts{constants_key});
}

TEST_F(external_storage_test, devices_that_cannot_be_read_back_are_logged_and_left_out) {
    write(constants_key, {{"version", "1.3.0"}});
    const std::string prefix = "quillmere:devices:";
    write(prefix + "A:fields", {{"mac_address", "AA"}, {"create_time", t1_text}});
    write(prefix + "B:fields", {{"mac_address", "BB"},
                                {"create_time", t1_text},
                                {"update_time", t2_text},
                                {"is_full", "true"}});
    write(prefix + "C:fields", {{"create_time", t1_text}});             // no MAC address
    write(prefix + "D:fields", {{"mac_address", "DD"}, {"uid", "D"}});  // no time
    write(prefix + "E:fields", {{"mac_address", "EE"}, {"create_time", "soon"}});
    for (const char* uid : {"A", "B", "C", "D", "E", "orphan"}) {
        m_redis.execute_command_argv({"SADD", devices_set.c_str(), uid});
    }
    external_storage storage(m_context, m_redis, m_logger, *m_loop);

    EXPECT_EQ(describe(storage.get_devices()), (texts{"A AA " + t1_text, "B BB " + t2_text}));
    EXPECT_TRUE(m_collector.wait_for([](const texts& _lines) {
        const auto count = [&](const std::string& _text) {
            return std::count_if(_lines.begin(), _lines.end(), [&](const std::string& _line) {
                return _line.find(_text) != std::string::npos;
            });
        };
        return count("Reply is not string, actual type: nil") == 3 &&
               count("timestamp: \"soon\" is invalid!") == 1;
    })) << ::testing::PrintToString(m_collector.lines());
    // The member without a hash is gone; the others stay, broken or not.
    EXPECT_EQ(members(devices_set), (texts{"A", "B", "C", "D", "E"}));
}

TEST_F(external_storage_test, get_devices_logs_a_failed_set_read_and_returns_nothing) {
    m_redis.set_to_table(devices_set, "f", "not a set");
    write(constants_key, {{"version", "1.3.0"}});
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    EXPECT_TRUE(storage.get_devices().empty());
    EXPECT_TRUE(m_collector.wait_for_line_containing(
        "Command: SMEMBERS quillmere:devices:set, error: WRONGTYPE"));
}

TEST_F(external_storage_test, a_read_of_the_devices_cut_short_raises_instead_of_giving_a_part) {
    store_devices({"A", "B", "C"});
    test_support::tcp_proxy proxy(m_server.port());
    tvk::redis::context through_proxy("127.0.0.1", proxy.port(), 0);
    external_storage storage(m_context, through_proxy, m_logger, *m_loop);
    // SMEMBERS goes through, the first HMGET is cut in the middle.
    proxy.cut_after(smembers_command.size() + 10);
    try {
        storage.get_devices();
        ADD_FAILURE() << "a read cut short gave devices";
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_NE(std::string(e.what()).find("Command: HMGET, connection error: "),
                  std::string::npos)
            << e.what();
    }
    // The next read reopens the connection and gets them all.
    EXPECT_EQ(describe(storage.get_devices()),
              (texts{"A A " + t1_text, "B B " + t1_text, "C C " + t1_text}));
}

TEST_F(external_storage_test, a_read_of_the_devices_while_redis_restarts_and_loads_raises) {
    store_devices({"A", "B", "C"});
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    m_server.restart_loading(3s);
    expect_tried_again_once_loaded(
        storage, std::async(std::launch::deferred, [&storage] { return storage.get_devices(); }));
}

TEST_F(external_storage_test, a_read_of_the_devices_that_meets_a_reload_after_the_set_raises) {
    store_devices({"A", "B", "C"});
    test_support::tcp_proxy proxy(m_server.port());
    tvk::redis::context through_proxy("127.0.0.1", proxy.port(), 0);
    external_storage storage(m_context, through_proxy, m_logger, *m_loop);
    // SMEMBERS is answered; the first HMGET waits until Redis reloads its data in place.
    proxy.hold_after(smembers_command.size());
    auto read = std::async(std::launch::async, [&storage] { return storage.get_devices(); });
    ASSERT_TRUE(test_support::eventually([&] { return proxy.holding(); }));
    m_server.reload_loading(3s);
    proxy.release();
    expect_tried_again_once_loaded(storage, std::move(read));
}

TEST_F(external_storage_test, a_stopped_loop_ends_a_start_that_redis_does_not_answer) {
    m_server.stop();
    m_loop->stop();
    external_storage::catch_up catch_up;
    catch_up.start_retry = 50ms;
    try {
        external_storage storage(m_context, m_redis, m_logger, *m_loop, catch_up);
        ADD_FAILURE() << "started without Redis";
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "Interrupted") << e.what();
    }
    EXPECT_TRUE(m_collector.wait_for_line_containing("Connection error: Connection refused"));
}

namespace {

// Something Redis goes through while the mirror prepares it at start-up (reads the version,
// clears what an earlier run left, writes the version): begun before the mirror is built, and
// ended on a thread of its own while the mirror waits.
struct start_fault {
    const char* name;
    std::function<void(test_support::redis_server&, test_support::tcp_proxy&)> begin;
    std::function<void(test_support::redis_server&, const test_support::debug_socket_collector&)>
        end;
};

void PrintTo(const start_fault& _fault, std::ostream* _out) {
    *_out << _fault.name;
}

class external_storage_start : public external_storage_test,
                               public ::testing::WithParamInterface<start_fault> {
protected:
    external_storage_start() {
        m_catch_up.start_retry = 50ms;
        m_through_proxy.set_timeout(200ms);
    }

    tvk::external_storage::catch_up m_catch_up;
    test_support::tcp_proxy m_proxy{m_server.port()};
    tvk::redis::context m_through_proxy{"127.0.0.1", m_proxy.port(), 0};
};

}  // namespace

TEST_P(external_storage_start, is_tried_again_until_redis_answers_and_keeps_the_devices) {
    // An earlier run left a device and a thousand zone events.
    store_devices({"A"});
    test_support::store_zone_events(m_server, 1000);
    GetParam().begin(m_server, m_proxy);
    std::thread ending([this] { GetParam().end(m_server, m_collector); });
    const auto join =
        tvk::libs::core::execute_on_scope_exit([&ending]() noexcept { ending.join(); });
    external_storage storage(m_context, m_through_proxy, m_logger, *m_loop, m_catch_up);
    EXPECT_EQ(test_support::redis_keys(m_server, "quillmere:*"),
              (std::set<std::string>{constants_key, "quillmere:devices:A:fields", devices_set}));
    EXPECT_EQ(hash(constants_key), (hash_t{{"version", "1.3.0"}}));
    EXPECT_EQ(describe(storage.get_devices()), texts{"A A " + t1_text});
}

INSTANTIATE_TEST_SUITE_P(
    faults, external_storage_start,
    ::testing::Values(
        start_fault{
            "restarted_and_loading",
            [](test_support::redis_server& _s, test_support::tcp_proxy&) {
                _s.restart_loading(3s);
            },
            [](test_support::redis_server&, const test_support::debug_socket_collector&) {}},
        start_fault{
            "stopped",
            [](test_support::redis_server& _s, test_support::tcp_proxy&) {
                _s.stop_keeping_data();
            },
            [](test_support::redis_server& _s, const test_support::debug_socket_collector& _log) {
                _log.wait_for_line_containing("Connection error: ");
                _s.start(true);
            }},
        start_fault{
            "frozen", [](test_support::redis_server& _s, test_support::tcp_proxy&) { _s.pause(); },
            [](test_support::redis_server& _s, const test_support::debug_socket_collector& _log) {
                _log.wait_for_line_containing("Resource temporarily unavailable");
                _s.resume();
            }},
        // Some hundred bytes into the SCAN and DEL steps.
        start_fault{
            "connection_closed_while_clearing",
            [](test_support::redis_server&, test_support::tcp_proxy& _p) { _p.cut_after(3000); },
            [](test_support::redis_server&, const test_support::debug_socket_collector&) {}}),
    [](const ::testing::TestParamInfo<start_fault>& _info) { return _info.param.name; });

TEST_F(external_storage_test, the_mirror_hears_first_and_later_observers_find_the_change_stored) {
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    later_observer<zone_event> events(m_redis, "quillmere:zone_events:");
    later_observer<device> devices(m_redis, "quillmere:devices:");
    const auto events_subscription = m_context.get_zone_events().subscribe(events);
    const auto devices_subscription = m_context.get_devices().subscribe(devices);

    m_context.take_zone_events().add(event("T1", "Z9"), t1);
    m_context.take_zone_events().remove("T1:Z9", t2);
    m_context.take_devices().add(device("T1", t1, "AA"), t1);
    m_context.take_devices().try_get("T1", t2);
    m_context.take_devices().remove("T1", t2);
    EXPECT_EQ(events.calls, (texts{"create T1:Z9 stored", "delete T1:Z9 absent"}));
    EXPECT_EQ(devices.calls, (texts{"create T1 stored", "update T1 stored", "delete T1 absent"}));

    // A failed write is logged; the repository changes and the later observers are told.
    m_server.stop();
    m_context.take_devices().add(device("T2", t1, "BB"), t1);
    EXPECT_TRUE(m_context.get_devices().is_exists("T2"));
    EXPECT_EQ(devices.calls.back(), "create T2 unknown");
    EXPECT_TRUE(m_collector.wait_for_line_containing("Connection error: Connection refused"));
    EXPECT_FALSE(storage.is_in_step());
}

TEST_F(external_storage_test, a_device_registered_after_a_redis_restart_is_stored) {
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    m_context.take_devices().add(device("T1", t1, "AA"), t1);
    m_server.stop();
    m_server.start();
    m_context.take_devices().add(device("T2", t2, "BB"), t2);
    EXPECT_EQ(
        hash("quillmere:devices:T2:fields"),
        (hash_t{
            {"uid", "T2"}, {"mac_address", "BB"}, {"create_time", t2_text}, {"is_full", "false"}}));
    EXPECT_EQ(describe(storage.get_devices()), texts{"T2 BB " + t2_text});
}

TEST_F(external_storage_test, zone_events_held_before_the_mirror_are_written_at_its_start) {
    m_context.take_zone_events().add(event("T2", "Z1"), t1);
    m_context.take_zone_events().add(event("T1", "Z1"), t1);
    const timestamp before = timestamp::current_time();
    external_storage storage(m_context, m_redis, m_logger, *m_loop);
    const timestamp after = timestamp::current_time();
    EXPECT_EQ(members(events_set), (texts{"T1:Z1", "T2:Z1"}));
    const timestamp written(hash("quillmere:zone_events:T1:Z1:fields").at("create_time"));
    EXPECT_LE(before, written);
    EXPECT_LE(written, after);
}

TEST_F(external_storage_test, a_destroyed_mirror_writes_nothing_more) {
    { external_storage storage(m_context, m_redis, m_logger, *m_loop); }
    m_context.take_devices().add(device("T1", t1, "AA"), t1);
    m_context.take_zone_events().add(event("T1", "Z9"), t1);
    EXPECT_EQ(keys(), texts{constants_key});
}

// Every key of the prefix on _server with its content, whatever the order of fields and
// members.
std::map<std::string, std::string> dump(const test_support::redis_server& _server) {
    tvk::redis::context redis(_server.address(), _server.port(), 0);
    std::map<std::string, std::string> content;
    const auto keys = redis.execute_command_sv({"KEYS", "quillmere:*"});
    keys.as_array().for_each_element([&](const reply_element& _key) {
        const std::string key = _key.to_string();
        const bool hash = redis.execute_command_sv({"TYPE", key}).to_string() == "hash";
        const auto values = redis.execute_command_sv({hash ? "HGETALL" : "SMEMBERS", key});
        const auto elements = values.as_array();
        texts words;
        for (std::size_t i = 0; i < elements.size(); i += hash ? 2 : 1) {
            words.push_back(elements[i].to_string() +
                            (hash ? "=" + elements[i + 1].to_string() : ""));
        }
        std::sort(words.begin(), words.end());
        content[key] = ::testing::PrintToString(words);
        return true;
    });
    return content;
}

// Counts what the observers after the mirrors hear.
template <class T>
struct counting_observer : tvk::libs::context_utils::objects_repository<T>::observer {
    void after_creating(const T&, timestamp) override { ++calls; }
    void after_updating(const T&, timestamp) override { ++calls; }
    void before_deleting(const T&, timestamp) override { ++calls; }
    int calls = 0;
};

// A way for Redis to be out of step: what begins it, and what ends it. The changes of the
// test come in between.
struct outage {
    const char* name;
    std::function<void(test_support::redis_server&)> begin;
    std::function<void(test_support::redis_server&)> end;
};

void PrintTo(const outage& _outage, std::ostream* _out) {
    *_out << _outage.name;
}

// A mirror whose catch-up runs on a loop of the test's own, with short periods.
class external_storage_catching_up : public external_storage_test {
protected:
    external_storage_catching_up() {
        // Short periods, and batches of two objects, so that a rewrite takes several turns.
        m_catch_up.first_retry = 50ms;
        m_catch_up.last_retry = 400ms;
        m_catch_up.check_period = 50ms;
        m_catch_up.probe_timeout = 100ms;
        m_catch_up.batch_size = 2;
        m_redis.set_timeout(200ms);
    }
    ~external_storage_catching_up() override { stop_loop(); }

    void run_loop() {
        m_thread = std::thread([this] { m_loop->run_catch_exceptions(TVK_SOURCE_LOCATION); });
    }
    void stop_loop() {
        if (m_thread.joinable()) {
            m_loop->stop();
            m_thread.join();
        }
    }
    template <class F>
    auto on_loop(F _f) -> decltype(_f()) {
        return test_support::on_loop(*m_loop, std::move(_f));
    }

    tvk::external_storage::catch_up m_catch_up;
    tvk::libs::core::events_loop::work::ptr m_work = m_loop->create_work();
    std::thread m_thread;
};

// A mirror on a Redis that fails, beside one on a Redis that does not, over the same context
// and a running loop: once caught up, both Redis servers hold the same.
class external_storage_outage : public external_storage_catching_up,
                                public ::testing::WithParamInterface<outage> {
protected:
    ~external_storage_outage() override { stop_loop(); }

    test_support::redis_server m_healthy_server;
    tvk::redis::context m_healthy{m_healthy_server.address(), m_healthy_server.port(), 0};
};

TEST_P(external_storage_outage, redis_catches_up_by_itself_and_the_change_goes_on_meanwhile) {
    // An earlier run left three devices: T5 is restored, T6's tag cannot be checked and T7
    // cannot be read, so both stay in Redis as they are.
    for (const test_support::redis_server* server : {&m_server, &m_healthy_server}) {
        server->command({"HSET", constants_key, "version", "1.3.0"});
        server->command({"SADD", devices_set, "T5", "T6", "T7"});
        server->command({"HSET", "quillmere:devices:T5:fields", "uid", "T5", "mac_address", "AA:T5",
                         "create_time", t1_text, "update_time", t2_text, "is_full", "true"});
        server->command({"HSET", "quillmere:devices:T6:fields", "uid", "T6", "mac_address", "AA:T6",
                         "create_time", t1_text, "is_full", "false"});
        server->command(
            {"HSET", "quillmere:devices:T7:fields", "uid", "T7", "create_time", t1_text});
    }
    external_storage storage(m_context, m_redis, m_logger, *m_loop, m_catch_up);
    external_storage healthy(m_context, m_healthy, m_logger, *m_loop);
    EXPECT_EQ(describe(storage.get_devices()),
              (texts{"T5 AA:T5 " + t2_text, "T6 AA:T6 " + t1_text}));
    EXPECT_EQ(describe(healthy.get_devices()), describe(storage.get_devices()));
    m_context.take_devices().add(device("T5", t2, "AA:T5"), t2);
    counting_observer<zone_event> later_events;
    counting_observer<device> later_devices;
    const auto events_subscription = m_context.get_zone_events().subscribe(later_events);
    const auto devices_subscription = m_context.get_devices().subscribe(later_devices);
    for (const char* tag : {"T1", "T2"}) {
        m_context.take_zone_events().add(event(tag, "Z1"), t1);
        m_context.take_devices().add(device(tag, t1, "AA:" + std::string(tag)), t1);
    }
    run_loop();
    const auto stop = tvk::libs::core::execute_on_scope_exit([this]() noexcept { stop_loop(); });
    ASSERT_EQ(dump(m_server), dump(m_healthy_server));

    GetParam().begin(m_server);
    // Only the first change may wait for Redis; the others are noted for the catch-up.
    const auto slowest_after_first = on_loop([this] {
        std::vector<std::function<void()>> changes{
            [this] { (*m_context.take_zone_events().try_get("T1:Z1", t2))->set_zone_type("hall"); },
            [this] { m_context.take_zone_events().remove("T2:Z1", t2); },
            [this] { m_context.take_zone_events().add(event("T3", "Z1", t2), t2); },
            [this] { m_context.take_devices().add(device("T3", t2, "AA:T3"), t2); },
            [this] { (*m_context.take_devices().try_get("T1", t2))->set_full(true); },
            [this] { m_context.take_devices().remove("T2", t2); }};
        std::chrono::steady_clock::duration slowest{};
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const auto began = std::chrono::steady_clock::now();
            changes[i]();
            if (i > 0) {
                slowest = std::max(slowest, std::chrono::steady_clock::now() - began);
            }
        }
        return slowest;
    });
    EXPECT_LT(slowest_after_first, 100ms);
    EXPECT_EQ(later_events.calls + later_devices.calls, 4 + 6);
    GetParam().end(m_server);

    EXPECT_TRUE(test_support::eventually([&] {
        return on_loop([&] { return storage.is_in_step(); }) &&
               dump(m_server) == dump(m_healthy_server);
    })) << ::testing::PrintToString(dump(m_server))
        << "\n"
        << ::testing::PrintToString(dump(m_healthy_server));
    EXPECT_EQ(dump(m_server).count("quillmere:devices:T3:fields"), 1u);
    EXPECT_EQ(hash("quillmere:devices:T5:fields").count("update_time"), 1u);
    EXPECT_EQ(members(devices_set), (texts{"T1", "T3", "T5", "T6", "T7"}));

    // In step again: a change is written at once.
    on_loop([this] { m_context.take_devices().add(device("T4", t2, "AA:T4"), t2); });
    EXPECT_EQ(dump(m_server), dump(m_healthy_server));
}

INSTANTIATE_TEST_SUITE_P(
    outages, external_storage_outage,
    ::testing::Values(
        outage{"stopped_then_back_with_its_data",
               [](test_support::redis_server& _s) { _s.stop_keeping_data(); },
               [](test_support::redis_server& _s) { _s.start(true); }},
        outage{"killed_then_back_empty", [](test_support::redis_server& _s) { _s.kill(); },
               [](test_support::redis_server& _s) { _s.start(); }},
        outage{"frozen", [](test_support::redis_server& _s) { _s.pause(); },
               [](test_support::redis_server& _s) { _s.resume(); }},
        // Nothing fails while the changes are written; the restart is found without a change.
        outage{"restarted_empty_afterwards", [](test_support::redis_server&) {},
               [](test_support::redis_server& _s) {
                   _s.kill();
                   _s.start();
               }},
        outage{"restarted_with_older_data_afterwards",
               [](test_support::redis_server& _s) { _s.command({"SAVE"}); },
               [](test_support::redis_server& _s) {
                   _s.kill();
                   _s.start(true);
               }}),
    [](const ::testing::TestParamInfo<outage>& _info) { return _info.param.name; });

// A device hash that an earlier run left for the uid K, and the creation of K's device.
struct recreation {
    const char* name;
    hash_t stored;
    bool read;  // by the start-up read
    timestamp ts;
    std::string mac;
    // The hash after the creation, and after the next start restored the device.
    hash_t expected;
};

void PrintTo(const recreation& _case, std::ostream* _out) {
    *_out << _case.name;
}

const hash_t kept_k{{"uid", "K"},
                    {"mac_address", "AA:K"},
                    {"create_time", t1_text},
                    {"update_time", t2_text},
                    {"is_full", "true"},
                    {"note", "stale"}};
hash_t written_k(const std::string& _mac, const std::string& _time) {
    return {{"uid", "K"}, {"mac_address", _mac}, {"create_time", _time}, {"is_full", "false"}};
}

// Written at once, or by the catch-up after Redis failed the write.
class external_storage_recreation
    : public external_storage_catching_up,
      public ::testing::WithParamInterface<std::tuple<recreation, bool>> {};

// A registration writes the device's hash anew: an older "update_time" left beside the new
// "create_time" would be read back at the next start as the device's time.
TEST_P(external_storage_recreation, the_hash_holds_the_new_fields_and_the_next_start_its_time) {
    const recreation& c = std::get<0>(GetParam());
    const bool caught_up = std::get<1>(GetParam());
    const std::string key = "quillmere:devices:K:fields";
    write(constants_key, {{"version", "1.3.0"}});
    write(key, c.stored);
    m_redis.execute_command_sv({"SADD", devices_set, "K"});
    {
        external_storage storage(m_context, m_redis, m_logger, *m_loop, m_catch_up);
        if (c.read) {
            storage.get_devices();
        }
        if (caught_up) {
            m_server.stop_keeping_data();
        }
        m_context.take_devices().add(device("K", c.ts, c.mac), c.ts);
        if (caught_up) {
            EXPECT_FALSE(storage.is_in_step());
            m_server.start(true);
            run_loop();
            EXPECT_TRUE(test_support::eventually(
                [&] { return on_loop([&] { return storage.is_in_step(); }); }));
            stop_loop();
        }
        EXPECT_EQ(hash(key), c.expected);
        EXPECT_EQ(members(devices_set), texts{"K"});
    }

    // The next start, on a loop that has not been stopped.
    writable_context next;
    const auto next_loop = m_core->create_events_loop("next loop");
    external_storage storage(next, m_redis, m_logger, *next_loop);
    const auto devices = storage.get_devices();
    EXPECT_EQ(describe(devices), texts{"K " + c.mac + " " + c.ts.to_iso_8601(true, 'T', true)});
    ASSERT_EQ(devices.size(), 1u);
    next.take_devices().add(device(devices[0]), devices[0].get_ts());
    EXPECT_EQ(hash(key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    devices, external_storage_recreation,
    ::testing::Combine(
        ::testing::Values(
            // Read but not restored (its tag could not be checked), then registered.
            recreation{"left_out", kept_k, true, t3, "AA:K", written_k("AA:K", t3_text)},
            // At the time read, with another MAC address: not the device read.
            recreation{"left_out_another_mac", kept_k, true, t2, "BB:K",
                       written_k("BB:K", t2_text)},
            recreation{"unreadable",
                       {{"create_time", t1_text}, {"update_time", t2_text}, {"note", "stale"}},
                       true,
                       t3,
                       "AA:K",
                       written_k("AA:K", t3_text)},
            recreation{"not_read", kept_k, false, t3, "AA:K", written_k("AA:K", t3_text)},
            // Restored as read: its stored fields stay, but for those not the mirror's.
            recreation{"restored",
                       kept_k,
                       true,
                       t2,
                       "AA:K",
                       {{"uid", "K"},
                        {"mac_address", "AA:K"},
                        {"create_time", t2_text},
                        {"update_time", t2_text},
                        {"is_full", "false"}}}),
        ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<recreation, bool>>& _info) {
        return std::string(std::get<0>(_info.param).name) +
               (std::get<1>(_info.param) ? "_caught_up" : "_at_once");
    });

}  // namespace
