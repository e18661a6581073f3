// Faults of the location server at a refresh of its lists. The service reloads them every 3
// hours, too seldom for a run of the binary, so its parts are assembled here as the application
// does (the real synchroniser, HTTP client, message stream, Redis mirror, messenger and
// dispatcher over an in-process location server and Redis) with a refresh period of a moment.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/optional.hpp>
#include <chrono>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "context/context.hpp"
#include "core/timestamp.hpp"
#include "dispatcher.hpp"
#include "messenger_impl.hpp"
#include "test_support/eventually.hpp"
#include "test_support/location_site.hpp"
#include "test_support/redis_data.hpp"
#include "updater_parts.hpp"

namespace core = tvk::libs::core;
namespace objects = tvk::libs::context_utils::objects;
namespace site = test_support::site;
using test_support::eventually;
using test_support::http_answer;
using namespace std::chrono_literals;

namespace {

typedef std::vector<std::string> strings;

// What the observers of a repository hear, as "<created|updated|deleted> <uid>"; filled on
// the loop's thread, read on the test's.
template <class T>
class recorder : public tvk::libs::context_utils::objects_repository<T>::observer {
public:
    void after_creating(const T& _object, core::timestamp) override { record("created", _object); }
    void after_updating(const T& _object, core::timestamp) override { record("updated", _object); }
    void before_deleting(const T& _object, core::timestamp) override { record("deleted", _object); }

    strings events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

private:
    void record(const char* _what, const T& _object) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(_what + std::string(" ") + _object.get_uid());
    }

    mutable std::mutex m_mutex;
    strings m_events;
};

// One answer given to both lists at one refresh, the period that lets it be seen to the end,
// and a text of the line that logs it for the list of a path and an answer key.
struct refresh_fault {
    const char* name;
    test_support::http_answer answer;
    std::chrono::milliseconds period;
    std::string (*logged)(const std::string& _path, const std::string& _key);
};

void PrintTo(const refresh_fault& _fault, std::ostream* _out) {
    *_out << _fault.name;
}

class refresh_faults : public ::testing::TestWithParam<refresh_fault>, protected updater_parts {
protected:
    refresh_faults() : updater_parts({"restricted"}) {}

    ~refresh_faults() override { stop_loop(); }

    // Builds the parts over the site's lists as the application does, with _period between
    // refreshes, then runs the loop on its own thread.
    void start(std::chrono::milliseconds _period) {
        build_updater(_period);
        m_messenger = std::make_unique<tvk::messenger_impl>(*m_stream, *m_client, m_logger);
        m_dispatcher =
            std::make_unique<tvk::dispatcher>(*m_loop, m_context, m_logger, *m_messenger);
        m_tags_subscription.emplace(m_context.get_trackable_objects().subscribe(m_tags));
        m_zones_subscription.emplace(m_context.get_zones().subscribe(m_zones));
        run_loop();
    }

    // Waits until _count log lines contain _text.
    bool wait_for_lines(const std::string& _text, std::size_t _count) const {
        return m_log.wait_for(
            [&](const std::vector<std::string>& _lines) {
                return static_cast<std::size_t>(std::count_if(
                           _lines.begin(), _lines.end(), [&](const std::string& _line) {
                               return _line.find(_text) != std::string::npos;
                           })) >= _count;
            },
            10s);
    }

    std::set<std::string> stored_devices() const {
        return test_support::redis_set(m_site.redis(), "quillmere:devices:set");
    }

    std::unique_ptr<tvk::messenger> m_messenger;
    std::unique_ptr<tvk::dispatcher> m_dispatcher;
    recorder<objects::trackable_object> m_tags;
    recorder<objects::zone> m_zones;
    boost::optional<tvk::context::context::trackable_objects::subscription_handle>
        m_tags_subscription;
    boost::optional<tvk::context::context::zones::subscription_handle> m_zones_subscription;
};

}  // namespace

