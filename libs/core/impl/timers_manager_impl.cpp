#include "timers_manager_impl.hpp"

#include "core/impl/periodic_timer_impl.hpp"
#include "timer_impl.hpp"

namespace tvk {
namespace libs {
namespace core {

timers_manager_impl::timers_manager_impl(events_loop& _events_loop, const component_logger& _logger)
    : m_events_loop(_events_loop), m_logger(_logger) {}

std::chrono::steady_clock::time_point timers_manager_impl::current_time_point() const {
    return std::chrono::steady_clock::now();
}

timestamp timers_manager_impl::current_timestamp() const {
    return timestamp::current_time();
}

timer::ptr timers_manager_impl::create_timer(std::chrono::nanoseconds _delay,
                                             const std::string& _name, timer::callback _callback,
                                             source_location _location) {
    return create_timer(current_time_point() + _delay, _name, std::move(_callback), _location);
}

timer::ptr timers_manager_impl::create_timer(timer::time_point _time_point,
                                             const std::string& _name, timer::callback _callback,
                                             source_location _location) {
    return std::make_unique<timer_impl>(m_events_loop.get_io_context(), _time_point, _name,
                                        std::move(_callback), m_logger, _location);
}

periodic_timer::ptr timers_manager_impl::create_periodic_timer(std::chrono::nanoseconds _period,
                                                               const std::string& _name,
                                                               timer::callback _callback,
                                                               source_location _location) {
    return std::make_unique<periodic_timer_impl>(*this, _period, _name, std::move(_callback),
                                                 _location, false);
}

periodic_timer::ptr timers_manager_impl::create_periodic_timer(std::chrono::nanoseconds _period,
                                                               periodic_timer::execute_now,
                                                               const std::string& _name,
                                                               timer::callback _callback,
                                                               source_location _location) {
    return std::make_unique<periodic_timer_impl>(*this, _period, _name, std::move(_callback),
                                                 _location, true);
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
