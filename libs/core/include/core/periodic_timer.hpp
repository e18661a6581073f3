#pragma once

#include <chrono>
#include <memory>

namespace tvk {
namespace libs {
namespace core {

// A fixed-rate timer: ticks on the grid t0 + k * period; ticks missed while the loop was busy
// are skipped, never run in a burst. The callback gets the scheduled time point of the tick.
class periodic_timer {
public:
    using ptr = std::unique_ptr<periodic_timer>;

    // Tag: the first tick comes at once instead of one period after creation.
    class execute_now {};

    virtual ~periodic_timer() = default;

    // Sets the period (positive), then restarts.
    virtual void reset(std::chrono::nanoseconds _period) = 0;
    // No tick comes until restart or reset.
    virtual void stop() = 0;
    // A new grid: the next tick one period after now.
    virtual void restart() = 0;
    // Ticks at once and re-phases the grid to now; does nothing while stopped.
    virtual void expire_now() = 0;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
