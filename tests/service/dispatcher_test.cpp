// The dispatcher over real repositories, timers and events loop, with a recording stand-in of
// the messenger and a short delivery period. The loop runs on the test's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/optional.hpp>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "context/context.hpp"
#include "context/device.hpp"
#include "context/zone_event.hpp"
#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "dispatcher.hpp"
#include "fake_location_objects.hpp"
#include "recording_messenger.hpp"
#include "test_support/debug_socket_collector.hpp"
#include "writable_zone_event.hpp"

using service_test::fake_manager;
using service_test::fake_trackable_object;
using service_test::fake_zone;
using service_test::recording_messenger;
using service_test::zone_fields;
using tvk::dispatcher;
using tvk::writable_zone_event;
using tvk::context::device;
using tvk::context::zone_event;
using tvk::libs::core::timestamp;
namespace objects = tvk::libs::context_utils::objects;
namespace core = tvk::libs::core;
using namespace std::chrono_literals;

namespace {

const timestamp t1(1700000001, 0);
const timestamp t2(1700000002, 0);
const timestamp t3(1700000003, 0);

// The service's context with tags T1 (node AA) and T2 (node BB) and zones Z1, Z2 and Z3 (ids
// 17, 18 and 19), a recording messenger and a dispatcher with a short delivery period.
class world {
public:
    static constexpr std::chrono::milliseconds period{40};

    explicit world(std::chrono::milliseconds _period = period) : m_period(_period) {
        m_logger.connect(m_collector.endpoint());
        auto tags = std::make_unique<fake_manager<objects::trackable_object>>();
        m_tags = &tags->objects();
        m_context.set_trackable_objects(std::move(tags));
        auto zones = std::make_unique<fake_manager<objects::zone>>();
        m_zones = &zones->objects();
        m_context.set_zones(std::move(zones));
        set_tag("T1", std::string("AA"));
        set_tag("T2", std::string("BB"));
        set_zone(zone_with_id("Z1", 17));
        set_zone(zone_with_id("Z2", 18));
        set_zone(zone_with_id("Z3", 19));
        start();
    }

    ~world() { m_dispatcher.reset(); }

    void start() {
        m_dispatcher =
            std::make_unique<dispatcher>(*m_loop, m_context, m_logger, m_messenger, m_period);
    }

    static zone_fields zone_with_id(std::string _uid, unsigned int _zone_id) {
        zone_fields fields;
        fields.uid = std::move(_uid);
        fields.zone_id = _zone_id;
        return fields;
    }

    // The location server's side.
    void set_zone(zone_fields _fields, timestamp _ts = t1) {
        m_zones->update_or_add(std::make_unique<fake_zone>(std::move(_fields)), _ts);
    }
    void delete_zone(const std::string& _uid) { m_zones->remove(_uid, t2); }
    void set_tag(const std::string& _uid, boost::optional<std::string> _mac, timestamp _ts = t1) {
        m_tags->update_or_add(std::make_unique<fake_trackable_object>(_uid, std::move(_mac)), _ts);
    }
    void delete_tag(const std::string& _uid) { m_tags->remove(_uid, t2); }

    // Zone events as the context updater writes them: a second enter is an update.
    void enter(const std::string& _tag, const std::string& _zone, timestamp _ts = t1) {
        const std::string uid = zone_event::make_uid(_tag, _zone);
        const auto zone = m_zones->try_get(_zone);
        const unsigned int zone_id = zone ? zone->get_zone_id().value_or(0) : 0;
        auto& events = m_context.take_zone_events();
        auto access = events.try_get(uid, _ts);
        if (!access) {
            events.add(zone_event(uid, _ts, _tag, _zone, "alarm", zone_id), _ts);
            return;
        }
        zone_event& event = **access;
        event.set_ts(_ts);
        event.set_zone_id(zone_id);
    }
    void leave(const std::string& _tag, const std::string& _zone, timestamp _ts = t2) {
        m_context.take_zone_events().remove(zone_event::make_uid(_tag, _zone), _ts);
    }

    // The devices' side.
    void register_device(const std::string& _tag, const std::string& _mac = "AA",
                         timestamp _ts = t1) {
        m_messenger.register_tag(_tag, _mac, _ts);
    }
    void ack(const std::string& _tag, unsigned int _seq_no, timestamp _ts = t3) {
        m_messenger.ack(_tag, _seq_no, _ts);
    }
    // Acknowledges the latest frame sent to _tag's device.
    void ack_last(const std::string& _tag, timestamp _ts = t3) { ack(_tag, last_seq(_tag), _ts); }
    void nack(const std::string& _tag, timestamp _ts = t3) {
        m_messenger.nack(_tag, last_seq(_tag), 1, _ts);
    }
    void reboot(const std::string& _tag) { m_messenger.reboot(_tag); }
    void heartbeat(const std::string& _tag) { m_messenger.heartbeat(_tag); }

    unsigned int last_seq(const std::string& _tag) const {
        for (auto it = m_messenger.m_frames.rbegin(); it != m_messenger.m_frames.rend(); ++it) {
            if (it->uid == _tag) {
                return it->seq_no;
            }
        }
        return 0;
    }

    // "ADD 1", "REMOVE 0", "ACKED 0 no timer"... or "none".
    std::string record(const std::string& _uid) const {
        const auto& records = m_dispatcher->get_records();
        const auto found = records.find(_uid);
        if (found == records.end()) {
            return "none";
        }
        static const char* const statuses[] = {"ADD", "REMOVE", "ACKED"};
        const writable_zone_event& r = found->second;
        return std::string(statuses[r.get_sending_status()]) + " " +
               std::to_string(r.get_attempt_counter()) + (r.has_timer() ? "" : " no timer");
    }
    const writable_zone_event& record_of(const std::string& _uid) const {
        return m_dispatcher->get_records().at(_uid);
    }

    // "AA", "AA full" or "none".
    std::string device_state(const std::string& _tag) const {
        const auto d = m_context.get_devices().try_get(_tag);
        if (!d) {
            return "none";
        }
        return d->get_mac() + (d->is_full() ? " full" : "");
    }

    std::vector<std::string> frames(std::size_t _first = 0) const {
        return m_messenger.texts(_first);
    }
    std::size_t frame_count() const { return m_messenger.m_frames.size(); }

    // Runs the loop's handlers until _done() holds or _timeout passes. What a handler throws
    // is kept, as the service's loop logs it and runs on.
    bool run_until(const std::function<bool()>& _done, std::chrono::milliseconds _timeout = 5s) {
        auto& io = m_loop->get_io_context();
        const auto deadline = std::chrono::steady_clock::now() + _timeout;
        while (!_done()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            io.restart();
            try {
                if (io.run_one_for(5ms) == 0) {
                    std::this_thread::sleep_for(1ms);
                }
            } catch (const std::exception& e) {
                m_loop_errors.push_back(e.what());
            }
        }
        return true;
    }
    void run_for(std::chrono::milliseconds _duration) {
        run_until([] { return false; }, _duration);
    }
    // Waits for _count more frames; returns the new ones.
    std::vector<std::string> next_frames(std::size_t _count) {
        const std::size_t first = frame_count();
        run_until([&] { return frame_count() >= first + _count; });
        return frames(first);
    }

