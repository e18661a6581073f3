#pragma once

#include <bitset>
#include <boost/optional.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>

namespace tvk {

// The one-byte sequence numbers of one device: those that its frames hold, and the notices
// that wait for one. A frame holds its number from its send until it is answered or its longest
// wait has passed, so that a late answer can only be taken for the frame that carried its
// number. A number whose wait passed is given again only when no other is free, the one that
// lapsed first before the others, so that an answer later still most likely finds it unused and
// counts for nothing. An answered number rests a while before it is given again, so that a
// copy of the answer (a device or a relay that sends each answer twice) counts for nothing
// instead of for the next frame. Enters hold at most ENTER_NUMBERS of them, resting ones
// included: the others are there for leaves, which a full device needs to get room again. Free
// numbers go to the waiting notices in turn, leaves first. Plain bookkeeping: no I/O, no timers.
class device_numbers {
public:
    using clock = std::chrono::steady_clock;

    // Leaves come first in the waiting order.
    enum kind : int { leave = 0, enter = 1 };

    // A frame that waits for its answer.
    struct frame {
        std::string uid;  // of its record; empty for a frame that nothing tracks
        kind what;
        clock::time_point until;
        std::uint64_t serial;
        // A later frame of its record took its place: its answer counts for nothing.
        bool superseded;
        // Answered: the number rests until `until`.
        bool answered;
        // The answer was a refusal.
        bool refused;
    };

    // Whether the notice of _kind of the record _uid still waits in the place _ticket.
    using still_waits =
        std::function<bool(kind _kind, std::uint64_t _ticket, const std::string& _uid)>;

    static constexpr unsigned int NUMBERS = 0x100;
    static constexpr unsigned int ENTER_NUMBERS = 192;

    // Frees the numbers of the frames whose wait ended by _read_until, the time up to which
    // the device's answers have been read, and of those whose rest ended by then: an answer,
    // or a copy of one, that came in time but waits unread keeps its frame's number.
    void release_expired(clock::time_point _read_until);
    // Whether a frame, or the rest after its answer, keeps _seq_no from the next frame.
    bool is_held(unsigned int _seq_no) const { return m_held.count(_seq_no) != 0; }
    bool is_resting(unsigned int _seq_no) const;
    // Whether _seq_no rests after a refusal: another refusal of it is that one's copy.
    bool rests_after_refusal(unsigned int _seq_no) const;
    // Whether _seq_no is free because its frame's wait passed, not by an answer.
    bool is_lapsed(unsigned int _seq_no) const { return m_is_lapsed[_seq_no % NUMBERS]; }
    // The number for the next frame, after _last in turn: the first one that no frame holds
    // and that did not lapse; when there is none, the one that lapsed first. The caller has
    // made sure, by may_take, that one is free.
    unsigned int next_number(unsigned int _last) const;
    // _seq_no, which must be free, is held by a frame of _kind of the record _uid until _until.
    void hold(unsigned int _seq_no, kind _kind, const std::string& _uid, clock::time_point _until);
    // The frame that held _seq_no, answered by an acknowledgement or, when _refusal, by a
    // refusal; none when no frame waited for an answer under it. The number rests until
    // _rest_until, also when it had lapsed, and an answer to it meanwhile counts for nothing.
    boost::optional<frame> answer(unsigned int _seq_no, clock::time_point _rest_until,
                                  bool _refusal = false);
    // The frame of the record _uid that holds _seq_no, if any, is superseded.
    void supersede(unsigned int _seq_no, const std::string& _uid);

    // Whether a notice of _kind of the record _uid may take a number now: a free one is left
    // after those that the notices waiting before it are to get. A notice that may not takes,
    // or keeps, a place in the line through *_ticket (0: none yet); without _ticket it cannot
    // wait. A place lasts while _still_waits says so.
    bool may_take(kind _kind, const std::string& _uid, std::uint64_t* _ticket,
                  const still_waits& _still_waits);
    // Forgets the places of the notices that no longer wait; true when nothing is held and
    // nothing waits.
    bool forget_stale(const still_waits& _still_waits);
    void clear_waiting() { m_waiting.clear(); }

    std::size_t held() const { return m_held.size(); }
    std::size_t held_by_enters() const { return m_enters_held; }
    std::size_t lapsed() const { return m_lapsed.size(); }

private:
    typedef std::tuple<int, std::uint64_t, std::string> place;

    // _seq_no is no longer a lapsed number.
    void forget_lapse(unsigned int _seq_no);
    // _seq_no, held by _frame, which was answered (refused when _refusal), rests until _until.
    void rest(unsigned int _seq_no, frame& _frame, clock::time_point _until, bool _refusal);
    // The frame that holds _seq_no leaves it.
    void release(std::map<unsigned int, frame>::iterator _held);

    std::map<unsigned int, frame> m_held;
    // The frames in the order they were sent, which is the order their waits end in; an entry
    // whose frame was answered is dropped when its turn comes.
    std::deque<std::pair<unsigned int, std::uint64_t>> m_by_age;
    // The answered numbers in the order they began to rest, which is the order their rests end
    // in, as every rest is as long.
    std::deque<std::pair<unsigned int, std::uint64_t>> m_resting;
    std::size_t m_enters_held = 0;
    // The numbers whose wait passed unanswered, in the order they lapsed in.
    std::deque<unsigned int> m_lapsed;
    std::bitset<NUMBERS> m_is_lapsed;
    std::uint64_t m_last_serial = 0;
    std::set<place> m_waiting;
    std::uint64_t m_last_ticket = 0;
};

}  // namespace tvk
