#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "core/exception.hpp"
#include "core/periodic_timer.hpp"
#include "core/source_location.hpp"
#include "core/timer.hpp"
#include "core/timers_manager.hpp"

namespace tvk {
namespace libs {
namespace core {

// A periodic timer made of one-shot timers of its manager: each tick re-arms for the next
// grid point before it calls the user's callback.
class periodic_timer_impl : public periodic_timer {
public:
    periodic_timer_impl(timers_manager& _timers_manager, std::chrono::nanoseconds _period,
                        const std::string& _name, timer::callback _callback,
                        source_location /*_location*/, bool _execute_now)
        : m_name(_name)
        , m_timers_manager(_timers_manager)
        , m_period(checked_period(_period))
        , m_callback(std::make_shared<timer::callback>(std::move(_callback))) {
        restart_impl();
        if (_execute_now) {
            expire_now_impl();
        }
    }

    ~periodic_timer_impl() override {
        // The callback first: a tick that is already queued then finds it gone.
        m_callback.reset();
        m_timer.reset();
    }

    periodic_timer_impl(const periodic_timer_impl&) = delete;
    periodic_timer_impl& operator=(const periodic_timer_impl&) = delete;

    void reset(std::chrono::nanoseconds _period) override {
        m_period = checked_period(_period);
        restart();
    }

    void stop() override { m_timer.reset(); }

    void restart() override { restart_impl(); }

    void expire_now() override {
        if (m_timer) {
            expire_now_impl();
        }
    }

private:
    static std::chrono::nanoseconds checked_period(std::chrono::nanoseconds _period) {
        if (_period <= std::chrono::nanoseconds::zero()) {
            TVK_THROW("The period of a periodic timer must be positive");
        }
        return _period;
    }

    void restart_impl() {
        const timer::time_point next = m_timers_manager.current_time_point() + m_period;
        std::weak_ptr<timer::callback> callback = m_callback;
        periodic_timer_impl* self = this;
        // Replacing the one-shot timer destroys the previous one: its wait never calls back.
        m_timer = m_timers_manager.create_timer(
            next, m_name,
            [callback, self](timer::time_point _time_point) { tick(callback, self, _time_point); },
            TVK_SOURCE_LOCATION);
    }

    void expire_now_impl() { m_timer->reset(m_timers_manager.current_time_point()); }

    // The callback may stop, restart or destroy this timer, so nothing of it is touched after
    // the call; the locked pointer keeps the callback itself alive until it returns.
    static void tick(const std::weak_ptr<timer::callback>& _callback, periodic_timer_impl* _self,
                     timer::time_point _time_point) {
        const std::shared_ptr<timer::callback> callback = _callback.lock();
        if (!callback) {
            return;
        }
        if (_self->m_timer) {
            _self->m_timer->reset(_self->get_next_time_point(_time_point));
        }
        if (*callback) {
            (*callback)(_time_point);
        }
    }

    // The first grid point after now; missed points are skipped.
    timer::time_point get_next_time_point(timer::time_point _time_point) const {
        const timer::time_point now = m_timers_manager.current_time_point();
        if (_time_point > now) {
            return _time_point;
        }
        const auto missed = (now - _time_point) / m_period;
        return _time_point + m_period * (missed + 1);
    }

    std::string m_name;
    timers_manager& m_timers_manager;
    timer::ptr m_timer;
    std::chrono::nanoseconds m_period;
    std::shared_ptr<timer::callback> m_callback;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