    const std::chrono::milliseconds m_period;
    // The collector outlives the logger, so that the logger's lines are not left waiting.
    test_support::debug_socket_collector m_collector;
    core::logger m_logger{"quillmere", "dispatcher_test"};
    core::core::ptr m_core = core::core::create(m_logger);
    core::events_loop::ptr m_loop = m_core->create_events_loop("main loop");
    tvk::context::writable_context m_context;
    tvk::libs::context_utils::objects_repository<objects::trackable_object>* m_tags = nullptr;
    tvk::libs::context_utils::objects_repository<objects::zone>* m_zones = nullptr;
    recording_messenger m_messenger;
    std::unique_ptr<dispatcher> m_dispatcher;
    std::vector<std::string> m_loop_errors;
};

constexpr std::chrono::milliseconds world::period;

using strings = std::vector<std::string>;

// Steps from a fresh world; what they sent; the records and T1's device afterwards; and what
// the timers send next (sorted; none within three periods when empty).
struct scenario {
    const char* name;
    std::function<void(world&)> steps;
    strings frames;
    std::vector<std::pair<std::string, std::string>> records;
    std::string device;
    strings next;
};

std::ostream& operator<<(std::ostream& _out, const scenario& _scenario) {
    return _out << _scenario.name;
}

const scenario scenarios[] = {
    {"created_without_device_waits_without_timer",
     [](world& w) { w.enter("T1", "Z1"); },
     {},
     {{"T1:Z1", "ADD 0 no timer"}},
     "none",
     {}},
    {"created_with_device_sends_stamps_and_resends",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    {"created_for_full_device_is_parked",
     [](world& w) {
         w.register_device("T1");
         w.nack("T1");
         w.enter("T1", "Z1");
     },
     {},
     {{"T1:Z1", "ADD 0"}},
     "AA full",
     {}},
    {"updated_without_device_changes_nothing",
     [](world& w) {
         w.enter("T1", "Z1");
         w.enter("T1", "Z1", t2);
     },
     {},
     {{"T1:Z1", "ADD 0 no timer"}},
     "none",
     {}},
    {"updated_after_acknowledgement_is_sent_again",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.ack_last("T1");
         w.enter("T1", "Z1", t2);
     },
     {"enter T1 17", "enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    {"enter_while_leave_is_resent_makes_the_enter_due",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.leave("T1", "Z1");
         w.enter("T1", "Z1", t3);
     },
     {"enter T1 17", "leave T1 17", "enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    {"enter_while_leave_is_resent_to_full_device_is_parked_with_its_counter",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.nack("T1");
         w.leave("T1", "Z1");
         w.enter("T1", "Z1", t3);
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA full",
     {}},
    {"deleted_without_device_erases_the_record",
     [](world& w) {
         w.enter("T1", "Z1");
         w.leave("T1", "Z1");
     },
     {},
     {{"T1:Z1", "none"}},
     "none",
     {}},
    {"deleted_with_device_sends_and_resends_the_leave",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.leave("T1", "Z1");
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "REMOVE 1"}},
     "AA",
     {"leave T1 17"}},
    {"leave_while_enter_unacknowledged_ignores_the_late_enter_ack",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.leave("T1", "Z1");
         w.ack("T1", 1);
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "REMOVE 1"}},
     "AA",
     {"leave T1 17"}},
    {"leave_is_sent_to_a_full_device",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.nack("T1");
         w.leave("T1", "Z1");
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "REMOVE 1"}},
     "AA full",
     {"leave T1 17"}},
    {"enter_acknowledged_is_parked",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.ack_last("T1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "ACKED 0"}},
     "AA",
     {}},
    {"leave_acknowledged_erases_the_record",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.ack_last("T1");
         w.leave("T1", "Z1");
         w.ack_last("T1");
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "none"}},
     "AA",
     {}},
    {"leave_acknowledged_by_full_device_resumes_its_due_enters",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.enter("T1", "Z2");
         w.enter("T1", "Z3");
         w.ack_last("T1");
         w.nack("T1");
         w.leave("T1", "Z1");
         w.ack_last("T1");
     },
     {"enter T1 17", "enter T1 18", "enter T1 19", "leave T1 17", "enter T1 18"},
     {{"T1:Z1", "none"}, {"T1:Z2", "ADD 1"}, {"T1:Z3", "ACKED 0"}},
     "AA",
     {"enter T1 18"}},
    // An acknowledged frame waits no more: once its number has rested it may go to the next
    // frame, whose acknowledgement is then that frame's.
    {"ack_of_a_number_an_acked_record_held_goes_to_the_frame_holding_it_now",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.ack("T1", 1);
         w.run_for(world::period + 10ms);
         w.m_messenger.m_sequence_number = 0;  // wrapped around
         w.enter("T1", "Z2");
         w.ack("T1", 1);
     },
     {"enter T1 17", "enter T1 18"},
     {{"T1:Z1", "ACKED 0"}, {"T1:Z2", "ACKED 0"}},
     "AA",
     {}},
    // A copy of an answer, which a device or its relay may send: the number it names rests, so
    // the next frame takes another, and the copy counts for nothing.
    {"repeated_ack_counts_for_no_frame_sent_after_the_first",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.ack("T1", 1);
         w.m_messenger.m_sequence_number = 0;  // wrapped around
         w.enter("T1", "Z2");
         w.ack("T1", 1);
     },
     {"enter T1 17", "enter T1 18"},
     {{"T1:Z1", "ACKED 0"}, {"T1:Z2", "ADD 1"}},
     "AA",
     {"enter T1 18"}},
    // A refusal's copy that comes once an acknowledged leave gave the device room: the device
    // is not full again, and the enter that the leave's acknowledgement resumed goes on.
    {"repeated_nack_after_a_leave_gave_room_leaves_the_device_with_room",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.enter("T1", "Z2");
         const unsigned int refused = w.last_seq("T1");
         w.nack("T1");
         w.leave("T1", "Z1");
         w.ack_last("T1");
         w.m_messenger.nack("T1", refused, 1, t3);
         w.ack_last("T1");
     },
     {"enter T1 17", "enter T1 18", "leave T1 17", "enter T1 18"},
     {{"T1:Z1", "none"}, {"T1:Z2", "ACKED 0"}},
     "AA",
     {}},
    // The same for a refusal's copy: it must not free the number of the leave sent after the
    // refusal, whose acknowledgement then still gives the device room.
    {"repeated_nack_frees_no_number_sent_after_the_first",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.nack("T1");
         w.m_messenger.m_sequence_number = 0;  // wrapped around
         w.leave("T1", "Z1");
         w.m_messenger.nack("T1", 1, 1, t3);
         w.ack_last("T1");
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "none"}},
     "AA",
     {}},
    // After the counter wrapped, the next number is still held by a frame that waits: the new
    // frame takes the one after it, so the acknowledgement is the waiting frame's alone.
    {"number_of_a_waiting_frame_is_skipped_after_the_counter_wrapped",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z2");
         w.m_messenger.m_sequence_number = 0;
         w.enter("T1", "Z1");
         w.ack("T1", 1);
     },
     {"enter T1 18", "enter T1 17"},
     {{"T1:Z1", "ADD 1"}, {"T1:Z2", "ACKED 0"}},
     "AA",
     {"enter T1 17"}},
    // A leave waits for its acknowledgement even once an enter of the record followed it.
    {"enter_after_a_leave_never_takes_the_leaves_number",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.ack_last("T1");
         w.leave("T1", "Z1");
         w.m_messenger.m_sequence_number = 1;  // the leave carried 2
         w.enter("T1", "Z1", t3);
         w.ack("T1", 2);
     },
     {"enter T1 17", "leave T1 17", "enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    // The leave supersedes the enter, whose number stays held until the device answers it:
    // the late answer of the enter must not be taken for the leave's.
    {"late_enter_ack_after_the_counter_wrapped_leaves_the_leave_due",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.m_messenger.m_sequence_number = 0;  // other devices' frames wrapped it
         w.leave("T1", "Z1");
         w.ack("T1", 1);
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "REMOVE 1"}},
     "AA",
     {"leave T1 17"}},
    {"answer_to_the_frame_before_a_renumbering_does_not_acknowledge_the_enter_resent",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.set_zone(world::zone_with_id("Z1", 19));
         w.m_messenger.m_sequence_number = 0;
         w.enter("T1", "Z1", t2);
         w.ack("T1", 1);
     },
     {"enter T1 17", "enter T1 19"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 19"}},
    {"ack_of_another_tag_or_unknown_number_is_ignored",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.ack("T2", 1);
         w.ack("T1", 99);
         w.ack("T9", 1);
     },
     {"enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    // A cut acknowledgement frame reads as number 0, which a record that never sent a frame
    // must not take for its own: its enter would be lost.
    {"ack_of_0_leaves_an_enter_parked_for_a_full_device_due",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z2");
         w.nack("T1");
         w.enter("T1", "Z1");
         w.leave("T1", "Z2");
         w.ack("T1", 0);
         w.ack_last("T1");
     },
     {"enter T1 18", "leave T1 18", "enter T1 17"},
     {{"T1:Z1", "ADD 1"}, {"T1:Z2", "none"}},
     "AA",
     {"enter T1 17"}},
    {"ack_of_0_leaves_an_enter_waiting_for_its_device_due",
     [](world& w) {
         w.enter("T1", "Z1");
         w.ack("T1", 0);
     },
     {},
     {{"T1:Z1", "ADD 0 no timer"}},
     "none",
     {}},
    // The leave's number no longer names what the record has due: the enter, not yet sent.
    // The leave made room all the same, so that enter goes out now, still unacknowledged.
    {"ack_of_the_leave_does_not_acknowledge_the_enter_parked_after_it",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.nack("T1");
         w.leave("T1", "Z1");
         w.enter("T1", "Z1", t3);
         w.ack_last("T1");
     },
     {"enter T1 17", "leave T1 17", "enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    {"refusal_parks_the_enters",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.nack("T1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "ADD 0"}},
     "AA full",
     {}},
    {"refusal_leaves_the_leave_pending",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.leave("T1", "Z1");
         w.nack("T1");
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "REMOVE 1"}},
     "AA full",
     {"leave T1 17"}},
    {"refusal_for_unregistered_tag_changes_nothing",
     [](world& w) {
         w.enter("T1", "Z1");
         w.nack("T1");
     },
     {},
     {{"T1:Z1", "ADD 0 no timer"}},
     "none",
     {}},
    {"reboot_clears_full_and_resends_acknowledged_enters",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.enter("T1", "Z2");
         w.ack_last("T1");
         w.nack("T1");
         w.reboot("T1");
     },
     {"enter T1 17", "enter T1 18", "enter T1 17", "enter T1 18"},
     {{"T1:Z1", "ADD 1"}, {"T1:Z2", "ADD 1"}},
     "AA",
     {"enter T1 17", "enter T1 18"}},
    {"reboot_and_heartbeat_of_unregistered_tag_are_ignored",
     [](world& w) {
         w.enter("T1", "Z1");
         w.reboot("T1");
         w.heartbeat("T1");
     },
     {},
     {{"T1:Z1", "ADD 0 no timer"}},
     "none",
     {}},
    {"registration_sends_the_tags_waiting_enters",
     [](world& w) {
         w.enter("T1", "Z1");
         w.enter("T2", "Z1");
         w.enter("T1", "Z2");
         w.register_device("T1");
     },
     {"enter T1 17", "enter T1 18"},
     {{"T1:Z1", "ADD 1"}, {"T1:Z2", "ADD 1"}, {"T2:Z1", "ADD 0 no timer"}},
     "AA",
     {"enter T1 17", "enter T1 18"}},
    {"registration_with_another_mac_changes_nothing",
     [](world& w) {
         w.register_device("T1", "AA");
         w.enter("T1", "Z1");
         w.register_device("T1", "CC");
     },
     {"enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    {"node_removed_drops_device_and_records_without_leave",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.set_tag("T1", boost::none, t2);
         w.leave("T1", "Z1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "none"}},
     "none",
     {}},
    {"node_with_another_mac_changes_nothing",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.set_tag("T1", std::string("CC"), t2);
     },
     {"enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    {"tag_deleted_drops_device_and_records",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.delete_tag("T1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "none"}},
     "none",
     {}},
    // The drop erased the records; the new device's enters are tracked again, so that the
    // tag's leave reaches it.
    {"registered_again_after_drop_tracks_the_enters_and_the_leave",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.set_tag("T1", boost::none, t2);
         w.set_tag("T1", std::string("AA"), t2);
         w.register_device("T1");
         w.reboot("T1");
         w.ack_last("T1");
         w.leave("T1", "Z1");
     },
     {"enter T1 17", "enter T1 17", "enter T1 17", "leave T1 17"},
     {{"T1:Z1", "REMOVE 1"}},
     "AA",
     {"leave T1 17"}},
    {"registered_again_after_drop_resends_the_enters",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.enter("T1", "Z2");
         w.ack_last("T1");
         w.delete_tag("T1");
         w.set_tag("T1", std::string("AA"), t2);
         w.register_device("T1");
     },
     {"enter T1 17", "enter T1 18", "enter T1 17", "enter T1 18"},
     {{"T1:Z1", "ADD 1"}, {"T1:Z2", "ADD 1"}},
     "AA",
     {"enter T1 17", "enter T1 18"}},
    {"heartbeat_resets_the_counter_of_a_due_enter_and_keeps_its_tick",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.heartbeat("T1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "ADD 0"}},
     "AA",
     {"enter T1 17"}},
    {"heartbeat_resets_the_counter_of_a_leave_of_a_full_device",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.nack("T1");
         w.leave("T1", "Z1");
         w.heartbeat("T1");
     },
     {"enter T1 17", "leave T1 17"},
     {{"T1:Z1", "REMOVE 0"}},
     "AA full",
     {"leave T1 17"}},
    {"heartbeat_leaves_acknowledged_records_alone",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.ack_last("T1");
         w.heartbeat("T1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "ACKED 0"}},
     "AA",
     {}},
    {"failed_post_is_stamped_and_resent_all_the_same",
     [](world& w) {
         w.m_messenger.m_post_result = false;
         w.register_device("T1");
         w.enter("T1", "Z1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "ADD 1"}},
     "AA",
     {"enter T1 17"}},
    {"heartbeat_leaves_a_full_devices_enters_alone",
     [](world& w) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         w.nack("T1");
         w.heartbeat("T1");
     },
     {"enter T1 17"},
     {{"T1:Z1", "ADD 0"}},
     "AA full",
     {}},
};

class delivery_record : public ::testing::TestWithParam<scenario> {};

TEST_P(delivery_record, follows_its_state_table) {
    const scenario& s = GetParam();
    world w;
    s.steps(w);
    EXPECT_EQ(w.frames(), s.frames);
    for (const auto& expected : s.records) {
        EXPECT_EQ(w.record(expected.first), expected.second) << expected.first;
    }
    EXPECT_EQ(w.device_state("T1"), s.device);

    std::vector<std::string> next;
    if (s.next.empty()) {
        const std::size_t before = w.frame_count();
        w.run_for(3 * world::period);
        next = w.frames(before);
    } else {
        next = w.next_frames(s.next.size());
        std::sort(next.begin(), next.end());
    }
    EXPECT_EQ(next, s.next);
    EXPECT_EQ(w.m_loop_errors, strings{});
}

INSTANTIATE_TEST_SUITE_P(scenarios, delivery_record, ::testing::ValuesIn(scenarios),
                         [](const ::testing::TestParamInfo<scenario>& _info) {
                             return std::string(_info.param.name);
                         });

// The device of one tag as its peer sees it: it takes the enter and leave frames sent to it
// in order, holds the zone ids that they name, and answers each as it is told.
class device_model {
public:
    // silent: the device takes the frame, but its answer is lost or left to the test.
    enum reply { ack, miss, refuse, silent };
    using frame = recording_messenger::frame;
    using policy = std::function<reply(const frame&)>;

    device_model(world& _world, std::string _tag) : m_world(_world), m_tag(std::move(_tag)) {}

    // From now on every acknowledgement is sent again _after later, as by a relay that repeats.
    void repeat_answers(std::chrono::milliseconds _after) { m_repeat_after = _after; }

    // Answers the frames sent since the last call, and those that its answers bring; without
    // _policy every frame is acknowledged. A missed frame changes nothing on the device, a
    // refused enter is answered with a refusal. Copies of answers that are due go first.
    void answer(const policy& _policy = {}) {
        const auto now = std::chrono::steady_clock::now();
        while (!m_copies.empty() && m_copies.begin()->first <= now) {
            const unsigned int seq_no = m_copies.begin()->second;
            m_copies.erase(m_copies.begin());
            m_world.ack(m_tag, seq_no);
        }
        auto& frames = m_world.m_messenger.m_frames;
        for (; m_next < frames.size(); ++m_next) {
            // An answer may send frames, and the vector may grow under a reference.
            const frame f = frames[m_next];
            if (f.uid != m_tag || f.kind == frame::ack) {
                continue;
            }
            const reply r = _policy ? _policy(f) : ack;
            if (r == miss) {
                continue;
            }
            if (r == refuse && f.kind == frame::enter) {
                m_world.m_messenger.nack(m_tag, f.seq_no, 1, t3);
                continue;
            }
            if (f.kind == frame::enter) {
                m_zones.insert(f.zone_id);
            } else {
                m_zones.erase(f.zone_id);
            }
            if (r == ack) {
                m_world.ack(m_tag, f.seq_no);
                if (m_repeat_after.count() != 0) {
                    m_copies.emplace(std::chrono::steady_clock::now() + m_repeat_after, f.seq_no);
                }
            }
        }
    }

    // The device loses every zone it held.
    void reboot() {
        m_zones.clear();
        m_world.reboot(m_tag);
    }

    const std::set<unsigned int>& zones() const { return m_zones; }

    // The ids that the zones of the tag's events have now.
    std::set<unsigned int> expected() const {
        std::set<unsigned int> ids;
        m_world.m_context.get_zone_events().for_each([&](const zone_event& _event) {
            if (_event.get_obj_uid() == m_tag) {
                ids.insert(m_world.m_zones->get(_event.get_zone_uid()).get_zone_id().value_or(0));
            }
            return true;
        });
        return ids;
    }

    // Answers every frame for _duration, the resends that come meanwhile too.
    void answer_for(std::chrono::milliseconds _duration) {
        m_world.run_until(
            [&] {
                answer();
                return false;
            },
            _duration);
    }

    // Answers every frame (as _policy says, when given) until the device holds the zones its
    // tag is in; false at the deadline.
    bool settle(std::chrono::milliseconds _timeout = 5s, const policy& _policy = {}) {
        return m_world.run_until(
            [&] {
                answer(_policy);
                return m_zones == expected();
            },
            _timeout);
    }

private:
    world& m_world;
    std::string m_tag;
    std::size_t m_next = 0;
    std::set<unsigned int> m_zones;
    std::chrono::milliseconds m_repeat_after{0};
    std::multimap<std::chrono::steady_clock::time_point, unsigned int> m_copies;
};

// _count zones Z000, Z001... with the ids _first_id, _first_id + 1..., all entered by _tag.
void enter_zones(world& _world, const std::string& _tag, unsigned int _count,
                 unsigned int _first_id) {
    for (unsigned int i = 0; i < _count; ++i) {
        char uid[16];
        std::snprintf(uid, sizeof(uid), "Z%03u", i);
        _world.set_zone(world::zone_with_id(uid, _first_id + i));
        _world.enter(_tag, uid);
    }
}

// T1 in 257 zones, whose device answers the enters of its registration by _policy and is full;
// then T1 leaves Z256, whose enter never went out. Enters never take the numbers that leaves
// need, so the leave that gives the device room goes out at once.
void leave_a_full_device(world& _world, device_model& _device,
                         const device_model::policy& _policy) {
    enter_zones(_world, "T1", 257, 100);
    _world.register_device("T1");
    _device.answer(_policy);
    EXPECT_EQ(_world.device_state("T1"), "AA full");
    _world.leave("T1", "Z256");
    EXPECT_EQ(_world.frames().back(), "leave T1 356");
}

// T1 enters Z1 (id 17), whose first enter the device takes as _first says; Z1 becomes 5013
// and its resend, which the device acknowledges, names it; the device holds _holds then, and
// the leave names the latest id.
void renumber_between_enter_and_resend(world& _world, device_model& _device,
                                       device_model::reply _first,
                                       const std::set<unsigned int>& _holds) {
    _world.register_device("T1");
    _world.enter("T1", "Z1");
    _device.answer([_first](const device_model::frame&) { return _first; });
    _world.set_zone(world::zone_with_id("Z1", 5013));
    ASSERT_EQ(_world.next_frames(1), strings{"enter T1 5013"});
    _device.answer();
    EXPECT_EQ(_device.zones(), _holds);
    _world.leave("T1", "Z1");
    EXPECT_EQ(_world.frames().back(), "leave T1 5013");
}

// The device holds Z1 (17) and Z2 (18), which swap ids.
void swap_held_zones(world& _world, device_model& _device) {
    _world.register_device("T1");
    _world.enter("T1", "Z1");
    _world.enter("T1", "Z2");
    _device.answer();
    _world.set_zone(world::zone_with_id("Z1", 18));
    _world.set_zone(world::zone_with_id("Z2", 17));
}

// The device holds Z1 (17), which becomes 5013.
void renumber_held_zone(world& _world, device_model& _device) {
    _world.register_device("T1");
    _world.enter("T1", "Z1");
    _device.answer();
    _world.set_zone(world::zone_with_id("Z1", 5013));
}

// Z4 gets Z1's old id, 17, and the tag enters it.
void enter_zone_with_old_id(world& _world, device_model& _device) {
    _world.set_zone(world::zone_with_id("Z4", 17));
    _world.enter("T1", "Z4");
    _device.answer();
}

// Steps that the device of T1 answers as it is told; then every frame is acknowledged until
// the device holds the zones its tag is in.
struct device_case {
    const char* name;
    std::function<void(world&, device_model&)> steps;
};

std::ostream& operator<<(std::ostream& _out, const device_case& _case) {
    return _out << _case.name;
}

const device_case device_cases[] = {
    // The tag is back in Z1 before the device answered its leave: the enter waits, and the
    // acknowledgement of the leave makes room for it and for the refused one.
    {"acknowledged_leave_frees_a_full_device_whose_zone_was_entered_again",
     [](world& w, device_model& d) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         d.answer();
         w.enter("T1", "Z2");
         d.answer([](const device_model::frame&) { return device_model::refuse; });
         w.leave("T1", "Z1");
         w.enter("T1", "Z1", t3);
         EXPECT_EQ(w.record("T1:Z1"), "ADD 1");
         EXPECT_EQ(w.device_state("T1"), "AA full");
     }},
    // 300 enters in one walk: the 1st and the 257th must not share a number, or the 257th's
    // acknowledgement is taken for the missed 1st.
    {"rebooted_device_in_300_zones_missing_the_first_enter_gets_it_again",
     [](world& w, device_model& d) {
         enter_zones(w, "T1", 300, 100);
         w.register_device("T1");
         ASSERT_TRUE(d.settle());
         w.m_messenger.m_sequence_number = 0x2C;
         d.reboot();
         bool missed = false;
         d.answer([&](const device_model::frame& _frame) {
             if (missed) {
                 return device_model::ack;
             }
             missed = true;
             EXPECT_EQ(_frame.seq_no, 0x2Du);
             EXPECT_EQ(_frame.zone_id, 100u);
             return device_model::miss;
         });
     }},
    // The zone's id was too wide for a frame when the event was made; the enter that the
    // device got names the new one, and so must the leave.
    {"leave_names_the_id_of_the_enter_sent_after_a_too_wide_id",
     [](world& w, device_model& d) {
         w.set_zone(world::zone_with_id("Z9", 70000));
         w.enter("T1", "Z9");
         w.set_zone(world::zone_with_id("Z9", 19));
         w.register_device("T1");
         d.answer();
         EXPECT_EQ(d.zones(), std::set<unsigned int>{19});
         w.leave("T1", "Z9");
     }},
    // The device refuses the first enter and drops the others.
    {"full_device_in_257_zones_gets_the_leave_and_its_enters_resume",
     [](world& w, device_model& d) {
         bool refused = false;
         leave_a_full_device(w, d, [&](const device_model::frame&) {
             const bool first = !refused;
             refused = true;
             return first ? device_model::refuse : device_model::miss;
         });
     }},
    // Refused frames are answered: their numbers are free.
    {"full_device_in_257_zones_refusing_every_enter_gets_the_leave_and_resumes",
     [](world& w, device_model& d) {
         leave_a_full_device(w, d, [](const device_model::frame&) { return device_model::refuse; });
     }},
    // The device got the enter of Z1 under both ids, the one before the renumbering and the
    // one after: once the tag has left, it must hold neither.
    {"leave_after_a_renumbering_between_an_enter_and_its_resend_leaves_both_ids",
     [](world& w, device_model& d) {
         renumber_between_enter_and_resend(w, d, device_model::silent, {17, 5013});
     }},
    // The answer to Z1's first frame comes after its longest wait, when the messenger's
    // counter has come round to that frame's number and Z2's enter, which the device misses,
    // is sent: the answer must not be taken for Z2's.
    {"answer_later_than_the_longest_wait_counts_for_no_frame_sent_after_it",
     [](world& w, device_model& d) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         const unsigned int first = w.last_seq("T1");
         d.answer([](const device_model::frame&) { return device_model::silent; });
         // Its resends are missed, and its first frame's wait ends.
         w.run_until(
             [&] {
                 d.answer([](const device_model::frame&) { return device_model::miss; });
                 return false;
             },
             6 * world::period);
         w.m_messenger.m_sequence_number = static_cast<unsigned char>(first - 1);
         w.enter("T1", "Z2");
         d.answer([](const device_model::frame&) { return device_model::miss; });
         w.ack("T1", first);
         EXPECT_EQ(w.record("T1:Z2"), "ADD 1");
     }},
    {"leave_names_the_id_of_the_enter_resent_after_a_renumbering",
     [](world& w, device_model& d) {
         renumber_between_enter_and_resend(w, d, device_model::miss, {5013});
     }},
    // Z1 and Z2 swap ids and their enters go out again: the device holds Z1 as 18 and Z2 as
    // 17, so Z1's leave must not name 17, which Z1 carried before.
    {"two_zones_swapping_ids_and_sent_again_keep_the_one_the_tag_is_in",
     [](world& w, device_model& d) {
         swap_held_zones(w, d);
         w.enter("T1", "Z1");
         w.enter("T1", "Z2");
         d.answer();
         w.leave("T1", "Z1");
     }},
    // The same swap, unsent, then a reboot: its walk is what puts the new ids on the device.
    {"two_zones_swapping_ids_then_a_reboot_keep_the_one_the_tag_is_in",
     [](world& w, device_model& d) {
         swap_held_zones(w, d);
         d.reboot();
         d.answer();
         w.leave("T1", "Z1");
     }},
    // Z1 is sent again under its new id, and its old id goes to Z4, which the tag enters.
    {"an_old_id_given_to_a_new_zone_the_tag_is_in_is_not_left",
     [](world& w, device_model& d) {
         renumber_held_zone(w, d);
         w.enter("T1", "Z1");
         d.answer();
         enter_zone_with_old_id(w, d);
         w.leave("T1", "Z1");
     }},
    // Z1 renumbered without a notice: its leave would name 17, under which the device now
    // holds Z4.
    {"a_quietly_renumbered_zone_whose_id_went_to_another_zone_is_not_left_under_it",
     [](world& w, device_model& d) {
         renumber_held_zone(w, d);
         enter_zone_with_old_id(w, d);
         w.leave("T1", "Z1");
     }},
    // Z1's leave of 17 is lost; before its resend, Z4 gets 17 and the tag enters it.
    {"a_leave_is_not_resent_under_an_id_that_another_zone_got_since",
     [](world& w, device_model& d) {
         renumber_held_zone(w, d);
         w.leave("T1", "Z1");
         d.answer([](const device_model::frame&) { return device_model::miss; });
         enter_zone_with_old_id(w, d);
         d.answer_for(3 * world::period);
     }},
    // The reboot's walk gives the device Z1 as 5013 only; then 17 goes to Z4.
    {"after_a_reboot_an_id_carried_before_it_is_not_left",
     [](world& w, device_model& d) {
         renumber_held_zone(w, d);
         d.reboot();
         d.answer();
         enter_zone_with_old_id(w, d);
         w.leave("T1", "Z1");
     }},
    // The same without Z4: the device lost 17 with the reboot, so no leave names it.
    {"after_a_reboot_only_the_ids_of_enters_sent_since_get_leaves",
     [](world& w, device_model& d) {
         renumber_held_zone(w, d);
         d.reboot();
         d.answer();
         const std::size_t before = w.frame_count();
         w.leave("T1", "Z1");
         d.answer_for(3 * world::period);
         EXPECT_EQ(w.frames(before), strings{"leave T1 5013"});
         EXPECT_EQ(w.record("T1:Z1"), "none");
     }},
    // Every id that an enter carried is left.
    {"a_zone_renumbered_twice_is_left_under_every_id",
     [](world& w, device_model& d) {
         w.register_device("T1");
         w.enter("T1", "Z1");
         d.answer();
         for (const unsigned int id : {5013u, 6000u}) {
             w.set_zone(world::zone_with_id("Z1", id));
             w.enter("T1", "Z1");
             d.answer();
         }
         EXPECT_EQ(d.zones(), (std::set<unsigned int>{17, 5013, 6000}));
         w.leave("T1", "Z1");
     }},
};

