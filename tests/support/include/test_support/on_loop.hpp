#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <utility>

namespace test_support {

// Runs _f on the thread that runs _loop (an events loop with post(handler, location)) and
// returns its result; raises when the loop has not run it within _timeout.
template <class Loop, class F>
auto on_loop(Loop& _loop, F _f, std::chrono::milliseconds _timeout = std::chrono::seconds(10))
    -> decltype(_f()) {
    auto task = std::make_shared<std::packaged_task<decltype(_f())()>>(std::move(_f));
    auto result = task->get_future();
    _loop.post([task] { (*task)(); }, {});
    if (result.wait_for(_timeout) != std::future_status::ready) {
        throw std::runtime_error("the events loop did not run the task in time");
    }
    return result.get();
}

}  // namespace test_support
