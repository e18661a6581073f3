// The context updater over the real synchroniser, message stream, HTTP client, Redis mirror and
// events loop: the lists come from an in-process location server, the messages from an
// in-process publisher, and the loop runs on a thread of its own once the updater is built.
#include "context_updater.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "context/context.hpp"
#include "core/logger.hpp"
#include "test_support/location_site.hpp"
#include "updater_parts.hpp"

namespace core = tvk::libs::core;
namespace site = test_support::site;
using namespace std::chrono_literals;

namespace {

// Records what the observers of the zone events hear, as
// "<created|updated|deleted> <uid> <milliseconds> <zone id> <zone type>".
class recorder : public tvk::context::context::zone_events::observer {
public:
    void after_creating(const tvk::context::zone_event& _event, core::timestamp _ts) override {
        record("created", _event, _ts);
    }
    void after_updating(const tvk::context::zone_event& _event, core::timestamp _ts) override {
        record("updated", _event, _ts);
    }
    void before_deleting(const tvk::context::zone_event& _event, core::timestamp _ts) override {
        record("deleted", _event, _ts);
    }

    // Waits for a record that contains _text; then returns the records before it and forgets
    // them all.
    std::vector<std::string> take_until(const std::string& _text) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto holds = [&] {
            return std::any_of(m_records.begin(), m_records.end(), [&](const std::string& _r) {
                return _r.find(_text) != std::string::npos;
            });
        };
        EXPECT_TRUE(m_changed.wait_for(lock, 10s, holds)) << "no record of " << _text;
        std::vector<std::string> result;
        for (const auto& item : m_records) {
            if (item.find(_text) != std::string::npos) {
                break;
            }
            result.push_back(item);
        }
        m_records.clear();
        return result;
    }

private:
    void record(const char* _what, const tvk::context::zone_event& _event, core::timestamp _ts) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.push_back(std::string(_what) + " " + _event.get_uid() + " " +
                            std::to_string(_ts.get_time_since_epoch().count()) + " " +
                            std::to_string(_event.get_zone_id()) + " " + _event.get_zone_type());
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_records;
};

class context_updater_test : public ::testing::Test, protected updater_parts {
protected:
    context_updater_test() : updater_parts({"restricted", "workshop"}) {}

    ~context_updater_test() override { stop_loop(); }

    // Builds the updater over the site's lists and initializes it, before the loop runs,
    // then runs the loop on its own thread.
    void start() {
        build_updater();
        run_loop();
    }

    // Publishes the "zone_event" _messages, then an enter of a tag of its own, and returns what
    // the observers heard before that enter.
    std::vector<std::string> handle(const std::vector<std::string>& _messages) {
        for (const auto& message : _messages) {
            m_site.publish("zone_event", message);
        }
        const std::string sentinel = "sentinel" + std::to_string(++m_sentinels);
        m_site.publish("zone_event",
                       site::zone_event(sentinel, "Z1", "restricted", "enter", 1700000000));
        return m_recorder.take_until(sentinel + ":Z1");
    }

    static std::string text(const Json::Value& _message) {
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        return Json::writeString(builder, _message);
    }

