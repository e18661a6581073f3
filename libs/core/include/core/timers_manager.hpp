#pragma once

#include <chrono>
#include <string>

#include "core/periodic_timer.hpp"
#include "core/source_location.hpp"
#include "core/timer.hpp"
#include "core/timestamp.hpp"

namespace tvk {
namespace libs {
namespace core {

// The maker of an events loop's timers and their clock. Timers must be destroyed before the
// loop that made them.
class timers_manager {
public:
    virtual ~timers_manager() = default;

    // The steady clock's now.
    virtual std::chrono::steady_clock::time_point current_time_point() const = 0;
    // The wall-clock now.
    virtual timestamp current_timestamp() const = 0;

    // A one-shot timer armed for now + _delay.
    virtual timer::ptr create_timer(std::chrono::nanoseconds _delay, const std::string& _name,
                                    timer::callback _callback, source_location _location) = 0;
    // A one-shot timer armed for _time_point; one in the past fires on the loop's next pass.
    virtual timer::ptr create_timer(timer::time_point _time_point, const std::string& _name,
                                    timer::callback _callback, source_location _location) = 0;
    // A periodic timer whose first tick comes one period after now.
    virtual periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                                      const std::string& _name,
                                                      timer::callback _callback,
                                                      source_location _location) = 0;
    // A periodic timer whose first tick comes at once.
    virtual periodic_timer::ptr create_periodic_timer(std::chrono::nanoseconds _period,
                                                      periodic_timer::execute_now,
                                                      const std::string& _name,
                                                      timer::callback _callback,
                                                      source_location _location) = 0;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
