// Deliveries through the running service: the built binary against a location site whose
// devices answer the frames posted for them over the message stream.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "service_site.hpp"

using namespace e2e;
namespace site = test_support::site;

namespace {

// The device of one tag as the service's peer sees it: it reads the enter and leave frames
// posted for it, in order, holds the zone ids that they name, and acknowledges each on the
// stream, but an enter that it is told to miss.
class device {
public:
    device(test_support::location_site& _site, std::string _uid)
        : m_site(_site), m_uid(std::move(_uid)) {}

    // The next enter frame is lost on its way, as out of range.
    void miss_next_enter() { m_miss_next_enter = true; }

    // The device loses every zone it held and tells so.
    void reboot() {
        m_zones.clear();
        m_site.publish("notify", site::device_notify("NA", m_uid));
    }

    // Answers the frames posted until the device holds _zones; false at the deadline.
    bool answer_until(const std::set<unsigned int>& _zones, std::chrono::milliseconds _timeout) {
        return m_site.wait_for_frames(
            [&](const std::vector<test_support::posted_frame>& _frames) {
                for (; m_next < _frames.size(); ++m_next) {
                    take(_frames[m_next]);
                }
                return m_zones == _zones;
            },
            _timeout);
    }

    const std::set<unsigned int>& zones() const { return m_zones; }
    // The zone id of the enter that was missed; 0 when none was.
    unsigned int missed_zone() const { return m_missed_zone; }

private:
    static unsigned int field(const std::string& _hex, std::size_t _offset, std::size_t _size) {
        return static_cast<unsigned int>(std::stoul(_hex.substr(_offset, _size), nullptr, 16));
    }

    void take(const test_support::posted_frame& _frame) {
        const std::string& hex = _frame.hex;
        if (_frame.uid != m_uid || hex.size() < 18) {
            return;  // another device's, or an acknowledgement
        }
        const std::string type = hex.substr(0, 4);
        if (type == "0401") {
            const unsigned int zone_id = field(hex, 18, 4);
            if (m_miss_next_enter) {
                m_miss_next_enter = false;
                m_missed_zone = zone_id;
                return;
            }
            m_zones.insert(zone_id);
        } else if (type == "0402") {
            m_zones.erase(field(hex, 14, 4));
        } else {
            return;
        }
        m_site.publish("user_msg", site::user_msg(m_uid, ack_frame(field(hex, 8, 2))));
    }

    test_support::location_site& m_site;
    std::string m_uid;
    std::size_t m_next = 0;
    std::set<unsigned int> m_zones;
    bool m_miss_next_enter = false;
    unsigned int m_missed_zone = 0;
};

// Within a few delivery periods of the binary (2.5 s).
constexpr std::chrono::milliseconds delivery_deadline = 20s;

}  // namespace

// More frames than sequence numbers go out in one walk; the acknowledgement of each must count
// for that frame only, or the missed one is never sent again.
TEST(e2e_deliveries, a_rebooted_device_in_300_zones_that_misses_one_enter_ends_holding_all_300) {
    service_site world;
    world.site.set_trackable_objects(site::list({site::tag("T1", "AA:01")}));
    Json::Value zones(Json::arrayValue);
    std::set<unsigned int> ids;
    for (unsigned int i = 0; i < 300; ++i) {
        char uid[16];
        std::snprintf(uid, sizeof(uid), "Z%03u", i);
        zones.append(site::zone(uid, 100 + i, "restricted", {{"T1", 1700000000}}));
        ids.insert(100 + i);
    }
    world.site.set_zones(zones);
    auto service = world.start_and_wait_until_initialized();

    device t1(world.site, "T1");
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    ASSERT_TRUE(t1.answer_until(ids, delivery_deadline)) << t1.zones().size();

    t1.miss_next_enter();
    t1.reboot();
    EXPECT_TRUE(t1.answer_until(ids, delivery_deadline)) << t1.zones().size();
    // The walk goes in uid order: Z000 first.
    EXPECT_EQ(t1.missed_zone(), 100u);
    EXPECT_EQ(t1.zones(), ids);

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}
