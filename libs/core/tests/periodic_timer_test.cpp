#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/exception.hpp"
#include "core/impl/periodic_timer_impl.hpp"
#include "core/periodic_timer.hpp"
#include "core/timers_manager.hpp"
#include "loop_fixture.hpp"

using loop_test::steady;
using tvk::libs::core::periodic_timer;
using tvk::libs::core::periodic_timer_impl;
using tvk::libs::core::source_location;
using tvk::libs::core::timer;
using tvk::libs::core::timers_manager;
using tvk::libs::core::timestamp;
using namespace std::chrono_literals;

namespace {

// A timers manager with a clock the test moves; its one-shot timers fire only in advance_to.
class fake_timers : public timers_manager {
public:
    class fake_timer : public timer {
    public:
        fake_timer(fake_timers& _owner, time_point _time_point, callback _callback)
            : m_owner(_owner), m_time_point(_time_point), m_callback(std::move(_callback)) {
            m_owner.m_timers.push_back(this);
        }
        ~fake_timer() override {
            auto& timers = m_owner.m_timers;
            timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
        }
        bool is_waiting() const override { return m_waiting; }
        void reset(time_point _time_point) override {
            m_time_point = _time_point;
            m_waiting = true;
        }
        void stop() override { m_waiting = false; }

        fake_timers& m_owner;
        time_point m_time_point;
        callback m_callback;
        bool m_waiting = true;
    };

    timer::time_point current_time_point() const override { return m_now; }
    timestamp current_timestamp() const override { return timestamp(); }
    timer::ptr create_timer(std::chrono::nanoseconds _delay, const std::string& _name,
                            timer::callback _callback, source_location _location) override {
        return create_timer(m_now + _delay, _name, std::move(_callback), _location);
    }
    timer::ptr create_timer(timer::time_point _time_point, const std::string&,
                            timer::callback _callback, source_location) override {
        return std::make_unique<fake_timer>(*this, _time_point, std::move(_callback));
    }
    periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                              const std::string& _name, timer::callback _callback,
                                              source_location _location) override {
        return std::make_unique<periodic_timer_impl>(*this, _period, _name, std::move(_callback),
                                                     _location, false);
    }
    periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                              periodic_timer::execute_now, const std::string& _name,
                                              timer::callback _callback,
                                              source_location _location) override {
        return std::make_unique<periodic_timer_impl>(*this, _period, _name, std::move(_callback),
                                                     _location, true);
    }

    // Fires every wait due up to _time_point, earliest first; the clock moves to each wait's
    // time point unless a callback already moved it further.
    void advance_to(timer::time_point _time_point) {
        for (;;) {
            fake_timer* next = nullptr;
            for (auto* t : m_timers) {
                if (t->m_waiting && t->m_time_point <= _time_point &&
                    (next == nullptr || t->m_time_point < next->m_time_point)) {
                    next = t;
                }
            }
            if (next == nullptr) {
                break;
            }
            m_now = std::max(m_now, next->m_time_point);
            next->m_waiting = false;
            // A copy: the callback may destroy the timer.
            const auto callback = next->m_callback;
            callback(next->m_time_point);
        }
        m_now = std::max(m_now, _time_point);
    }

    std::size_t live_timers() const { return m_timers.size(); }

    timer::time_point m_now = timer::time_point(1h);
    std::vector<fake_timer*> m_timers;
};

// A fake clock and the ticks it saw, in milliseconds after the start.
class grid {
public:
    timer::time_point at(long _milliseconds) const {
        return m_t0 + std::chrono::milliseconds(_milliseconds);
    }
    // Records each tick, then calls _then.
    timer::callback record(std::function<void()> _then = nullptr) {
        return [this, _then](timer::time_point _tp) {
            m_ticks.push_back(
                std::chrono::duration_cast<std::chrono::milliseconds>(_tp - m_t0).count());
            if (_then) {
                _then();
            }
        };
    }

    fake_timers m_timers;
    const timer::time_point m_t0 = m_timers.m_now;
    std::vector<long> m_ticks;
};

class periodic_grid : public ::testing::Test, public grid {};

}  // namespace

TEST_F(periodic_grid, ticks_stay_on_the_grid_and_skip_what_a_blocked_loop_missed) {
    // The first tick's callback blocks the loop until `blocked_until`.
    const struct {
        long blocked_until;
        std::vector<long> ticks;
    } cases[] = {
        // The late t0+2 tick runs once with its own time point; t0+3 and t0+4 are skipped.
        {4500, {1000, 2000, 5000, 6000}},
        // A grid point equal to now is skipped too: t0+2, run at t0+3, is followed by t0+4.
        {3000, {1000, 2000, 4000, 5000, 6000}},
    };
    for (const auto& c : cases) {
        grid g;
        auto p = g.m_timers.create_periodic_timer(1s, "p", g.record([&] {
            if (g.m_ticks.size() == 1) {
                g.m_timers.m_now = g.at(c.blocked_until);
            }
        }),
                                                  TVK_SOURCE_LOCATION);
        g.m_timers.advance_to(g.at(999));
        EXPECT_TRUE(g.m_ticks.empty());
        g.m_timers.advance_to(g.at(6500));
        EXPECT_EQ(g.m_ticks, c.ticks) << c.blocked_until;
    }
}

