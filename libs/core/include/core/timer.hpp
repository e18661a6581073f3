#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace tvk {
namespace libs {
namespace core {

// A one-shot timer of an events loop; its callback runs on the loop's thread with the time
// point it was armed for.
class timer {
public:
    using ptr = std::unique_ptr<timer>;
    using time_point = std::chrono::steady_clock::time_point;
    using callback = std::function<void(time_point)>;

    virtual ~timer() = default;

    // Whether a wait is pending.
    virtual bool is_waiting() const = 0;
    // (Re)arms for _time_point, whatever the state; a completion of an earlier wait is dropped.
    virtual void reset(time_point _time_point) = 0;
    // Disarms; no callback follows until the next reset.
    virtual void stop() = 0;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