class device_holdings : public ::testing::TestWithParam<device_case> {};

TEST_P(device_holdings, end_as_the_zones_its_tag_is_in) {
    world w;
    device_model d(w, "T1");
    GetParam().steps(w, d);
    EXPECT_TRUE(d.settle()) << ::testing::PrintToString(d.zones());
    EXPECT_EQ(d.zones(), d.expected());
    EXPECT_EQ(w.m_loop_errors, strings{});
}

INSTANTIATE_TEST_SUITE_P(sequences, device_holdings, ::testing::ValuesIn(device_cases),
                         [](const ::testing::TestParamInfo<device_case>& _info) {
                             return std::string(_info.param.name);
                         });

TEST(sequence_numbers,
     enters_leave_numbers_for_leaves_and_a_freed_one_goes_to_the_longest_waiting) {
    // Long enough that no frame's wait ends while the test runs.
    world w(400ms);
    enter_zones(w, "T1", 257, 100);
    w.register_device("T1");
    const std::size_t enters = tvk::device_numbers::ENTER_NUMBERS;
    ASSERT_EQ(w.frame_count(), enters);
    std::set<unsigned int> sent;
    for (const auto& frame : w.m_messenger.m_frames) {
        sent.insert(frame.seq_no);
    }
    EXPECT_EQ(sent.size(), enters);
    // Due, not stamped, its timer running.
    EXPECT_EQ(w.record("T1:Z192"), "ADD 0");
    EXPECT_EQ(w.record_of("T1:Z192").get_seq_no(), writable_zone_event::NO_FRAME);

    // Nothing is answered: the resends wait too, as every frame holds its number.
    w.run_for(w.m_period + 50ms);
    ASSERT_EQ(w.frame_count(), enters);
    w.leave("T1", "Z005");
    EXPECT_EQ(w.frames(enters), strings{"leave T1 105"});

    // The number freed, once it has rested, goes to the notice that has waited longest, not to
    // a resend.
    w.ack("T1", w.record_of("T1:Z000").get_seq_no());
    EXPECT_EQ(w.record("T1:Z000"), "ACKED 0");
    const std::size_t before = w.frame_count();
    const auto enters_since = [&] {
        strings texts;
        for (const std::string& text : w.frames(before)) {
            if (text.compare(0, 5, "enter") == 0) {
                texts.push_back(text);
            }
        }
        return texts;
    };
    ASSERT_TRUE(w.run_until([&] { return !enters_since().empty(); }));
    w.run_for(w.m_period);
    EXPECT_EQ(enters_since(), strings{"enter T1 292"});
    EXPECT_EQ(w.record("T1:Z192"), "ADD 1");

    // Every frame sent holds its number, the leave's resends too, but the one acknowledged.
    const tvk::device_numbers* numbers = w.m_dispatcher->get_numbers("T1");
    ASSERT_NE(numbers, nullptr);
    EXPECT_EQ(numbers->held_by_enters(), enters);
    EXPECT_EQ(numbers->held(), w.frame_count() - 1);
    EXPECT_EQ(w.m_loop_errors, strings{});
}

