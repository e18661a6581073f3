#include "writable_zone_event.hpp"

#include <algorithm>
#include <utility>

namespace tvk {

writable_zone_event::writable_zone_event(const std::string& _uid, const std::string& _obj_uid,
                                         unsigned int _zone_id)
    : m_uid(_uid), m_obj_uid(_obj_uid), m_zone_id(_zone_id) {}

writable_zone_event& writable_zone_event::set_zone_id(unsigned int _zone_id) {
    m_zone_id = _zone_id;
    return *this;
}

writable_zone_event& writable_zone_event::set_sending_time(libs::core::timestamp _sending_time) {
    m_sending_time = _sending_time;
    return *this;
}

writable_zone_event& writable_zone_event::set_sending_status(snd_stat _sending_status) {
    m_sending_status = _sending_status;
    return *this;
}

writable_zone_event& writable_zone_event::set_attempt_counter(unsigned int _attempt_counter) {
    m_attempt_counter = _attempt_counter;
    return *this;
}

writable_zone_event& writable_zone_event::set_seq_no(unsigned int _seq_no) {
    m_seq_no = _seq_no;
    return *this;
}

writable_zone_event& writable_zone_event::set_leave_seq_no(unsigned int _leave_seq_no) {
    m_leave_seq_no = _leave_seq_no;
    return *this;
}

writable_zone_event& writable_zone_event::enter_carried(unsigned int _zone_id) {
    auto& earlier = m_earlier_zone_ids;
    earlier.erase(std::remove(earlier.begin(), earlier.end(), _zone_id), earlier.end());
    if (m_enter_sent && m_zone_id != _zone_id) {
        earlier.push_back(m_zone_id);
    }
    m_zone_id = _zone_id;
    m_enter_sent = true;
    m_zone_id_held = true;
    return *this;
}

bool writable_zone_event::leave_earlier_zone_id() {
    if (m_earlier_zone_ids.empty()) {
        return false;
    }
    m_zone_id = m_earlier_zone_ids.back();
    m_earlier_zone_ids.pop_back();
    m_zone_id_held = false;
    return true;
}

writable_zone_event& writable_zone_event::forget_zone_ids() {
    m_earlier_zone_ids.clear();
    m_enter_sent = false;
    m_zone_id_held = false;
    return *this;
}

unsigned int writable_zone_event::increase_attempt_counter() {
    return ++m_attempt_counter;
}

writable_zone_event& writable_zone_event::set_timer(libs::core::periodic_timer::ptr& _timer) {
    // The old timer goes first, so that two timers of one record never run side by side.
    m_timer.reset();
    m_timer = std::move(_timer);
    m_timer_running = static_cast<bool>(m_timer);
    return *this;
}

writable_zone_event& writable_zone_event::restart_timer() {
    if (m_timer) {
        m_timer->restart();
        m_timer_running = true;
    }
    return *this;
}

writable_zone_event& writable_zone_event::stop_timer() {
    if (m_timer) {
        m_timer->stop();
        m_timer_running = false;
    }
    return *this;
}

}  // namespace tvk
