// Deliveries through the running service: the built binary against a location site whose
// devices answer the frames posted for them over the message stream.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
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
// stream, but an enter that it is told to miss; at once, or late when told so.
class device {
public:
    using clock = std::chrono::steady_clock;

    device(test_support::location_site& _site, std::string _uid)
        : m_site(_site), m_uid(std::move(_uid)) {}

    // The next enter frame is lost on its way, as out of range.
    void miss_next_enter() { m_miss_next_enter = true; }
    // The first _count(zone id) enter frames of each zone are lost.
    void miss_first_enters(std::function<unsigned int(unsigned int)> _count) {
        m_miss_first = std::move(_count);
    }

    // The first leave frame of each zone is lost.
    void miss_first_leaves() { m_miss_first_leaves = true; }
    // From now on every answer is sent again _after later, as by a relay that repeats.
    void repeat_answers(std::chrono::milliseconds _after) { m_repeat_after = _after; }

    // From now on the answer to the n-th frame taken (from 0) comes _late(n) after the frame,
    // and one frame in _miss_every is lost, but never two in a row of one notice.
    void answer_late(std::function<std::chrono::milliseconds(std::size_t)> _late,
                     std::size_t _miss_every) {
        m_late = std::move(_late);
        m_miss_every = _miss_every;
    }

    // The device loses every zone it held and tells so.
    void reboot() {
        m_zones.clear();
        m_site.publish("notify", site::device_notify("NA", m_uid));
    }

    // Answers the frames posted until the device holds _zones; false at the deadline.
    bool answer_until(const std::set<unsigned int>& _zones, std::chrono::milliseconds _timeout) {
        return answer([&] { return m_zones == _zones; }, _timeout);
    }
    void answer_for(std::chrono::milliseconds _duration) {
        answer([] { return false; }, _duration);
    }

    const std::set<unsigned int>& zones() const { return m_zones; }
    // The zone id of the enter that was missed; 0 when none was.
    unsigned int missed_zone() const { return m_missed_zone; }

private:
    bool answer(const std::function<bool()>& _done, std::chrono::milliseconds _timeout) {
        return m_site.wait_for_frames(
            [&](const std::vector<test_support::posted_frame>& _frames) {
                for (; m_next < _frames.size(); ++m_next) {
                    take(_frames[m_next]);
                }
                send_due_answers();
                return _done();
            },
            _timeout);
    }

    static unsigned int field(const std::string& _hex, std::size_t _offset, std::size_t _size) {
        return static_cast<unsigned int>(std::stoul(_hex.substr(_offset, _size), nullptr, 16));
    }

    void take(const test_support::posted_frame& _frame) {
        const std::string& hex = _frame.hex;
        if (_frame.uid != m_uid || hex.size() < 18) {
            return;  // another device's, or an acknowledgement
        }
        const std::string type = hex.substr(0, 4);
        const bool enter = type == "0401";
        if (!enter && type != "0402") {
            return;
        }
        const unsigned int zone_id = enter ? field(hex, 18, 4) : field(hex, 14, 4);
        if (enter && m_miss_next_enter) {
            m_miss_next_enter = false;
            m_missed_zone = zone_id;
            return;
        }
        if (enter && m_miss_first && m_enters_missed[zone_id] < m_miss_first(zone_id)) {
            ++m_enters_missed[zone_id];
            return;
        }
        if (!enter && m_miss_first_leaves && m_leaves_missed.insert(zone_id).second) {
            return;
        }
        const std::size_t n = m_taken++;
        const auto notice = std::make_pair(enter, zone_id);
        if (m_miss_every != 0 && n % m_miss_every == m_miss_every / 2 &&
            m_missed.insert(notice).second) {
            return;
        }
        m_missed.erase(notice);
        if (enter) {
            m_zones.insert(zone_id);
        } else {
            m_zones.erase(zone_id);
        }
        const auto late = m_late ? m_late(n) : std::chrono::milliseconds::zero();
        const auto answer_at = clock::now() + late;
        m_answers.emplace(answer_at, field(hex, 8, 2));
        if (m_repeat_after.count() != 0) {
            m_answers.emplace(answer_at + m_repeat_after, field(hex, 8, 2));
        }
    }

    void send_due_answers() {
        const auto now = clock::now();
        while (!m_answers.empty() && m_answers.begin()->first <= now) {
            m_site.publish("user_msg", site::user_msg(m_uid, ack_frame(m_answers.begin()->second)));
            m_answers.erase(m_answers.begin());
        }
    }

    test_support::location_site& m_site;
    std::string m_uid;
    std::size_t m_next = 0;
    std::set<unsigned int> m_zones;
    bool m_miss_next_enter = false;
    unsigned int m_missed_zone = 0;
    std::function<unsigned int(unsigned int)> m_miss_first;
    std::map<unsigned int, unsigned int> m_enters_missed;
    bool m_miss_first_leaves = false;
    std::set<unsigned int> m_leaves_missed;
    std::chrono::milliseconds m_repeat_after{0};
    std::function<std::chrono::milliseconds(std::size_t)> m_late;
    std::size_t m_miss_every = 0;
    std::size_t m_taken = 0;
    std::set<std::pair<bool, unsigned int>> m_missed;
    std::multimap<clock::time_point, unsigned int> m_answers;
};

std::string zone_uid(unsigned int _index) {
    char uid[16];
    std::snprintf(uid, sizeof(uid), "Z%03u", _index);
    return uid;
}

