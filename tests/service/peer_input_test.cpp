// What the service's peers send that it must not take at face value: a tag whose "node" is
// malformed, and texts of a megabyte in the fields that log lines quote. The parts are
// assembled as the application does (the real synchroniser, HTTP client, message stream, Redis
// mirror, messenger and dispatcher over an in-process location server and Redis).
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/optional.hpp>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dispatcher.hpp"
#include "messenger_impl.hpp"
#include "test_support/eventually.hpp"
#include "test_support/location_site.hpp"
#include "test_support/redis_data.hpp"
#include "updater_parts.hpp"

namespace site = test_support::site;
using test_support::eventually;
using namespace std::chrono_literals;

namespace {

class peer_input : public ::testing::Test, protected updater_parts {
protected:
    peer_input() : updater_parts({"restricted"}) {}

    ~peer_input() override { stop_loop(); }

    // Builds the parts over the site's lists as the application does and runs the loop.
    void start() {
        build_updater();
        m_messenger = std::make_unique<tvk::messenger_impl>(*m_stream, *m_client, m_logger);
        m_dispatcher =
            std::make_unique<tvk::dispatcher>(*m_loop, m_context, m_logger, *m_messenger);
        run_loop();
    }

    // A device as a previous run left it in Redis.
    void store_device(const std::string& _uid, const std::string& _mac) {
        auto& redis = m_site.redis();
        redis.command({"HSET", "quillmere:constants", "version", "1.3.0"});
        redis.command({"SADD", "quillmere:devices:set", _uid});
        redis.command({"HSET", "quillmere:devices:" + _uid + ":fields", "uid", _uid, "mac_address",
                       _mac, "create_time", site::iso_time(1690000100), "is_full", "false"});
    }

    std::set<std::string> stored_devices() const {
        return test_support::redis_set(m_site.redis(), "quillmere:devices:set");
    }

