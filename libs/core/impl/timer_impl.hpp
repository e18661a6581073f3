#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "core/logger.hpp"
#include "core/source_location.hpp"
#include "core/timer.hpp"

namespace tvk {
namespace libs {
namespace core {

class timer_impl : public timer {
public:
    timer_impl(boost::asio::io_context& _io_context, time_point _time_point,
               const std::string& _name, callback _callback, const component_logger& _logger,
               source_location _location);
    ~timer_impl() override;

    bool is_waiting() const override;
    void reset(time_point _time_point) override;
    void stop() override;

private:
    // What the pending completion handlers share with the timer; they hold it weakly, so a
    // destroyed timer's completion does nothing.
    struct shared_data {
        explicit shared_data(callback _callback) : m_callback(std::move(_callback)) {}
        callback m_callback;
        bool m_waiting = false;
        // Numbers the waits: a completion that is already queued when the timer is stopped or
        // re-armed (even for the same time point) is recognised as stale.
        std::uint64_t m_wait_number = 0;
    };

    static void on_wait_complete(const boost::system::error_code& _ec,
                                 const std::weak_ptr<shared_data>& _data,
                                 const time_point* _current_time_point, time_point _time_point,
                                 std::uint64_t _wait_number, const component_logger& _logger);

    boost::asio::steady_timer m_timer;
    time_point m_time_point;
    const component_logger& m_logger;
    std::shared_ptr<shared_data> m_data;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
