// The sequence numbers of one device, on their own: which frames hold them, for how long, and
// in which order the waiting notices get the free ones.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "device_numbers.hpp"

using tvk::device_numbers;
using namespace std::chrono_literals;

namespace {

const device_numbers::clock::time_point t0{};

// Answers _seq_no, and lets its rest end at once.
void answer_now(device_numbers& _numbers, unsigned int _seq_no) {
    _numbers.answer(_seq_no, t0);
    _numbers.release_expired(t0);
}

// Notices that wait as long as their records say so.
class line {
public:
    // Whether the notice of _uid may take a number; if so, it is sent and holds one until _until.
    bool send(device_numbers::kind _kind, const std::string& _uid,
              device_numbers::clock::time_point _until = t0 + 1h) {
        std::uint64_t& ticket = m_tickets[_uid];
        if (!m_numbers.may_take(_kind, _uid, &ticket, waits())) {
            return false;
        }
        m_numbers.hold(m_next++ % device_numbers::NUMBERS, _kind, _uid, _until);
        return true;
    }
    // _uid gives its place up, as a record that is parked or acknowledged does.
    void give_up(const std::string& _uid) { m_gone.push_back(_uid); }

    device_numbers::still_waits waits() {
        return [this](device_numbers::kind, std::uint64_t _ticket, const std::string& _uid) {
            for (const auto& gone : m_gone) {
                if (gone == _uid) {
                    return false;
                }
            }
            return m_tickets[_uid] == _ticket;
        };
    }

    device_numbers m_numbers;
    unsigned int m_next = 0;

private:
    std::map<std::string, std::uint64_t> m_tickets;
    std::vector<std::string> m_gone;
};

TEST(device_numbers, a_number_is_held_until_its_frame_is_answered_or_its_wait_ended) {
    device_numbers numbers;
    numbers.hold(7, device_numbers::enter, "T1:Z1", t0 + 10s);
    numbers.hold(8, device_numbers::leave, "T1:Z2", t0 + 20s);
    EXPECT_EQ(numbers.held(), 2u);
    EXPECT_EQ(numbers.held_by_enters(), 1u);

    const auto answered = numbers.answer(7, t0 + 5s);
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->uid, "T1:Z1");
    EXPECT_EQ(answered->what, device_numbers::enter);
    EXPECT_FALSE(numbers.answer(7, t0 + 6s)) << "an answer counts once";
    EXPECT_FALSE(numbers.answer(9, t0 + 6s));
    EXPECT_FALSE(numbers.is_resting(9));

    // 7 rests, as an enter's, then goes to a later frame; the wait of the answered frame must
    // not free it.
    EXPECT_TRUE(numbers.is_resting(7));
    EXPECT_EQ(numbers.held_by_enters(), 1u);
    numbers.release_expired(t0 + 5s);
    EXPECT_FALSE(numbers.is_held(7));
    EXPECT_FALSE(numbers.is_lapsed(7));
    numbers.hold(7, device_numbers::enter, "T1:Z3", t0 + 30s);
    numbers.release_expired(t0 + 10s);
    EXPECT_TRUE(numbers.is_held(7));
    numbers.release_expired(t0 + 20s);
    EXPECT_FALSE(numbers.is_held(8));
    EXPECT_TRUE(numbers.is_held(7));
    numbers.release_expired(t0 + 30s);
    EXPECT_EQ(numbers.held(), 0u);
    EXPECT_EQ(numbers.held_by_enters(), 0u);
}

TEST(device_numbers, enters_leave_room_for_leaves) {
    line l;
    for (unsigned int i = 0; i < device_numbers::ENTER_NUMBERS; ++i) {
        ASSERT_TRUE(l.send(device_numbers::enter, "E" + std::to_string(i)));
    }
    EXPECT_FALSE(l.send(device_numbers::enter, "E-late"));
    for (unsigned int i = device_numbers::ENTER_NUMBERS; i < device_numbers::NUMBERS; ++i) {
        ASSERT_TRUE(l.send(device_numbers::leave, "L" + std::to_string(i)));
    }
    EXPECT_FALSE(l.send(device_numbers::leave, "L-late"));

    // A freed number goes to the leave that waits, before the enter that waited longer.
    answer_now(l.m_numbers, 0);
    EXPECT_FALSE(l.send(device_numbers::enter, "E-late"));
    EXPECT_TRUE(l.send(device_numbers::leave, "L-late"));
}

TEST(device_numbers, free_numbers_go_to_the_waiting_notices_in_turn) {
    line l;
    for (unsigned int i = 0; i < device_numbers::ENTER_NUMBERS; ++i) {
        ASSERT_TRUE(l.send(device_numbers::enter, "E" + std::to_string(i)));
    }
    EXPECT_FALSE(l.send(device_numbers::enter, "first"));
    EXPECT_FALSE(l.send(device_numbers::enter, "second"));
    EXPECT_FALSE(l.send(device_numbers::enter, "third"));

    answer_now(l.m_numbers, 0);
    // The later ones ask first, and wait.
    EXPECT_FALSE(l.send(device_numbers::enter, "third"));
    EXPECT_FALSE(l.send(device_numbers::enter, "E5"));  // a resend queues behind them
    EXPECT_TRUE(l.send(device_numbers::enter, "first"));

    // A notice that gave its place up holds nobody back.
    answer_now(l.m_numbers, 1);
    l.give_up("second");
    EXPECT_TRUE(l.send(device_numbers::enter, "third"));

    // A notice that cannot wait gets a number only when none waits for it.
    answer_now(l.m_numbers, 2);
    EXPECT_FALSE(l.m_numbers.may_take(device_numbers::enter, "", nullptr, l.waits()));
    EXPECT_TRUE(l.send(device_numbers::enter, "E5"));
    answer_now(l.m_numbers, 3);
    EXPECT_TRUE(l.m_numbers.may_take(device_numbers::enter, "", nullptr, l.waits()));
}

