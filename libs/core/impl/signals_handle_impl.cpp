#include "signals_handle_impl.hpp"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <exception>
#include <future>

#include <boost/asio/signal_set.hpp>

namespace tvk {
namespace libs {
namespace core {

namespace {
sigset_t stop_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Whether SIGINT or SIGTERM waits, blocked, for a thread of this process to take it.
bool stop_signal_pending() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) {
        return false;
    }
    return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1;
}
}  // namespace

void hold_stop_signals() {
    const sigset_t held = stop_signals();
    pthread_sigmask(SIG_BLOCK, &held, nullptr);
}

signals_handle_impl::signals_handle_impl(core& _core, events_loop& _main_events_loop)
    : m_thread_events_loop(_core.create_events_loop("stop_on_signals"))
    , m_main_events_loop(_main_events_loop) {
    // The caller may be signalled as soon as this returns, so wait until the handler is in
    // place: before that a signal would still end the process the default way.
    std::promise<void> watching;
    std::future<void> watching_result = watching.get_future();
    m_thread = std::thread([this, &watching] {
        std::unique_ptr<boost::asio::signal_set> signals;
        try {
            signals = std::make_unique<boost::asio::signal_set>(
                m_thread_events_loop->get_io_context(), SIGINT, SIGTERM);
            signals->async_wait([this](const boost::system::error_code& _ec, int /*_signal*/) {
                if (_ec) {
                    return;
                }
                stop_loops();
            });
        } catch (...) {
            watching.set_exception(std::current_exception());
            return;
        }
        const sigset_t taken = stop_signals();
        if (stop_signal_pending()) {
            // The process blocked the signals until now and one came meanwhile: it stops the
            // loop before the caller goes on. It stays pending, as later ones would.
            stop_loops();
        } else {
            // The process may block them in every thread, so that none ends it before they
            // are watched: this thread takes them.
            pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
        }
        watching.set_value();
        // Only the first signal is handled: no further wait is started.
        m_thread_events_loop->run();
        // Blocked before the default action comes back, so that a late signal cannot take
        // this thread down the default way.
        pthread_sigmask(SIG_BLOCK, &taken, nullptr);
        // From here on the signals are no longer watched.
        signals.reset();
    });
    try {
        watching_result.get();
    } catch (...) {
        m_thread.join();
        throw;
    }
}

signals_handle_impl::~signals_handle_impl() {
    m_thread_events_loop->stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool signals_handle_impl::signal_is_received() const {
    return m_signal_is_received.load(std::memory_order_seq_cst);
}

void signals_handle_impl::stop_loops() {
    m_signal_is_received = true;
    m_main_events_loop.stop();
    m_thread_events_loop->stop();
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
