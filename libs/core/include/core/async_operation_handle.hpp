#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace tvk {
namespace libs {
namespace core {

// The caller's grip on an operation that finishes later: its result reaches the callback on
// the events loop that made the handle. Once the last owner lets go, nothing is called back.
template <class... Result>
class async_operation_handle {
public:
    using ptr = std::shared_ptr<async_operation_handle>;
    using callback = std::function<void(Result...)>;
    using void_callback = std::function<void()>;

    virtual ~async_operation_handle() = default;

    // Whether the result of the current run has been handed over for delivery.
    virtual bool is_complete() const = 0;
    // Runs the operation again; its result goes to the same callback.
    virtual void restart() = 0;

    // The callback is read at delivery, so one set after the start is still called. Call it on
    // the loop's thread.
    template <bool has_result = (sizeof...(Result) > 0), std::enable_if_t<has_result, int> = 0>
    void set_callback(callback _callback) {
        m_callback = std::move(_callback);
    }
    // A callback that is told of the completion without the result.
    void set_callback(void_callback _callback) {
        if (!_callback) {
            m_callback = nullptr;
            return;
        }
        m_callback = [f = std::move(_callback)](Result...) { f(); };
    }

protected:
    callback& get_callback() { return m_callback; }

private:
    callback m_callback;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
