#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/periodic_timer.hpp"
#include "core/timestamp.hpp"

namespace tvk {

// The delivery record of one zone event: which notice is due for it, how often it has been
// sent, the sequence number of its latest frame and the timer that resends it.
class writable_zone_event {
public:
    // The sending status.
    enum snd_stat : unsigned int {
        ADD = 0,     // an enter notice is due
        REMOVE = 1,  // a leave notice is due
        ACKED = 2,   // the enter notice has been acknowledged
    };

    // The number of a record whose due notice has not been sent yet. Frames carry one byte, so
    // no acknowledgement names it: a cut frame reads as 0, and the number of an earlier notice
    // (a leave before a parked enter) must not acknowledge the notice due now.
    static constexpr unsigned int NO_FRAME = 0x100;

    // Status ADD, nothing sent, no timer.
    writable_zone_event(const std::string& _uid, const std::string& _obj_uid,
                        unsigned int _zone_id);

    // Copies the texts and takes the timer over.
    writable_zone_event(writable_zone_event&&) = default;
    writable_zone_event(const writable_zone_event&) = delete;
    writable_zone_event& operator=(const writable_zone_event&) = delete;
    writable_zone_event& operator=(writable_zone_event&&) = delete;

    const std::string& get_uid() const { return m_uid; }
    const std::string& get_obj_uid() const { return m_obj_uid; }
    // The zone id that leaves name: the one the latest enter sent carried, so that the device
    // drops what it got; the event's when the record was made, until an enter goes out.
    unsigned int get_zone_id() const { return m_zone_id; }
    libs::core::timestamp get_sending_time() const { return m_sending_time; }
    snd_stat get_sending_status() const { return m_sending_status; }
    unsigned int get_attempt_counter() const { return m_attempt_counter; }
    unsigned int get_seq_no() const { return m_seq_no; }
    // The latest leave frame that still waits for its acknowledgement, or NO_FRAME. It outlives
    // an enter sent after it: its acknowledgement tells that the device has room again.
    unsigned int get_leave_seq_no() const { return m_leave_seq_no; }
    bool has_timer() const { return static_cast<bool>(m_timer); }
    // Whether its timer runs.
    bool is_pending() const { return m_timer_running; }
    // Its place among the notices of its device that wait for a sequence number; 0: none.
    std::uint64_t get_wait_ticket() const { return m_wait_ticket; }
    std::uint64_t* wait_ticket() { return &m_wait_ticket; }

    writable_zone_event& set_zone_id(unsigned int _zone_id);
    writable_zone_event& set_sending_time(libs::core::timestamp _sending_time);
    writable_zone_event& set_sending_status(snd_stat _sending_status);
    writable_zone_event& set_attempt_counter(unsigned int _attempt_counter);
    writable_zone_event& set_seq_no(unsigned int _seq_no);
    writable_zone_event& set_leave_seq_no(unsigned int _leave_seq_no);
    // An enter frame carried _zone_id: leaves name it from now on, and the id that an earlier
    // enter carried is left too.
    writable_zone_event& enter_carried(unsigned int _zone_id);
    // Leaves name the next of the earlier ids; false when none is left.
    bool leave_earlier_zone_id();
    // Whether the device may hold get_zone_id() for this record: the record was made with it or
    // an enter carried it, and the device has not rebooted since. An earlier id that leaves name
    // now is held only as far as its enter says.
    bool may_hold_zone_id() const { return m_zone_id_held; }
    // The other ids that enters carried, the latest last.
    const std::vector<unsigned int>& get_earlier_zone_ids() const { return m_earlier_zone_ids; }
    // The device holds none of the ids (it rebooted): only enters sent from now on count.
    writable_zone_event& forget_zone_ids();

    // Adds one and returns the new count.
    unsigned int increase_attempt_counter();

    // Takes _timer over (leaving it empty) and destroys the timer held before.
    writable_zone_event& set_timer(libs::core::periodic_timer::ptr& _timer);
    // Each acts on the timer when there is one.
    writable_zone_event& restart_timer();
    writable_zone_event& stop_timer();

private:
    const std::string m_uid;
    const std::string m_obj_uid;
    unsigned int m_zone_id;
    libs::core::timestamp m_sending_time;
    snd_stat m_sending_status = ADD;
    unsigned int m_attempt_counter = 0;
    unsigned int m_seq_no = 0;
    unsigned int m_leave_seq_no = NO_FRAME;
    bool m_enter_sent = false;
    bool m_zone_id_held = true;
    // The other ids that enters carried since the device was last known to hold none of them
    // (a zone renumbered while its enters went out); each gets a leave after the one above.
    std::vector<unsigned int> m_earlier_zone_ids;
    std::uint64_t m_wait_ticket = 0;
    libs::core::periodic_timer::ptr m_timer;
    bool m_timer_running = false;
};

}  // namespace tvk
