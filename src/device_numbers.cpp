#include "device_numbers.hpp"

#include <algorithm>
#include <utility>

namespace tvk {

void device_numbers::release_expired(clock::time_point _read_until) {
    while (!m_by_age.empty()) {
        const unsigned int seq_no = m_by_age.front().first;
        const auto found = m_held.find(seq_no);
        if (found != m_held.end() && found->second.serial == m_by_age.front().second) {
            if (found->second.until > _read_until) {
                // Every later frame was sent later and waits longer.
                return;
            }
            if (found->second.what == enter) {
                --m_enters_held;
            }
            m_held.erase(found);
            m_lapsed.push_back(seq_no);
            m_is_lapsed.set(seq_no);
        }
        m_by_age.pop_front();
    }
}

unsigned int device_numbers::next_number(unsigned int _last) const {
    for (unsigned int step = 1; step <= NUMBERS; ++step) {
        const unsigned int seq_no = (_last + step) % NUMBERS;
        if (!m_is_lapsed[seq_no] && m_held.count(seq_no) == 0) {
            return seq_no;
        }
    }
    return m_lapsed.empty() ? (_last + 1) % NUMBERS : m_lapsed.front();
}

void device_numbers::hold(unsigned int _seq_no, kind _kind, const std::string& _uid,
                          clock::time_point _until) {
    forget_lapse(_seq_no);
    const std::uint64_t serial = ++m_last_serial;
    m_held[_seq_no] = frame{_uid, _kind, _until, serial, false};
    m_by_age.emplace_back(_seq_no, serial);
    if (_kind == enter) {
        ++m_enters_held;
    }
}

boost::optional<device_numbers::frame> device_numbers::answer(unsigned int _seq_no) {
    const auto found = m_held.find(_seq_no);
    if (found == m_held.end()) {
        forget_lapse(_seq_no);
        return boost::none;
    }
    frame answered = std::move(found->second);
    if (answered.what == enter) {
        --m_enters_held;
    }
    m_held.erase(found);
    return answered;
}

void device_numbers::supersede(unsigned int _seq_no, const std::string& _uid) {
    const auto found = m_held.find(_seq_no);
    if (found != m_held.end() && found->second.uid == _uid) {
        found->second.superseded = true;
    }
}

bool device_numbers::may_take(kind _kind, const std::string& _uid, std::uint64_t* _ticket,
                              const still_waits& _still_waits) {
    const std::size_t free = NUMBERS - m_held.size();
    const std::size_t enter_room =
        ENTER_NUMBERS > m_enters_held ? ENTER_NUMBERS - m_enters_held : 0;
    const place own(_kind, _ticket != nullptr ? *_ticket : 0, _uid);
    // The notices before this one, all of them and the enters among them, as far as they
    // take the numbers that this one could get.
    std::size_t ahead = 0;
    std::size_t enters_ahead = 0;
    const auto has_room = [&] {
        return ahead < free && (_kind == leave || enters_ahead < enter_room);
    };
    bool waits = false;
    for (auto it = m_waiting.begin(); it != m_waiting.end() && has_room();) {
        if (*it == own) {
            waits = true;
            break;
        }
        const kind what = static_cast<kind>(std::get<0>(*it));
        if (what > _kind) {
            // Enters wait behind every leave.
            break;
        }
        if (!_still_waits(what, std::get<1>(*it), std::get<2>(*it))) {
            it = m_waiting.erase(it);
            continue;
        }
        ++ahead;
        enters_ahead += what == enter ? 1 : 0;
        ++it;
    }
    const bool take = has_room();
    if (!waits && _ticket != nullptr && *_ticket != 0) {
        waits = m_waiting.count(own) != 0;
    }
    if (take) {
        if (waits) {
            m_waiting.erase(own);
        }
        if (_ticket != nullptr) {
            *_ticket = 0;
        }
    } else if (!waits && _ticket != nullptr) {
        *_ticket = ++m_last_ticket;
        m_waiting.emplace(_kind, *_ticket, _uid);
    }
    return take;
}

void device_numbers::forget_lapse(unsigned int _seq_no) {
    if (_seq_no < NUMBERS && m_is_lapsed[_seq_no]) {
        m_is_lapsed.reset(_seq_no);
        m_lapsed.erase(std::find(m_lapsed.begin(), m_lapsed.end(), _seq_no));
    }
}

bool device_numbers::forget_stale(const still_waits& _still_waits) {
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (_still_waits(static_cast<kind>(std::get<0>(*it)), std::get<1>(*it), std::get<2>(*it))) {
            ++it;
        } else {
            it = m_waiting.erase(it);
        }
    }
    return m_held.empty() && m_waiting.empty();
}

}  // namespace tvk
