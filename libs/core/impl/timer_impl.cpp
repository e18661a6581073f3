#include "timer_impl.hpp"

#include <boost/asio/error.hpp>

namespace tvk {
namespace libs {
namespace core {

timer_impl::timer_impl(boost::asio::io_context& _io_context, time_point _time_point,
                       const std::string& /*_name*/, callback _callback,
                       const component_logger& _logger, source_location /*_location*/)
    : m_timer(_io_context)
    , m_time_point(_time_point)
    , m_logger(_logger)
    , m_data(std::make_shared<shared_data>(std::move(_callback))) {
    reset(_time_point);
}

timer_impl::~timer_impl() {
    // The shared data goes first; the steady timer's own destruction then cancels the wait,
    // whose completion finds nothing to call.
    m_data.reset();
}

bool timer_impl::is_waiting() const {
    return m_data->m_waiting;
}

void timer_impl::reset(time_point _time_point) {
    stop();
    m_timer.expires_at(_time_point);
    m_time_point = _time_point;
    const std::uint64_t wait_number = ++m_data->m_wait_number;
    std::weak_ptr<shared_data> data = m_data;
    const time_point* current = &m_time_point;
    const component_logger& logger = m_logger;
    m_timer.async_wait(
        [data, current, _time_point, wait_number, &logger](const boost::system::error_code& _ec) {
            on_wait_complete(_ec, data, current, _time_point, wait_number, logger);
        });
    m_data->m_waiting = true;
}

void timer_impl::stop() {
    m_data->m_waiting = false;
    ++m_data->m_wait_number;
    m_time_point = time_point();
    m_timer.cancel();
}

void timer_impl::on_wait_complete(const boost::system::error_code& _ec,
                                  const std::weak_ptr<shared_data>& _data,
                                  const time_point* _current_time_point, time_point _time_point,
                                  std::uint64_t _wait_number, const component_logger& _logger) {
    // Held for the whole call: the callback may destroy its own timer.
    const std::shared_ptr<shared_data> data = _data.lock();
    // The timer is alive while its data is, so the time point may be read.
    const bool current =
        data && data->m_wait_number == _wait_number && *_current_time_point == _time_point;
    if (current) {
        data->m_waiting = false;
    }
    if (_ec) {
        if (_ec != boost::asio::error::operation_aborted) {
            _logger.log_error(_ec, TVK_SOURCE_LOCATION);
        }
        return;
    }
    if (current && data->m_callback) {
        data->m_callback(_time_point);
    }
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