// A device's numbers outlive its records, not its frames' waits: a long-running service does
// not keep them for every device it ever sent a frame to.
TEST(sequence_numbers, devices_whose_frames_were_answered_are_forgotten) {
    world w;
    for (int i = 0; i <= 128; ++i) {
        const std::string tag = "D" + std::to_string(i);
        w.set_tag(tag, std::string("AA"));
        w.register_device(tag);
        w.enter(tag, "Z1");
        if (i % 2 == 0) {
            w.ack_last(tag);
        } else {
            w.nack(tag);
        }
        if (i == 127) {
            ASSERT_NE(w.m_dispatcher->get_numbers("D0"), nullptr);
            // The numbers answered have rested.
            w.run_for(world::period + 10ms);
        }
    }
    EXPECT_EQ(w.m_dispatcher->get_numbers("D0"), nullptr);
    EXPECT_EQ(w.m_dispatcher->get_numbers("D1"), nullptr);
    EXPECT_NE(w.m_dispatcher->get_numbers("D128"), nullptr);
}

// The device of T1 answering each frame late, 1 to 4 s of the service's 2.5 s period after it
// got it, so often after the next resend, and missing every fifth frame (never two in a row
// of one notice): each answer counts for the frame it answers, or for nothing.
class late_device {
public:
    using frame = recording_messenger::frame;