TEST_P(refresh_faults, a_failed_refresh_changes_nothing_and_the_next_one_applies) {
    const refresh_fault& fault = GetParam();
    auto& redis = m_site.redis();
    redis.command({"HSET", "quillmere:constants", "version", "1.3.0"});
    redis.command({"SADD", "quillmere:devices:set", "T1"});
    redis.command({"HSET", "quillmere:devices:T1:fields", "uid", "T1", "mac_address", "AA:01",
                   "create_time", site::iso_time(1690000100), "is_full", "false"});
    m_site.set_trackable_objects(site::list({site::tag("T1", "AA:01"), site::tag("T2", "AA:02")}));
    m_site.set_zones(site::list({site::zone("Z1", 17, "restricted", {{"T1", 1700000001}}),
                                 site::zone("Z2", 18, "restricted")}));
    start(fault.period);
    ASSERT_EQ(stored_devices(), std::set<std::string>{"T1"});

    // The next refresh meets the fault; the one after it finds T1 without its node, and Z2
    // gone.
    m_site.server().answer_once("GET", "/api/private/track_obj/", fault.answer);
    m_site.server().answer_once("GET", "/api/private/zones/", fault.answer);
    m_site.set_trackable_objects(site::list({site::tag("T1"), site::tag("T2", "AA:02")}));
    m_site.set_zones(site::list({site::zone("Z1", 17, "restricted", {{"T1", 1700000001}})}));

    for (const auto& list : {std::make_pair("/api/private/track_obj/", "trackableObjects"),
                             std::make_pair("/api/private/zones/", "zones")}) {
        const std::string logged = fault.logged(list.first, list.second);
        ASSERT_TRUE(wait_for_lines(logged, 1)) << logged;
    }
    EXPECT_TRUE(m_tags.events().empty());
    EXPECT_TRUE(m_zones.events().empty());
    EXPECT_EQ(stored_devices(), std::set<std::string>{"T1"});

    ASSERT_TRUE(eventually([&] { return stored_devices().empty(); }));
    ASSERT_TRUE(eventually([&] { return m_zones.events().size() >= 2; }));
    const auto tags = m_tags.events();
    const auto zones = m_zones.events();
    ASSERT_GE(tags.size(), 2u);
    EXPECT_EQ(strings(tags.begin(), tags.begin() + 2), (strings{"updated T1", "updated T2"}));
    EXPECT_EQ(strings(zones.begin(), zones.begin() + 2), (strings{"updated Z1", "deleted Z2"}));
}

INSTANTIATE_TEST_SUITE_P(
    service, refresh_faults,
    ::testing::Values(
        refresh_fault{"answer_500", http_answer{500, "overloaded"}, 300ms,
                      [](const std::string& _path, const std::string&) {
                          return "Request failed with code: 500, addr: " + _path;
                      }},
        // The client's one worker thread waits out both lists' time-outs (1 s each) before the
        // next refresh would replace them.
        refresh_fault{"no_answer_until_the_time_out", http_answer{200, "{}", 2s}, 2600ms,
                      [](const std::string& _path, const std::string&) {
                          return "Request failed with code: -1, addr: " + _path;
                      }},
        refresh_fault{"answer_that_is_not_json", http_answer{200, "<html>busy</html>"}, 300ms,
                      [](const std::string& _path, const std::string&) {
                          return "Refused the answer of " + _path + ": parse error: ";
                      }},
        refresh_fault{"answer_without_the_list", http_answer{200, R"({"error": "busy"})"}, 300ms,
                      [](const std::string& _path, const std::string& _key) {
                          return "Refused the answer of " + _path + ": \"" + _key +
                                 "\" is not an array!";
                      }},
        refresh_fault{"answer_with_an_element_without_uid",
                      http_answer{200, R"({"trackableObjects": [{"name": "x"}],
                                           "zones": [{"name": "x"}]})"},
                      300ms,
                      [](const std::string& _path, const std::string&) {
                          return "Refused the answer of " + _path +
                                 R"(: element 0: "uid" is not a string!)";
                      }}),
    [](const ::testing::TestParamInfo<refresh_fault>& _info) { return _info.param.name; });