TEST_F(periodic_grid, execute_now_ticks_at_creation_then_every_period) {
    auto p = m_timers.create_periodic_timer(1s, periodic_timer::execute_now(), "p", record(),
                                            TVK_SOURCE_LOCATION);
    m_timers.advance_to(at(2500));
    EXPECT_EQ(m_ticks, (std::vector<long>{0, 1000, 2000}));
}

TEST_F(periodic_grid, expire_now_restart_and_reset_start_a_new_phase) {
    struct step {
        const char* name;
        void (*act)(periodic_timer&);
        std::vector<long> ticks;
    };
    const step steps[] = {
        {"expire_now", [](periodic_timer& _p) { _p.expire_now(); }, {1000, 1300, 2300, 3300}},
        {"restart", [](periodic_timer& _p) { _p.restart(); }, {1000, 2300, 3300}},
        {"reset", [](periodic_timer& _p) { _p.reset(500ms); }, {1000, 1800, 2300, 2800, 3300}},
    };
    for (const auto& s : steps) {
        grid g;
        auto p = g.m_timers.create_periodic_timer(1s, "p", g.record(), TVK_SOURCE_LOCATION);
        g.m_timers.advance_to(g.at(1300));
        s.act(*p);
        g.m_timers.advance_to(g.at(3400));
        EXPECT_EQ(g.m_ticks, s.ticks) << s.name;
    }
}

TEST_F(periodic_grid, stop_silences_until_restart_and_expire_now_on_a_stopped_timer_does_nothing) {
    auto p = m_timers.create_periodic_timer(1s, "p", record(), TVK_SOURCE_LOCATION);
    m_timers.advance_to(at(1000));
    p->stop();
    EXPECT_EQ(m_timers.live_timers(), 0u);
    p->expire_now();
    m_timers.advance_to(at(3500));
    EXPECT_EQ(m_ticks, std::vector<long>{1000});
    p->restart();
    m_timers.advance_to(at(5000));
    EXPECT_EQ(m_ticks, (std::vector<long>{1000, 4500}));
}

TEST_F(periodic_grid, a_period_that_is_not_positive_is_refused) {
    EXPECT_THROW(m_timers.create_periodic_timer(0ns, "p", record(), TVK_SOURCE_LOCATION),
                 tvk::libs::core::exception);
    EXPECT_THROW(m_timers.create_periodic_timer(-1s, periodic_timer::execute_now(), "p", record(),
                                                TVK_SOURCE_LOCATION),
                 tvk::libs::core::exception);
    auto p = m_timers.create_periodic_timer(1s, "p", record(), TVK_SOURCE_LOCATION);
    try {
        p->reset(0ns);
        ADD_FAILURE() << "reset(0) accepted";
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "The period of a periodic timer must be positive");
    }
    // The timer keeps its period and phase.
    m_timers.advance_to(at(2500));
    EXPECT_EQ(m_ticks, (std::vector<long>{1000, 2000}));
}

TEST_F(periodic_grid, destroyed_timer_leaves_no_wait_behind) {
    auto p = m_timers.create_periodic_timer(1s, "p", record(), TVK_SOURCE_LOCATION);
    EXPECT_EQ(m_timers.live_timers(), 1u);
    p.reset();
    EXPECT_EQ(m_timers.live_timers(), 0u);
    m_timers.advance_to(at(3000));
    EXPECT_TRUE(m_ticks.empty());
}

namespace {
class periodic_timers : public loop_test::loop_fixture {
protected:
    periodic_timer::ptr make(std::chrono::milliseconds _period, timer::callback _callback) {
        return m_loop->create_periodic_timer(_period, "test", std::move(_callback),
                                             TVK_SOURCE_LOCATION);
    }
};
}  // namespace

TEST_F(periodic_timers, ticks_are_on_the_grid_one_period_apart) {
    const auto period = 15ms;
    std::vector<timer::time_point> ticks;
    const auto before = steady::now();
    auto p = make(period, [&](timer::time_point _tp) {
        ticks.push_back(_tp);
        if (ticks.size() == 4) {
            m_loop->stop();
        }
    });
    const auto after = steady::now();
    ASSERT_TRUE(run_bounded());
    ASSERT_EQ(ticks.size(), 4u);
    EXPECT_GE(ticks[0], before + period);
    EXPECT_LE(ticks[0], after + period);
    for (std::size_t k = 1; k < ticks.size(); ++k) {
        EXPECT_EQ(ticks[k] - ticks[0], period * static_cast<int>(k));
    }
}