// A late answer to a number whose wait passed must find it unused while other numbers are free.
TEST(device_numbers, a_lapsed_number_is_given_again_only_when_no_other_is_free) {
    device_numbers numbers;
    numbers.hold(1, device_numbers::enter, "T1:Z1", t0 + 1s);
    numbers.hold(2, device_numbers::enter, "T1:Z2", t0 + 2s);
    // An answer that came in time but is still unread keeps the number held.
    numbers.release_expired(t0 + 1500ms);
    EXPECT_FALSE(numbers.is_held(1));
    EXPECT_TRUE(numbers.is_lapsed(1));
    EXPECT_TRUE(numbers.is_held(2));
    EXPECT_EQ(numbers.next_number(0), 3u);
    numbers.release_expired(t0 + 2s);
    EXPECT_EQ(numbers.next_number(0), 3u);

    // Every other number in use: the one that lapsed first goes again, and is no longer lapsed.
    for (unsigned int n = 3; n < device_numbers::NUMBERS + 1; ++n) {
        numbers.hold(n % device_numbers::NUMBERS, device_numbers::leave, "T1:Z9", t0 + 1h);
    }
    EXPECT_EQ(numbers.next_number(0), 1u);
    numbers.hold(1, device_numbers::leave, "T1:Z9", t0 + 1h);
    EXPECT_FALSE(numbers.is_lapsed(1));
    EXPECT_EQ(numbers.next_number(0), 2u);
    EXPECT_EQ(numbers.lapsed(), 1u);

    // A late answer to a lapsed number counts for nothing; the number rests, as its copy may
    // follow, then is free like any other.
    EXPECT_FALSE(numbers.answer(2, t0 + 3s));
    EXPECT_EQ(numbers.lapsed(), 0u);
    EXPECT_TRUE(numbers.is_resting(2));
    EXPECT_FALSE(numbers.answer(2, t0 + 4s));
    numbers.release_expired(t0 + 3s);
    EXPECT_EQ(numbers.next_number(0), 2u);
}

// A device, or a relay, that sends every answer twice: the copy must not count for the frame
// that takes the number next, so the number stays out of use until the copy can no longer
// come, and the notices wait for it as for a held one.
TEST(device_numbers, an_answered_number_rests_before_another_frame_gets_it) {
    line l;
    for (unsigned int i = 0; i < device_numbers::ENTER_NUMBERS; ++i) {
        ASSERT_TRUE(l.send(device_numbers::enter, "E" + std::to_string(i)));
    }
    ASSERT_TRUE(l.m_numbers.answer(0, t0 + 2s));
    EXPECT_TRUE(l.m_numbers.is_held(0));
    EXPECT_FALSE(l.send(device_numbers::enter, "waiting"));
    // The copy, however often it comes.
    EXPECT_FALSE(l.m_numbers.answer(0, t0 + 3s));
    EXPECT_FALSE(l.m_numbers.answer(0, t0 + 4s));
    // A copy that came in time but waits unread keeps it resting.
    l.m_numbers.release_expired(t0 + 1s);
    EXPECT_FALSE(l.send(device_numbers::enter, "waiting"));
    l.m_numbers.release_expired(t0 + 2s);
    EXPECT_FALSE(l.m_numbers.is_held(0));
    EXPECT_EQ(l.m_numbers.next_number(device_numbers::NUMBERS - 1), 0u);
    EXPECT_TRUE(l.send(device_numbers::enter, "waiting"));

    // The rests of leaves end in the order they began.
    const std::size_t held = l.m_numbers.held();
    const unsigned int first = l.m_next;
    ASSERT_TRUE(l.send(device_numbers::leave, "L1"));
    ASSERT_TRUE(l.send(device_numbers::leave, "L2"));
    ASSERT_TRUE(l.m_numbers.answer(first, t0 + 5s));
    ASSERT_TRUE(l.m_numbers.answer(first + 1, t0 + 6s, true));
    // Only a refusal's rest makes a later refusal of the number its copy.
    EXPECT_FALSE(l.m_numbers.rests_after_refusal(first));
    EXPECT_TRUE(l.m_numbers.rests_after_refusal(first + 1));
    l.m_numbers.release_expired(t0 + 5s);
    EXPECT_FALSE(l.m_numbers.is_held(first));
    EXPECT_TRUE(l.m_numbers.is_resting(first + 1));
    l.m_numbers.release_expired(t0 + 6s);
    EXPECT_EQ(l.m_numbers.held(), held);
}

TEST(device_numbers, is_unused_once_nothing_is_held_and_nobody_waits) {
    line l;
    for (unsigned int i = 0; i < device_numbers::ENTER_NUMBERS; ++i) {
        ASSERT_TRUE(l.send(device_numbers::enter, "E" + std::to_string(i), t0 + 1s));
    }
    EXPECT_FALSE(l.send(device_numbers::enter, "waiting"));
    l.m_numbers.release_expired(t0 + 1s);
    EXPECT_FALSE(l.m_numbers.forget_stale(l.waits()));
    l.give_up("waiting");
    EXPECT_TRUE(l.m_numbers.forget_stale(l.waits()));
}

}  // namespace