    explicit late_device(world& _world) : m_world(_world) {}

    // Takes the frames sent since the last call, and gives the answers that are due.
    void pump() {
        const auto& frames = m_world.m_messenger.m_frames;
        for (; m_next < frames.size(); ++m_next) {
            const frame f = frames[m_next];
            if (f.uid != "T1" || f.kind == frame::ack) {
                continue;
            }
            const std::size_t n = m_taken++;
            const auto notice = std::make_pair(f.kind, f.zone_id);
            if (n % 5 == 2 && m_missed.count(notice) == 0) {
                m_missed.insert(notice);
                continue;
            }
            m_missed.erase(notice);
            if (f.kind == frame::enter) {
                m_zones.insert(f.zone_id);
            } else {
                m_zones.erase(f.zone_id);
            }
            const auto late = m_world.m_period * (1 + static_cast<int>(n % 4)) * 2 / 5;
            m_answers.emplace(f.sent_at + late, f.seq_no);
        }
        const auto now = std::chrono::steady_clock::now();
        while (!m_answers.empty() && m_answers.begin()->first <= now) {
            const unsigned int seq_no = m_answers.begin()->second;
            m_answers.erase(m_answers.begin());
            m_world.ack("T1", seq_no);
        }
    }

    void reboot() {
        m_zones.clear();
        m_world.reboot("T1");
    }