TEST_F(periodic_timers, a_blocked_loop_skips_missed_ticks_without_a_burst) {
    const auto period = 20ms;
    std::vector<timer::time_point> ticks;
    std::vector<timer::time_point> calls;
    auto p = make(period, [&](timer::time_point _tp) {
        ticks.push_back(_tp);
        calls.push_back(steady::now());
        if (ticks.size() == 1) {
            std::this_thread::sleep_for(90ms);
        }
        if (ticks.size() == 3) {
            m_loop->stop();
        }
    });
    ASSERT_TRUE(run_bounded());
    ASSERT_EQ(ticks.size(), 3u);
    // The late tick keeps its own time point and runs right after the blocked one.
    EXPECT_EQ(ticks[1] - ticks[0], period);
    EXPECT_GE(calls[1] - calls[0], 90ms);
    // The next one is the first grid point after the late tick ran: nothing in between.
    EXPECT_EQ((ticks[2] - ticks[0]) % period, std::chrono::nanoseconds::zero());
    EXPECT_LE(ticks[2] - calls[1], period);
    EXPECT_GE(ticks[2] - ticks[0], 5 * period);
}

TEST_F(periodic_timers, execute_now_ticks_at_once) {
    std::vector<timer::time_point> ticks;
    const auto before = steady::now();
    auto p = m_loop->create_periodic_timer(
        20ms, periodic_timer::execute_now(), "now",
        [&](timer::time_point _tp) {
            ticks.push_back(_tp);
            if (ticks.size() == 2) {
                m_loop->stop();
            }
        },
        TVK_SOURCE_LOCATION);
    const auto after = steady::now();
    ASSERT_TRUE(run_bounded());
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_GE(ticks[0], before);
    EXPECT_LE(ticks[0], after);
    EXPECT_EQ(ticks[1] - ticks[0], 20ms);
}

TEST_F(periodic_timers, a_callback_may_stop_restart_or_destroy_its_own_timer) {
    enum class action { stop, restart, destroy };
    for (const auto act : {action::stop, action::restart, action::destroy}) {
        std::vector<timer::time_point> ticks;
        steady::time_point restarted_at;
        periodic_timer::ptr p;
        p = make(10ms, [&, act](timer::time_point _tp) {
            ticks.push_back(_tp);
            if (ticks.size() > 1) {
                return;
            }
            switch (act) {
                case action::stop:
                    p->stop();
                    break;
                case action::restart:
                    restarted_at = steady::now();
                    p->restart();
                    break;
                case action::destroy:
                    p.reset();
                    break;
            }
        });
        run_during(60ms);
        if (act == action::restart) {
            ASSERT_GE(ticks.size(), 2u);
            EXPECT_GE(ticks[1] - restarted_at, 10ms);
        } else {
            EXPECT_EQ(ticks.size(), 1u) << static_cast<int>(act);
        }
        EXPECT_EQ(p == nullptr, act == action::destroy);
    }
}

TEST_F(periodic_timers, a_throwing_callback_keeps_its_timer_ticking) {
    int ticks = 0;
    auto p = make(5ms, [&](timer::time_point) {
        if (++ticks == 3) {
            m_loop->stop();
        }
        throw std::runtime_error("tick failed");
    });
    ASSERT_TRUE(run_bounded(5s, true));
    EXPECT_EQ(ticks, 3);
    int caught = 0;
    int texts = 0;
    for (const auto& line : wait_for_log_lines(6)) {
        caught += line.find("Caught exeption") != std::string::npos;
        texts += line == "&quillmere:core <t> std::exception::what(): tick failed";
    }
    EXPECT_EQ(caught, 3);
    EXPECT_EQ(texts, 3);
}

TEST_F(periodic_timers, a_tick_already_queued_is_dropped_when_the_timer_goes) {
    int ticks = 0;
    periodic_timer::ptr p;
    // Due before the periodic timer's first tick, so it runs first in the same pass.
    auto killer = m_loop->create_timer(
        steady::now() - 1h, "killer", [&](timer::time_point) { p.reset(); }, TVK_SOURCE_LOCATION);
    p = m_loop->create_periodic_timer(
        10ms, periodic_timer::execute_now(), "victim", [&](timer::time_point) { ++ticks; },
        TVK_SOURCE_LOCATION);
    run_during(30ms);
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(p);
}
