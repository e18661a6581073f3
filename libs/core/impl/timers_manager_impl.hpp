#pragma once

#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/timers_manager.hpp"

namespace tvk {
namespace libs {
namespace core {

class timers_manager_impl : public timers_manager {
public:
    timers_manager_impl(events_loop& _events_loop, const component_logger& _logger);

    std::chrono::steady_clock::time_point current_time_point() const override;
    timestamp current_timestamp() const override;
    timer::ptr create_timer(std::chrono::nanoseconds _delay, const std::string& _name,
                            timer::callback _callback, source_location _location) override;
    timer::ptr create_timer(timer::time_point _time_point, const std::string& _name,
                            timer::callback _callback, source_location _location) override;
    periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                              const std::string& _name, timer::callback _callback,
                                              source_location _location) override;
    periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                              periodic_timer::execute_now, const std::string& _name,
                                              timer::callback _callback,
                                              source_location _location) override;

private:
    events_loop& m_events_loop;
    const component_logger& m_logger;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