    const std::set<unsigned int>& zones() const { return m_zones; }

private:
    world& m_world;
    std::size_t m_next = 0;
    std::size_t m_taken = 0;
    std::set<std::pair<frame::kind_t, unsigned int>> m_missed;
    std::multimap<std::chrono::steady_clock::time_point, unsigned int> m_answers;
    std::set<unsigned int> m_zones;
};

TEST(sequence_numbers, a_device_answering_late_and_missing_frames_ends_holding_its_tags_zones) {
    world w;
    device_model expected(w, "T1");
    late_device d(w);
    enter_zones(w, "T1", 300, 100);
    w.register_device("T1");
    const auto pump_for = [&](std::chrono::milliseconds _duration) {
        w.run_until(
            [&] {
                d.pump();
                return false;
            },
            _duration);
    };
    pump_for(3 * world::period);
    d.reboot();
    pump_for(2 * world::period);
    for (const char* zone : {"Z010", "Z011", "Z150", "Z151", "Z299"}) {
        w.leave("T1", zone);
    }
    const auto left_alone = [&] {
        for (const auto& entry : w.m_dispatcher->get_records()) {
            if (entry.second.get_sending_status() == writable_zone_event::REMOVE) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(w.run_until(
        [&] {
            d.pump();
            return d.zones() == expected.expected() && left_alone();
        },
        10s))
        << d.zones().size();
    // Late answers still to come change nothing.
    pump_for(6 * world::period);
    EXPECT_EQ(d.zones(), expected.expected());
    EXPECT_EQ(w.m_loop_errors, strings{});
}

// 300 zones, so more enters than numbers: a notice that waits for one is sent once one is
// free, without a heartbeat.
TEST(sequence_numbers, a_device_silent_for_eight_periods_gets_every_zone_once_it_answers) {
    world w;
    device_model d(w, "T1");
    enter_zones(w, "T1", 300, 100);
    w.register_device("T1");
    const auto silent_until = std::chrono::steady_clock::now() + 8 * world::period;
    w.run_until([&] {
        d.answer([](const device_model::frame&) { return device_model::miss; });
        return std::chrono::steady_clock::now() >= silent_until;
    });
    EXPECT_TRUE(d.settle()) << d.zones().size();
    EXPECT_EQ(d.zones().size(), 300u);
    EXPECT_EQ(w.m_loop_errors, strings{});
}

// Beats faster than the delivery period: the notices that wait for a number go out as numbers
// come free, the enters of 300 zones and then their leaves.
TEST(sequence_numbers, notices_waiting_for_a_number_go_out_while_the_device_beats_faster) {
    world w;
    device_model d(w, "T1");
    enter_zones(w, "T1", 300, 100);
    w.register_device("T1");
    const auto beat_until = [&](const std::function<bool()>& _done) {
        auto beat_at = std::chrono::steady_clock::now();
        return w.run_until(
            [&] {
                d.answer();
                if (std::chrono::steady_clock::now() >= beat_at) {
                    w.heartbeat("T1");
                    beat_at += world::period * 2 / 5;
                }
                return _done();
            },
            25 * world::period);
    };
    EXPECT_TRUE(beat_until([&] { return d.zones().size() == 300; })) << d.zones().size();
    for (unsigned int i = 0; i < 300; ++i) {
        char uid[16];
        std::snprintf(uid, sizeof(uid), "Z%03u", i);
        w.leave("T1", uid);
    }
    EXPECT_TRUE(beat_until([&] { return d.zones().empty(); })) << d.zones().size();
    EXPECT_EQ(w.m_loop_errors, strings{});
}

// While the loop is busy the device's answers wait unread, past their frames' waits: the
// number of such a frame must not go to another one, or the answer read later is taken for it.
TEST(sequence_numbers, an_answer_read_after_its_frames_wait_counts_for_no_other_frame) {
    world w;
    w.register_device("T1");
    w.enter("T1", "Z1");
    const unsigned int first = w.last_seq("T1");
    // The device answers at once; the answer is not read until later.
    w.m_messenger.m_read_until = std::chrono::steady_clock::now();
    w.run_for(6 * world::period);
    w.m_messenger.m_sequence_number = static_cast<unsigned char>(first - 1);
    w.enter("T1", "Z2");
    EXPECT_NE(w.last_seq("T1"), first);
    // Z1's first frame was resent since: its answer counts for nothing.
    w.m_messenger.m_read_until.reset();
    w.ack("T1", first);
    EXPECT_EQ(w.record("T1:Z1"), "ADD 5");
    EXPECT_EQ(w.record("T1:Z2"), "ADD 1");
    EXPECT_EQ(w.m_loop_errors, strings{});
}

// A device, or its relay, that sends every answer twice, the copy 0.4 periods later (a second
// of the service's 2.5 s). After a reboot its 192 enters are answered at once; the tag then
// leaves 70 zones and the device misses the first send of each leave. Beyond the 64 numbers that
// the enters left, the leaves must not take the numbers just answered, or the copies of those
// answers acknowledge leaves that the device never got.
TEST(sequence_numbers, copies_of_answers_count_for_no_frame_sent_after_them) {
    world w(100ms);
    device_model d(w, "T1");
    d.repeat_answers(w.m_period * 2 / 5);
    enter_zones(w, "T1", 192, 100);
    w.register_device("T1");
    ASSERT_TRUE(d.settle());
    // The copies come, and the numbers they name rest out.
    d.answer_for(2 * w.m_period);
    d.reboot();
    d.answer();
    ASSERT_EQ(d.zones().size(), 192u);
    w.run_for(w.m_period / 12);
    for (unsigned int i = 0; i < 70; ++i) {
        char uid[16];
        std::snprintf(uid, sizeof(uid), "Z%03u", i);
        w.leave("T1", uid);
    }
    std::set<unsigned int> missed;
    const device_model::policy miss_first_leaves = [&](const device_model::frame& _frame) {
        return _frame.kind == device_model::frame::leave && missed.insert(_frame.zone_id).second
                   ? device_model::miss
                   : device_model::ack;
    };
    EXPECT_TRUE(d.settle(5s, miss_first_leaves)) << d.zones().size();
    EXPECT_EQ(missed.size(), 70u);
    // The copies still to come change nothing.
    d.answer_for(3 * w.m_period);
    EXPECT_EQ(d.zones(), d.expected());
    EXPECT_EQ(d.zones().size(), 122u);
    EXPECT_EQ(w.m_loop_errors, strings{});
}

// Whether _line contains _text, for counting log lines.
std::size_t count_containing(const strings& _lines, const std::string& _text) {
    return static_cast<std::size_t>(std::count_if(
        _lines.begin(), _lines.end(),
        [&](const std::string& _line) { return _line.find(_text) != std::string::npos; }));
}

TEST(delivery_timer, unacknowledged_enter_goes_out_five_times_then_waits_for_a_heartbeat) {
    world w;
    w.register_device("T1");
    w.enter("T1", "Z1", t1);
    EXPECT_EQ(w.record_of("T1:Z1").get_sending_time(), t1);
    EXPECT_EQ(w.record_of("T1:Z1").get_seq_no(), 1u);

    ASSERT_TRUE(w.run_until([&] { return w.frame_count() == 5; }));
    w.run_for(4 * world::period);
    EXPECT_EQ(w.frames(), strings(5, "enter T1 17"));
    EXPECT_EQ(w.record("T1:Z1"), "ADD 5");
    const auto& frames = w.m_messenger.m_frames;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        // Each resend carries a new number; the ticks keep a fixed rate from the first send.
        EXPECT_EQ(frames[i].seq_no, i + 1);
        EXPECT_GE(frames[i].sent_at - frames[0].sent_at, i * world::period - 1ms) << i;
    }
    EXPECT_EQ(w.record_of("T1:Z1").get_seq_no(), 5u);
    EXPECT_GT(w.record_of("T1:Z1").get_sending_time(), t1);

    // Only the latest frame's acknowledgement counts.
    w.ack("T1", 4);
    EXPECT_EQ(w.record("T1:Z1"), "ADD 5");

    w.heartbeat("T1");
    EXPECT_EQ(w.record("T1:Z1"), "ADD 0");
    ASSERT_TRUE(w.run_until([&] { return w.frame_count() == 10; }));
    w.run_for(4 * world::period);
    EXPECT_EQ(w.frame_count(), 10u);
    EXPECT_EQ(w.record("T1:Z1"), "ADD 5");

    w.ack_last("T1");
    EXPECT_EQ(w.record("T1:Z1"), "ACKED 0");
    EXPECT_EQ(w.m_loop_errors, strings{});
}

TEST(delivery_timer, unacknowledged_leave_goes_out_five_times_then_is_forgotten) {
    world w;
    w.register_device("T1");
    w.enter("T1", "Z1");
    w.ack_last("T1");
    w.leave("T1", "Z1", t2);
    EXPECT_EQ(w.record_of("T1:Z1").get_sending_time(), t2);

    ASSERT_TRUE(w.run_until([&] { return w.record("T1:Z1") == "none"; }));
    w.run_for(3 * world::period);
    strings expected(1, "enter T1 17");
    expected.insert(expected.end(), 5, "leave T1 17");
    EXPECT_EQ(w.frames(), expected);
    EXPECT_EQ(w.m_loop_errors, strings{});
}

// The device answers a leave later than the give-up tick: its latest leave all the same, so
// the device has room; the answer to a leave superseded by that one is not.
TEST(delivery_timer, a_leave_acknowledged_once_it_was_given_up_frees_a_full_device) {
    world w;
    w.register_device("T1");
    w.enter("T1", "Z1");
    w.ack_last("T1");
    w.enter("T1", "Z2");
    w.nack("T1");
    w.leave("T1", "Z1");
    ASSERT_TRUE(w.run_until([&] { return w.record("T1:Z1") == "none"; }));
    const std::size_t sent = w.frame_count();
    ASSERT_EQ(w.frames(sent - 2), (strings{"leave T1 17", "leave T1 17"}));

    w.ack("T1", w.m_messenger.m_frames[sent - 2].seq_no);
    EXPECT_EQ(w.device_state("T1"), "AA full");
    w.ack("T1", w.m_messenger.m_frames[sent - 1].seq_no);
    EXPECT_EQ(w.device_state("T1"), "AA");
    EXPECT_EQ(w.frames(sent), strings{"enter T1 18"});
    EXPECT_EQ(w.record("T1:Z2"), "ADD 1");
}

TEST(delivery_timer, stale_acknowledgement_after_a_resend_is_ignored) {
    world w;
    w.register_device("T1");
    w.enter("T1", "Z1");
    ASSERT_TRUE(w.run_until([&] { return w.frame_count() == 2; }));
    w.ack("T1", 1);
    EXPECT_EQ(w.record("T1:Z1"), "ADD 2");
    w.ack("T1", 2);
    EXPECT_EQ(w.record("T1:Z1"), "ACKED 0");
    w.run_for(3 * world::period);
    EXPECT_EQ(w.frame_count(), 2u);
}

TEST(delivery_timer, tick_fails_while_the_zone_is_gone_and_sends_once_it_is_back) {
    world w;
    w.register_device("T1");
    w.enter("T1", "Z1");
    w.delete_zone("Z1");

    ASSERT_TRUE(w.run_until([&] { return w.m_loop_errors.size() >= 2; }));
    for (const auto& error : w.m_loop_errors) {
        EXPECT_NE(error.find("dispatcher.cpp"), std::string::npos) << error;
        EXPECT_NE(error.find("Zone not found Z1"), std::string::npos) << error;
    }
    // Nothing was sent, so nothing was counted: the tick fails again until the zone is back.
    EXPECT_EQ(w.record("T1:Z1"), "ADD 1");
    EXPECT_EQ(w.frame_count(), 1u);

    w.set_zone(world::zone_with_id("Z1", 17));
    EXPECT_EQ(w.next_frames(1), strings{"enter T1 17"});
    EXPECT_EQ(w.record("T1:Z1"), "ADD 2");
}

// A record whose event was deleted keeps its leave timer. When the same tag enters the same
// zone again and the enter cannot be built, the record turns ADD without a new timer; the old
// timer's tick must build the enter from the event held now, not from the deleted one.
TEST(delivery_timer, tick_uses_the_event_held_now_after_the_event_was_replaced) {
    world w;
    w.register_device("T1");
    w.enter("T1", "Z1");
    w.leave("T1", "Z1");
    EXPECT_EQ(w.record("T1:Z1"), "REMOVE 1");

    zone_fields broken = world::zone_with_id("Z1", 17);
    broken.zone_type_id = boost::none;
    w.set_zone(broken);
    EXPECT_THROW(w.enter("T1", "Z1", t3), tvk::libs::core::exception);
    EXPECT_EQ(w.record("T1:Z1"), "ADD 1");

    zone_fields repaired = world::zone_with_id("Z1", 17);
    repaired.alarm_level = 3;
    w.set_zone(repaired);
    EXPECT_EQ(w.next_frames(1), strings{"enter T1 17"});
    EXPECT_EQ(w.m_messenger.m_frames.back().event.zone_descriptor.severity_level, 3u);
    EXPECT_EQ(w.record("T1:Z1"), "ADD 2");
    w.ack_last("T1");
    EXPECT_EQ(w.record("T1:Z1"), "ACKED 0");
    EXPECT_EQ(w.m_loop_errors, strings{});
}

TEST(device_walks, a_zone_that_cannot_be_described_does_not_hold_back_the_other_enters) {
    world w;
    w.enter("T1", "Z1");
    w.enter("T1", "Z2");
    zone_fields broken = world::zone_with_id("Z1", 17);
    broken.zone_type_id = boost::none;
    w.set_zone(broken);

    w.register_device("T1");
    EXPECT_EQ(w.frames(), strings{"enter T1 18"});
    EXPECT_EQ(w.record("T1:Z1"), "ADD 0 no timer");
    EXPECT_EQ(w.record("T1:Z2"), "ADD 1");

    w.reboot("T1");
    EXPECT_EQ(w.frames(1), strings{"enter T1 18"});

    // The leave that makes room resumes the due enters, the describable ones at least.
    w.nack("T1");
    w.leave("T1", "Z2");
    w.enter("T1", "Z3");
    w.set_zone(world::zone_with_id("Z3", 19));
    w.ack("T1", w.record_of("T1:Z2").get_seq_no());
    EXPECT_EQ(w.frames(2), (strings{"leave T1 18", "enter T1 19"}));
    EXPECT_EQ(w.device_state("T1"), "AA");

    EXPECT_TRUE(w.m_collector.wait_for([](const strings& _lines) {
        return count_containing(_lines, "Caught exeption") >= 3 &&
               count_containing(_lines, "\"zone_type_id\" is missing") >= 3;
    }));
}

// No frame names a zone id over two bytes: its enter cannot have gone out, and a leave
// would be a frame the device misreads.
TEST(device_walks, a_zone_id_wider_than_two_bytes_gets_no_leave_and_its_event_goes) {
    world w;
    w.set_zone(world::zone_with_id("Z9", 0x10000));
    w.register_device("T1");
    w.enter("T1", "Z9");
    const std::size_t before = w.frame_count();
    w.leave("T1", "Z9");
    EXPECT_EQ(w.frames(before), strings{});
    EXPECT_EQ(w.record("T1:Z9"), "none");
    EXPECT_FALSE(w.m_context.get_zone_events().is_exists("T1:Z9"));
    EXPECT_TRUE(w.m_collector.wait_for([](const strings& _lines) {
        return count_containing(_lines,
                                "Zone event T1:Z9: zone id 65536 does not fit in 2 "
                                "bytes, no leave is sent") == 1;
    }));
}

TEST(initialize, handles_every_zone_event_once_and_logs_each_failure) {
    world w;
    w.m_dispatcher.reset();
    w.m_context.take_devices().add(device("T1", t1, "AA"), t1);
    w.m_context.take_devices().add(device("T2", t1, "BB"), t1);
    // Z0 is not a zone of the repository; its events come first in uid order.
    for (const auto& pair : std::vector<std::pair<const char*, const char*>>{
             {"T1", "Z0"}, {"T1", "Z1"}, {"T1", "Z2"}, {"T2", "Z0"}, {"T2", "Z1"}, {"T3", "Z1"}}) {
        w.enter(pair.first, pair.second);
    }
    w.start();
    EXPECT_EQ(w.frame_count(), 0u);

    w.m_dispatcher->initialize();
    EXPECT_EQ(w.frames(), (strings{"enter T1 17", "enter T1 18", "enter T2 17"}));
    EXPECT_EQ(w.record("T1:Z0"), "ADD 0 no timer");
    EXPECT_EQ(w.record("T1:Z1"), "ADD 1");
    EXPECT_EQ(w.record("T2:Z1"), "ADD 1");
    EXPECT_EQ(w.record("T3:Z1"), "ADD 0 no timer");

    ASSERT_TRUE(w.m_collector.wait_for(
        [](const strings& _lines) { return count_containing(_lines, "Zone not found Z0") >= 2; }));
    const strings lines = w.m_collector.lines();
    EXPECT_EQ(count_containing(lines, "Zone not found Z0"), 2u);
    EXPECT_EQ(count_containing(lines, "Caught exeption"), 2u);
    EXPECT_EQ(count_containing(lines, "dispatcher.cpp"), 4u);
}

struct notice_case {
    const char* name;
    zone_fields zone;
    unsigned int area_id, zone_id, zone_type_id, severity_level, zone_shape;
    std::vector<std::pair<int, int>> vertices;
};

TEST(enter_notice, is_built_from_the_zones_current_state) {
    const std::vector<std::pair<int, int>> points{{100, 200}, {-50, 200}, {100, -25}};
    zone_fields polygon;
    polygon.uid = "Z1";
    polygon.zone_id = 17;
    polygon.sublocation_id = 3;
    polygon.zone_type_id = 2;
    polygon.alarm_level = 1;
    zone_fields capitals = polygon;
    capitals.shape = "POLYGON";
    capitals.points = boost::none;  // not read for shape 2
    zone_fields circle = polygon;
    circle.shape = "circle";
    zone_fields bare;
    bare.uid = "Z1";
    bare.zone_type_id = 7;
    bare.alarm_level = 0;
    bare.points = std::vector<std::pair<int, int>>{};

    for (const notice_case& c : std::vector<notice_case>{
             {"polygon", polygon, 3, 17, 2, 1, 1, points},
             {"polygon in capitals", capitals, 3, 17, 2, 1, 2, {}},
             {"circle", circle, 3, 17, 2, 1, 2, {}},
             {"no sublocation or zone id", bare, 0, 0, 7, 0, 1, {}},
         }) {
        world w;
        w.set_zone(c.zone);
        w.register_device("T1");
        w.enter("T1", "Z1");
        ASSERT_EQ(w.frame_count(), 1u) << c.name;
        const auto& event = w.m_messenger.m_frames.back().event;
        const auto& d = event.zone_descriptor;
        EXPECT_EQ(d.area_id, c.area_id) << c.name;
        EXPECT_EQ(d.zone_id, c.zone_id) << c.name;
        EXPECT_EQ(d.zone_type_id, c.zone_type_id) << c.name;
        EXPECT_EQ(d.severity_level, c.severity_level) << c.name;
        EXPECT_EQ(d.zone_shape, c.zone_shape) << c.name;
        EXPECT_EQ(d.vertices, c.vertices) << c.name;
        EXPECT_EQ(d.custom_variable, "") << c.name;
        EXPECT_EQ(event.event_message, "") << c.name;
    }
}

TEST(enter_notice, zone_not_found_leaves_the_record_made_and_nothing_sent) {
    world w;
    w.register_device("T1");
    try {
        w.enter("T1", "Z9");
        FAIL() << "no exception";
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "Zone not found Z9");
        EXPECT_NE(std::string(e.what()).find("dispatcher.cpp"), std::string::npos) << e.what();
    }
    EXPECT_EQ(w.record("T1:Z9"), "ADD 0 no timer");
    EXPECT_EQ(w.frame_count(), 0u);
}

