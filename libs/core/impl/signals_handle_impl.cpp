#include "signals_handle_impl.hpp"

#include <csignal>
#include <exception>
#include <future>

#include <boost/asio/signal_set.hpp>

namespace tvk {
namespace libs {
namespace core {

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
                m_signal_is_received = true;
                m_main_events_loop.stop();
                m_thread_events_loop->stop();
            });
        } catch (...) {
            watching.set_exception(std::current_exception());
            return;
        }
        watching.set_value();
        // Only the first signal is handled: no further wait is started.
        m_thread_events_loop->run();
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

}  // namespace core
}  // namespace libs
}  // namespace tvk