// A tag T1 in _count zones Z000, Z001... with the ids 100, 101...; gives the ids.
std::set<unsigned int> in_zones(service_site& _world, unsigned int _count = 300) {
    _world.site.set_trackable_objects(site::list({site::tag("T1", "AA:01")}));
    Json::Value zones(Json::arrayValue);
    std::set<unsigned int> ids;
    for (unsigned int i = 0; i < _count; ++i) {
        zones.append(site::zone(zone_uid(i), 100 + i, "restricted", {{"T1", 1700000000}}));
        ids.insert(100 + i);
    }
    _world.site.set_zones(zones);
    return ids;
}

// Within a few delivery periods of the binary (2.5 s).
constexpr std::chrono::milliseconds delivery_deadline = 20s;

}  // namespace

// More frames than sequence numbers go out in one walk; the acknowledgement of each must count
// for that frame only, or the missed one is never sent again.
TEST(e2e_deliveries, a_rebooted_device_in_300_zones_that_misses_one_enter_ends_holding_all_300) {
    service_site world;
    const std::set<unsigned int> ids = in_zones(world);
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

// The answers come after the resend as often as not; each counts for the frame that it answers
// or for nothing, whatever the frames sent in between.
TEST(e2e_deliveries, a_device_answering_late_and_missing_frames_ends_holding_its_tags_zones) {
    service_site world;
    std::set<unsigned int> ids = in_zones(world);
    auto service = world.start_and_wait_until_initialized();

    device t1(world.site, "T1");
    t1.answer_late([](std::size_t _n) { return std::chrono::milliseconds(1000 * (1 + _n % 4)); },
                   5);
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    ASSERT_TRUE(t1.answer_until(ids, 60s)) << t1.zones().size();

    t1.reboot();
    t1.answer_for(3s);
    for (const unsigned int i : {10u, 11u, 150u, 151u, 299u}) {
        world.site.publish("zone_event",
                           site::zone_event("T1", zone_uid(i), "restricted", "leave", 1700000100));
        ids.erase(100 + i);
    }
    EXPECT_TRUE(t1.answer_until(ids, 60s)) << t1.zones().size();

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

// A location server that takes 70 ms a post: the registration's walk of 192 posts keeps the
// service busy for longer than a frame's longest wait, while the answers to its first frames
// wait unread; the device misses the first three enters of every fourth zone. Read at last, each
// counts for the frame it answers or for nothing, never for one sent later under the same number,
// so the enters that were missed are sent again.
TEST(e2e_deliveries, a_device_behind_a_slow_server_that_misses_first_frames_gets_every_zone) {
    service_site world;
    world.site.server().answer("POST", test_support::location_site::user_msg_path,
                               {200, "{}", std::chrono::milliseconds(70)});
    const std::set<unsigned int> ids = in_zones(world, 192);
    auto service = world.start_and_wait_until_initialized();

    device t1(world.site, "T1");
    t1.miss_first_enters([](unsigned int _zone_id) { return _zone_id % 4 == 2 ? 3u : 0u; });
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    EXPECT_TRUE(t1.answer_until(ids, 90s)) << t1.zones().size();

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

// A device that beats every second, faster than the delivery period: the enters that wait for
// a sequence number still go out as the device answers, and so do the leaves.
TEST(e2e_deliveries, a_device_beating_every_second_gets_the_enters_and_leaves_of_300_zones) {
    service_site world;
    const std::set<unsigned int> ids = in_zones(world);
    auto service = world.start_and_wait_until_initialized();

    device t1(world.site, "T1");
    const auto beat_until = [&](const std::set<unsigned int>& _zones) {
        const auto deadline = std::chrono::steady_clock::now() + delivery_deadline;
        while (std::chrono::steady_clock::now() < deadline) {
            world.site.publish("notify", site::device_notify("HB", "T1"));
            if (t1.answer_until(_zones, 1s)) {
                return true;
            }
        }
        return false;
    };
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    EXPECT_TRUE(beat_until(ids)) << t1.zones().size();
    for (unsigned int i = 0; i < 300; ++i) {
        world.site.publish("zone_event",
                           site::zone_event("T1", zone_uid(i), "restricted", "leave", 1700000100));
    }
    EXPECT_TRUE(beat_until({})) << t1.zones().size();

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}

// A device, or its relay, that sends every answer twice, the copy a second later. After a reboot
// its 192 enters are answered at once; 0.2 s later the tag leaves 70 zones, and the device misses
// the first send of each leave. A copy must count for no leave that took the number of an enter
// answered just before, so every leave is sent again until the device has it.
TEST(e2e_deliveries, a_device_repeating_every_answer_a_second_later_ends_holding_its_tags_zones) {
    service_site world;
    std::set<unsigned int> ids = in_zones(world, 192);
    auto service = world.start_and_wait_until_initialized();

    device t1(world.site, "T1");
    t1.repeat_answers(1s);
    world.site.publish("user_msg", site::user_msg("T1", "0405000101", "AA:01"));
    ASSERT_TRUE(t1.answer_until(ids, delivery_deadline)) << t1.zones().size();
    // The copies come, and the numbers they name rest out.
    t1.answer_for(3500ms);

    t1.reboot();
    ASSERT_TRUE(t1.answer_until(ids, delivery_deadline)) << t1.zones().size();
    t1.answer_for(200ms);
    t1.miss_first_leaves();
    for (unsigned int i = 0; i < 70; ++i) {
        world.site.publish("zone_event",
                           site::zone_event("T1", zone_uid(i), "restricted", "leave", 1700000100));
        ids.erase(100 + i);
    }
    EXPECT_TRUE(t1.answer_until(ids, delivery_deadline)) << t1.zones().size();
    // The copies still to come change nothing.
    t1.answer_for(3s);
    EXPECT_EQ(t1.zones(), ids);

    ASSERT_TRUE(service->stop(SIGTERM));
    EXPECT_EQ(service->exit_code(), 0);
}
