#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "core/timer.hpp"
#include "loop_fixture.hpp"

using loop_test::steady;
using tvk::libs::core::timer;
using namespace std::chrono_literals;

namespace {
class timers : public loop_test::loop_fixture {
protected:
    timer::ptr make(timer::time_point _time_point, timer::callback _callback) {
        return m_loop->create_timer(_time_point, "test", std::move(_callback), TVK_SOURCE_LOCATION);
    }

    // Stops the loop once _delay has passed.
    timer::ptr stop_after(std::chrono::milliseconds _delay) {
        return m_loop->get_timers().create_timer(
            _delay, "stop", [this](timer::time_point) { m_loop->stop(); }, TVK_SOURCE_LOCATION);
    }

    // Whether any line came from the timer's own source file (failed waits are logged there).
    bool timer_logged() const {
        for (const auto& line : log_lines()) {
            if (line.find("timer_impl") != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};
}  // namespace

TEST_F(timers, a_time_point_in_the_past_fires_at_once_with_that_time_point) {
    const auto past = steady::now() - 1h;
    std::vector<timer::time_point> fired;
    const auto start = steady::now();
    auto t = make(past, [&](timer::time_point _tp) {
        fired.push_back(_tp);
        m_loop->stop();
    });
    EXPECT_TRUE(t->is_waiting());
    EXPECT_TRUE(run_bounded());
    EXPECT_LT(steady::now() - start, 1s);
    EXPECT_EQ(fired, std::vector<timer::time_point>{past});
    EXPECT_FALSE(t->is_waiting());
}

TEST_F(timers, the_delay_form_arms_for_now_plus_the_delay) {
    std::vector<timer::time_point> fired;
    const auto before = steady::now();
    auto t = m_loop->get_timers().create_timer(
        20ms, "delay", [&](timer::time_point _tp) { fired.push_back(_tp); }, TVK_SOURCE_LOCATION);
    const auto after = steady::now();
    const auto stopper = stop_after(60ms);
    run_bounded();
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_GE(fired[0], before + 20ms);
    EXPECT_LE(fired[0], after + 20ms);
}

TEST_F(timers, reset_while_waiting_calls_back_once_with_the_new_time_point) {
    std::vector<timer::time_point> fired;
    const auto t1 = steady::now() + 10ms;
    const auto t2 = steady::now() + 200ms;
    auto t = make(t1, [&](timer::time_point _tp) { fired.push_back(_tp); });
    t->reset(t2);
    bool waiting_after_t1 = false;
    auto probe = make(t1 + 10ms, [&](timer::time_point) { waiting_after_t1 = t->is_waiting(); });
    const auto stopper = stop_after(250ms);
    run_bounded();
    EXPECT_EQ(fired, std::vector<timer::time_point>{t2});
    EXPECT_TRUE(waiting_after_t1);
    EXPECT_FALSE(t->is_waiting());
}

TEST_F(timers, stop_while_waiting_drops_the_callback_silently) {
    int fired = 0;
    auto t = make(steady::now() + 10ms, [&](timer::time_point) { ++fired; });
    t->stop();
    EXPECT_FALSE(t->is_waiting());
    auto gone = make(steady::now() + 10ms, [&](timer::time_point) { ++fired; });
    gone.reset();
    const auto stopper = stop_after(40ms);
    run_bounded();
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(t->is_waiting());
    m_logger.info("marker");
    ASSERT_TRUE(m_collector.wait_for_line_containing("marker"));
    EXPECT_FALSE(timer_logged());
}

TEST_F(timers, stop_or_reset_drop_a_completion_that_is_already_queued) {
    // Both timers are due before the loop runs, so both completions are queued together; the
    // first callback then stops or re-arms the other one.
    struct outcome {
        int first = 0;
        int second = 0;
    };
    for (const bool use_reset : {false, true}) {
        outcome counts;
        const auto due = steady::now() - 1ms;
        timer::ptr a;
        timer::ptr b;
        bool acted = false;
        auto on_fire = [&](int* _count, timer::ptr* _other) {
            return [&acted, due, _count, _other, use_reset](timer::time_point) {
                ++*_count;
                if (!acted) {
                    acted = true;
                    if (use_reset) {
                        // Re-armed for the very time point it was already due at.
                        (*_other)->reset(due);
                    } else {
                        (*_other)->stop();
                    }
                }
            };
        };
        a = make(due, on_fire(&counts.first, &b));
        b = make(due, on_fire(&counts.second, &a));
        const auto stopper = stop_after(30ms);
        run_bounded();
        m_loop->get_io_context().restart();
        // Stopped: one callback in all; re-armed: the other one once more, from its new wait.
        EXPECT_EQ(counts.first + counts.second, use_reset ? 2 : 1) << use_reset;
        if (use_reset) {
            EXPECT_EQ(counts.first, 1);
            EXPECT_EQ(counts.second, 1);
        }
    }
}

TEST_F(timers, reset_after_firing_arms_again) {
    std::vector<timer::time_point> fired;
    timer::ptr t;
    t = make(steady::now(), [&](timer::time_point _tp) {
        fired.push_back(_tp);
        if (fired.size() == 1) {
            t->reset(_tp + 10ms);
            EXPECT_TRUE(t->is_waiting());
        } else {
            m_loop->stop();
        }
    });
    EXPECT_TRUE(run_bounded());
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[1] - fired[0], 10ms);
}

TEST_F(timers, a_callback_may_destroy_its_own_timer) {
    int fired = 0;
    timer::ptr t;
    t = make(steady::now(), [&](timer::time_point) {
        ++fired;
        t.reset();
        m_loop->stop();
    });
    EXPECT_TRUE(run_bounded());
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(t);
}
