#include "device_numbers.hpp"

#include <algorithm>
#include <utility>

namespace tvk {

void device_numbers::release_expired(clock::time_point _read_until) {
    // Each line ends in order: the first entry still due holds every later one back. An entry
    // whose number has since been answered, rested or taken again is dropped when its turn comes.
    const auto release_line = [&](std::deque<std::pair<unsigned int, std::uint64_t>>& _line,
                                  bool _resting) {
        while (!_line.empty()) {
            const unsigned int seq_no = _line.front().first;
            const auto found = m_held.find(seq_no);
            if (found != m_held.end() && found->second.serial == _line.front().second &&
                found->second.answered == _resting) {
                if (found->second.until > _read_until) {
                    return;
                }
                release(found);
                if (!_resting) {
                    m_lapsed.push_back(seq_no);
                    m_is_lapsed.set(seq_no);
                }
            }
            _line.pop_front();
        }
    };
    release_line(m_by_age, false);
    release_line(m_resting, true);
}

bool device_numbers::is_resting(unsigned int _seq_no) const {
    const auto found = m_held.find(_seq_no);
    return found != m_held.end() && found->second.answered;
}

bool device_numbers::rests_after_refusal(unsigned int _seq_no) const {
    const auto found = m_held.find(_seq_no);
    return found != m_held.end() && found->second.answered && found->second.refused;
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
    m_held[_seq_no] = frame{_uid, _kind, _until, serial, false, false, false};
    m_by_age.emplace_back(_seq_no, serial);
    if (_kind == enter) {
        ++m_enters_held;
    }
}

boost::optional<device_numbers::frame> device_numbers::answer(unsigned int _seq_no,
                                                              clock::time_point _rest_until,
                                                              bool _refusal) {
    const auto found = m_held.find(_seq_no);
    if (found == m_held.end()) {
        if (_seq_no < NUMBERS && m_is_lapsed[_seq_no]) {
            // A late answer, which may come twice too: nothing waits for it.
            forget_lapse(_seq_no);
            frame& lapsed = m_held[_seq_no];
            lapsed = frame{std::string(), leave, {}, 0, false, false, false};
            rest(_seq_no, lapsed, _rest_until, _refusal);
        }
        return boost::none;
    }
    if (found->second.answered) {
        // A copy of the answer that began the rest.
        return boost::none;
    }
    const frame answered = found->second;
    rest(_seq_no, found->second, _rest_until, _refusal);
    return answered;
}

void device_numbers::rest(unsigned int _seq_no, frame& _frame, clock::time_point _until,
                          bool _refusal) {
    _frame.answered = true;
    _frame.refused = _refusal;
    _frame.until = _until;
    _frame.serial = ++m_last_serial;
    m_resting.emplace_back(_seq_no, _frame.serial);
}

void device_numbers::release(std::map<unsigned int, frame>::iterator _held) {
    if (_held->second.what == enter) {
        --m_enters_held;
    }
    m_held.erase(_held);
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
