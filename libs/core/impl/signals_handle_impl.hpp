#pragma once

#include <atomic>
#include <thread>

#include "core/core.hpp"
#include "core/events_loop.hpp"

namespace tvk {
namespace libs {
namespace core {

// Watches SIGINT and SIGTERM on a thread and a loop of its own; the first one stops the main
// loop and ends the thread. A process that blocks both in all its threads from its start keeps
// them from ending it early: this thread takes them, and one that came before is handled
// before the constructor returns.
class signals_handle_impl : public events_loop::signals_handle {
public:
    // Returns once the signals are watched; raises when they cannot be.
    signals_handle_impl(core& _core, events_loop& _main_events_loop);
    ~signals_handle_impl() override;

    signals_handle_impl(const signals_handle_impl&) = delete;
    signals_handle_impl& operator=(const signals_handle_impl&) = delete;

    bool signal_is_received() const override;

private:
    // Marks the signal received and stops the main loop, then this handle's own.
    void stop_loops();

    events_loop::ptr m_thread_events_loop;
    events_loop& m_main_events_loop;
    std::atomic<bool> m_signal_is_received{false};
    std::thread m_thread;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