    std::vector<std::string> lines_containing(const std::string& _text) const {
        std::vector<std::string> found;
        for (const auto& line : m_log.lines()) {
            if (line.find(_text) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

    std::unique_ptr<tvk::messenger> m_messenger;
    std::unique_ptr<tvk::dispatcher> m_dispatcher;
};

}  // namespace

TEST_F(peer_input, a_node_that_is_not_an_object_is_logged_and_keeps_the_device) {
    struct node_case {
        std::string tag;
        boost::optional<Json::Value> node;  // none: the tag has no "node"
        bool kept;
    };
    Json::Value list(Json::arrayValue);
    list.append(1);
    const std::vector<node_case> cases = {
        {"T1", Json::Value(5), true}, {"T2", Json::Value("x"), true},
        {"T3", list, true},           {"T4", Json::Value(Json::nullValue), false},
        {"T5", boost::none, false},
    };
    Json::Value tags(Json::arrayValue);
    for (const auto& c : cases) {
        store_device(c.tag, "AA:" + c.tag);
        tags.append(site::tag(c.tag, "AA:" + c.tag));
    }
    // Malformed at the start already: the device is not restored, its Redis entries stay.
    store_device("T6", "AA:T6");
    Json::Value t6 = site::tag("T6");
    t6["node"] = "x";
    tags.append(t6);
    m_site.set_trackable_objects(tags);
    start();
    EXPECT_EQ(stored_devices(), (std::set<std::string>{"T1", "T2", "T3", "T4", "T5", "T6"}));

    std::set<std::string> kept = {"T6"};
    for (const auto& c : cases) {
        Json::Value tag = site::tag(c.tag);
        if (c.node) {
            tag["node"] = *c.node;
        }
        m_site.publish("notify", site::notify("TRACKABLE_OBJECT", "updated", tag, 1700000100));
        if (c.kept) {
            kept.insert(c.tag);
        }
    }
    ASSERT_TRUE(eventually([&] { return stored_devices() == kept; }));

    const std::string kept_line = R"(: "node" is not an object, its device is kept)";
    ASSERT_TRUE(m_log.wait_for([&](const std::vector<std::string>& _lines) {
        return std::count_if(_lines.begin(), _lines.end(), [&](const std::string& _line) {
                   return _line.find(kept_line) != std::string::npos;
               }) >= 3;
    }));
    const auto malformed = lines_containing(kept_line);
    ASSERT_EQ(malformed.size(), 3u);
    for (std::size_t i = 0; i < malformed.size(); ++i) {
        EXPECT_NE(malformed[i].find("/src/dispatcher.cpp:"), std::string::npos) << malformed[i];
        EXPECT_NE(malformed[i].find("Trackable object " + cases[i].tag + ": "), std::string::npos)
            << malformed[i];
    }
    const auto not_restored = lines_containing("Device T6 is not restored");
    ASSERT_EQ(not_restored.size(), 1u);
    EXPECT_NE(not_restored[0].find(R"(/src/context_updater.cpp:)"), std::string::npos);
    EXPECT_NE(not_restored[0].find(R"("node" is not an object!)"), std::string::npos);
}

// Every log line quotes at most 1 KiB of a text that a peer sent, and says how long it was.
TEST_F(peer_input, megabyte_texts_of_peers_give_log_lines_of_a_few_kib) {
    const std::size_t megabyte = 1 << 20;
    const std::string cut = "... (1048576 bytes)";
    const std::string zone_uid(megabyte, 'z');
    const std::string dev_uid(megabyte, 'd');
    const std::string hex = "0405000101" + std::string(megabyte - 10, 'A');
    const std::string answer(megabyte, 'e');
    const std::string zone_cut = zone_uid.substr(0, 1024) + cut;
    const std::string dev_cut = dev_uid.substr(0, 1024) + cut;
    m_site.set_zones(site::list({site::zone(zone_uid, 17, "restricted")}));
    start();

    // T1 registers and enters the zone; the zone goes, and T2 enters it.
    m_site.publish("user_msg", site::user_msg("T1", "040500012A"));
    ASSERT_TRUE(eventually([&] { return stored_devices().count("T1") == 1; }));
    m_site.publish("zone_event",
                   site::zone_event("T1", zone_uid, "restricted", "enter", 1700000000));
    ASSERT_TRUE(m_site.wait_for_frame_count(2));
    m_site.publish("notify", site::notify("ZONE", "deleted", site::zone(zone_uid, 17, "restricted"),
                                          1700000001));
    m_site.publish("zone_event",
                   site::zone_event("T2", zone_uid, "restricted", "enter", 1700000002));
    ASSERT_TRUE(m_log.wait_for_line_containing("Zone not found " + zone_cut, 10s));
    // A device of a megabyte uid registers; the server refuses its acknowledgement with a
    // megabyte answer.
    m_site.server().answer("POST", test_support::location_site::user_msg_path, {500, answer});
    m_site.publish("user_msg", site::user_msg(dev_uid, hex));
    ASSERT_TRUE(m_log.wait_for_line_containing("user_msg: ", 10s));
    // T1's device reboots: its enter cannot be described without the zone.
    m_site.publish("notify", site::device_notify("NA", "T1"));
    ASSERT_TRUE(m_log.wait_for(
        [&](const std::vector<std::string>& _lines) {
            return std::any_of(_lines.begin(), _lines.end(), [&](const std::string& _line) {
                return _line.find("/src/dispatcher.cpp:") != std::string::npos &&
                       _line.find(" Zone not found " + zone_cut) != std::string::npos;
            });
        },
        10s));

    const std::string body_start = R"({"data":{"hex":"0400000101"},"uid":")";
    const std::string quoted[] = {
        "tvk::context_updater::handle_zone_event: Zone not found " + zone_cut,
        "From BRUQ " + dev_cut + ": " + hex.substr(0, 1024) + cut,
        "Ack for " + dev_cut,
        "To BRUQ " + dev_cut + ": 0400000101",
        " " + answer.substr(0, 1024) + cut,
        "user_msg: " + body_start + dev_uid.substr(0, 1024 - body_start.size()) + "... (" +
            std::to_string(body_start.size() + megabyte + 2) + " bytes)",
    };
    for (const auto& text : quoted) {
        EXPECT_EQ(lines_containing(text).size(), 1u) << text.substr(0, 80);
    }

    const auto lines = m_log.lines();
    const auto longest = std::max_element(
        lines.begin(), lines.end(),
        [](const std::string& _a, const std::string& _b) { return _a.size() < _b.size(); });
    ASSERT_NE(longest, lines.end());
    EXPECT_LT(longest->size(), 4096u) << longest->substr(0, 200);
}