TEST(devices, refusal_and_acknowledged_leave_write_the_device_with_their_times) {
    world w;
    w.register_device("T1", "AA", t1);
    w.enter("T1", "Z1");
    w.nack("T1", t2);
    EXPECT_EQ(w.m_context.get_devices().get("T1").get_ts(), t2);
    EXPECT_TRUE(w.m_context.get_devices().get("T1").is_full());
    w.leave("T1", "Z1");
    w.ack_last("T1", t3);
    EXPECT_EQ(w.m_context.get_devices().get("T1").get_ts(), t3);
    EXPECT_FALSE(w.m_context.get_devices().get("T1").is_full());
}

TEST(lifecycle, sets_the_callbacks_and_leaves_nothing_behind) {
    world w;
    EXPECT_EQ(w.m_messenger.callbacks_set(), 5);
    w.register_device("T1");
    w.enter("T1", "Z1");
    w.enter("T1", "Z2");
    w.m_dispatcher.reset();
    EXPECT_EQ(w.m_messenger.callbacks_set(), 0);

    // No timer ticks and no repository reaches the dispatcher any more.
    w.leave("T1", "Z1");
    w.set_tag("T1", boost::none);
    w.run_for(3 * world::period);
    EXPECT_EQ(w.frame_count(), 2u);
}