    // The lines logged so far that contain _text. A mark logged here comes after every line
    // of the messages handled, so once it has arrived so have they.
    std::vector<std::string> lines_containing(const std::string& _text) {
        const std::string mark = "mark " + std::to_string(++m_marks);
        m_logger.info("%1%") % mark;
        EXPECT_TRUE(m_log.wait_for_line_containing(mark));
        std::vector<std::string> found;
        for (const auto& line : m_log.lines()) {
            if (line.find(_text) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

    recorder m_recorder;
    tvk::context::context::zone_events::subscription_handle m_recording =
        m_context.get_zone_events().subscribe(m_recorder);
    int m_sentinels = 0;
    int m_marks = 0;
};

}  // namespace

TEST_F(context_updater_test, start_up_adds_the_trackables_of_configured_zones_with_their_times) {
    Json::Value broken =
        site::zone("Z4", 20, "restricted", {{"T1", 1700000041}, {"T2", 1700000042}});
    broken["trackables_in_zone"][0]["entered"].removeMember("time");
    Json::Value without_id = site::zone("Z5", 0, "workshop", {{"T3", 1700000051}});
    without_id.removeMember("zone_id");
    m_site.set_zones(site::list({
        site::zone("Z1", 17, "restricted",
                   {{"T1", 1700000001}, {"T2", 1700000002}, {"T3", 1700000003}}),
        site::zone("Z2", 18, "parking", {{"T1", 1700000011}}),
        site::zone("Z3", 19, "restricted"),
        broken,
        without_id,
    }));
    start();
    EXPECT_EQ(handle({}), (std::vector<std::string>{
                              "created T1:Z1 1700000001000 17 restricted",
                              "created T2:Z1 1700000002000 17 restricted",
                              "created T3:Z1 1700000003000 17 restricted",
                              "created T2:Z4 1700000042000 20 restricted",
                              "created T3:Z5 1700000051000 0 workshop",
                          }));
    // The trackable without a time is logged and skipped; its zone's others are added.
    const auto caught = lines_containing("Caught exeption");
    ASSERT_EQ(caught.size(), 1u);
    EXPECT_NE(caught[0].find("/src/context_updater.cpp:"), std::string::npos) << caught[0];
    EXPECT_EQ(lines_containing("\"entered.time\" is not a string!").size(), 1u);
}

TEST_F(context_updater_test, zone_event_messages_add_update_and_remove_zone_events) {
    m_site.set_zones(
        site::list({site::zone("Z1", 17, "restricted"), site::zone("Z2", 18, "workshop")}));
    start();
    Json::Value ts_text = site::zone_event("T1", "Z1", "restricted", "enter", 1700000000);
    ts_text["ts"] = "1700000000";
    Json::Value no_ms = site::zone_event("T1", "Z1", "restricted", "enter", 1700000000);
    no_ms.removeMember("ms");
    Json::Value no_action = site::zone_event("T1", "Z1", "restricted", "enter", 1700000000);
    no_action.removeMember("action");
    Json::Value ts_too_large = site::zone_event("T1", "Z1", "restricted", "enter", 1700000000);
    ts_too_large["ts"] = Json::Int64(1) << 32;
    EXPECT_EQ(handle({
                  text(ts_text),
                  text(no_ms),
                  text(ts_too_large),
                  text(no_action),
                  text(site::zone_event("T1", "Z1", "parking", "leave", 1700000000)),
                  text(site::zone_event("T1", "Z1", "restricted", "enter", 1700000000, 250)),
                  text(site::zone_event("T1", "Z1", "restricted", "enter", 1700000001)),
                  text(site::zone_event("T1", "Z2", "workshop", "Leave", 1700000002)),
                  text(site::zone_event("T2", "Z1", "restricted", "leave", 1700000003)),
                  text(site::zone_event("T1", "ZX", "restricted", "enter", 1700000004)),
                  text(site::zone_event("T1", "Z1", "restricted", "leave", 1700000005, 5)),
                  text(site::zone_event("T3", "Z1", "restricted", "enter", 1700000006, -250)),
              }),
              (std::vector<std::string>{
                  "created T1:Z1 1700000000250 17 restricted",
                  "updated T1:Z1 1700000001000 17 restricted",
                  "created T1:Z2 1700000002000 18 workshop",
                  "deleted T1:Z1 1700000005005 17 restricted",
                  "created T3:Z1 1700000005750 17 restricted",
              }));
    const auto not_found = lines_containing("Zone not found ");
    ASSERT_EQ(not_found.size(), 1u);
    EXPECT_NE(not_found[0].find("tvk::context_updater::handle_zone_event: Zone not found ZX"),
              std::string::npos)
        << not_found[0];
    EXPECT_TRUE(lines_containing("Caught exeption").empty());
}

TEST_F(context_updater_test, a_message_that_is_not_json_is_logged_by_the_loop) {
    m_site.set_zones(site::list({site::zone("Z1", 17, "restricted")}));
    start();
    EXPECT_EQ(handle({"{not JSON",
                      text(site::zone_event("T1", "Z1", "restricted", "enter", 1700000000))}),
              std::vector<std::string>{"created T1:Z1 1700000000000 17 restricted"});
    const auto caught = lines_containing("Caught exeption");
    EXPECT_EQ(caught.size(), 1u);
    EXPECT_EQ(lines_containing("parse_result.ok").size(), 1u);
}
