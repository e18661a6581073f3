#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "core/async_operation_handle.hpp"
#include "core/badge.hpp"
#include "core/events_loop.hpp"
#include "core/source_location.hpp"

namespace tvk {
namespace libs {
namespace core {

// The provider's side of a handle: the operation is started through the start function and
// hands its result to return_result, from any thread.
template <class Result>
class async_operation_handle_impl
    : public async_operation_handle<Result>,
      public std::enable_shared_from_this<async_operation_handle_impl<Result>> {
public:
    using ptr = std::shared_ptr<async_operation_handle_impl>;
    // Gets the handle both ways: an operation that is to be abandoned with the handle keeps
    // only the weak pointer.
    using start_function =
        std::function<void(const ptr&, const std::weak_ptr<async_operation_handle_impl>&)>;

    // Makes the handle; the operation is not started.
    static ptr create(events_loop& _events_loop, start_function _start_function) {
        return std::make_shared<async_operation_handle_impl>(
            _events_loop, std::move(_start_function), badge<async_operation_handle_impl>());
    }

    async_operation_handle_impl(events_loop& _events_loop, start_function _start_function,
                                badge<async_operation_handle_impl>)
        : m_events_loop(_events_loop), m_start_function(std::move(_start_function)) {}

    // Call on the loop's thread.
    void start() {
        m_completed = false;
        m_start_function(this->shared_from_this(), this->weak_from_this());
    }

    void restart() override { start(); }

    bool is_complete() const override { return m_completed; }

    // Queues the delivery of _result on the handle's loop; any thread may call it.
    void return_result(Result&& _result) {
        // Marked before the delivery is queued, so a restart made by the callback cannot be
        // overtaken by this run's mark.
        m_completed = true;
        std::weak_ptr<async_operation_handle_impl> weak = this->weak_from_this();
        // Shared, so that the job stays copyable for std::function even for a move-only result.
        auto result = std::make_shared<Result>(std::move(_result));
        m_events_loop.post([weak, result] { deliver(weak, *result); }, source_location());
    }

private:
    static void deliver(const std::weak_ptr<async_operation_handle_impl>& _weak, Result& _result) {
        // Held during the call, so the callback may drop the last handle.
        const ptr handle = _weak.lock();
        if (!handle || !handle->get_callback()) {
            return;
        }
        // A copy, so the callback may replace itself while it runs.
        const auto callback = handle->get_callback();
        callback(std::move(_result));
    }

    events_loop& m_events_loop;
    std::atomic<bool> m_completed{false};
    start_function m_start_function;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
