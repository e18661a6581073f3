#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace test_support {

// A thread that calls one step again and again until it is stopped. Each step must return
// within a short while (wait with a time-out), so that stopping is prompt.
class polling_thread {
public:
    polling_thread() = default;
    ~polling_thread() { stop(); }
    polling_thread(const polling_thread&) = delete;
    polling_thread& operator=(const polling_thread&) = delete;

    void start(std::function<void()> _step) {
        m_thread = std::thread([this, step = std::move(_step)] {
            while (!m_stop) {
                step();
            }
        });
    }

    // Ends the loop after the current step and joins the thread; does nothing a second time.
    void stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace test_support