TEST(writable_zone_event, starts_due_and_chains_its_setters) {
    writable_zone_event record("T1:Z1", "T1", 17);
    EXPECT_EQ(record.get_uid(), "T1:Z1");
    EXPECT_EQ(record.get_obj_uid(), "T1");
    EXPECT_EQ(record.get_zone_id(), 17u);
    EXPECT_EQ(record.get_sending_time(), timestamp());
    EXPECT_EQ(record.get_sending_status(), writable_zone_event::ADD);
    EXPECT_EQ(record.get_attempt_counter(), 0u);
    EXPECT_EQ(record.get_seq_no(), 0u);
    EXPECT_EQ(record.get_leave_seq_no(), writable_zone_event::NO_FRAME);
    EXPECT_FALSE(record.has_timer());
    record.stop_timer().restart_timer();  // no timer: nothing to do

    record.set_zone_id(18)
        .set_sending_time(t1)
        .set_sending_status(writable_zone_event::REMOVE)
        .set_attempt_counter(3)
        .set_seq_no(255)
        .set_leave_seq_no(254);
    EXPECT_EQ(record.increase_attempt_counter(), 4u);
    EXPECT_EQ(record.get_zone_id(), 18u);
    EXPECT_EQ(record.get_sending_time(), t1);
    EXPECT_EQ(record.get_sending_status(), writable_zone_event::REMOVE);
    EXPECT_EQ(record.get_seq_no(), 255u);
    EXPECT_EQ(record.get_leave_seq_no(), 254u);
    EXPECT_EQ(static_cast<unsigned int>(writable_zone_event::ACKED), 2u);
}

TEST(writable_zone_event, owns_one_timer_at_a_time_and_moves_with_it) {
    world w;
    int first = 0, second = 0;
    auto timer = w.m_loop->create_periodic_timer(
        world::period, "delivery timer", [&](core::timer::time_point) { ++first; },
        core::source_location());
    writable_zone_event record("T1:Z1", "T1", 17);
    record.set_timer(timer);
    EXPECT_FALSE(timer);
    auto replacement = w.m_loop->create_periodic_timer(
        world::period, "delivery timer", [&](core::timer::time_point) { ++second; },
        core::source_location());
    record.set_timer(replacement);

    writable_zone_event moved(std::move(record));
    EXPECT_EQ(moved.get_uid(), "T1:Z1");
    EXPECT_TRUE(moved.has_timer());
    ASSERT_TRUE(w.run_until([&] { return second >= 2; }));
    EXPECT_EQ(first, 0);

    moved.stop_timer();
    const int ticks = second;
    w.run_for(3 * world::period);
    EXPECT_EQ(second, ticks);
    moved.restart_timer();
    EXPECT_TRUE(w.run_until([&] { return second > ticks; }));
}

}  // namespace
