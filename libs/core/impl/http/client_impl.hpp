#pragma once

#include <boost/asio/thread_pool.hpp>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/http/client.hpp"
#include "core/logger.hpp"
#include "http/shared_curl_data.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace http {

class client_impl : public client {
public:
    // Raises check_failed_exception for fewer than one worker thread.
    client_impl(events_loop& _main_events_loop, core& _core, const component_logger& _logger,
                const std::string& _address, std::chrono::seconds _timeout,
                const std::vector<method>& _disabled_methods, int _num_threads);
    // Waits for the transfers that workers are performing; requests still queued are
    // performed by the worker loop's own destruction while their handles live.
    ~client_impl() override;

    result perform_request(method _method, boost::string_view _address) override;
    result perform_request(method _method, boost::string_view _address,
                           boost::string_view _body) override;
    handle::ptr perform_async_request(method _method, std::string _address,
                                      handle::callback _callback) override;
    handle::ptr perform_async_request(method _method, std::string _address, std::string _body,
                                      handle::callback _callback) override;
    handle::ptr perform_async_request(method _method, std::string _address,
                                      std::string _body) override;

private:
    // On _easy, the calling thread's own handle for blocking requests, or, without one (the
    // workers' requests), on a new easy handle.
    result perform_request_impl(method _method, boost::string_view _address,
                                boost::string_view _body, CURL* _easy = nullptr);
    handle::ptr perform_async_request_impl(method _method, std::string _address, std::string _body);
    // A worker's request: what it raises is logged and becomes the result's error text.
    result perform_on_worker(method _method, boost::string_view _address, boost::string_view _body);

    // Expires first in the destructor: handles restarted after that find the client gone.
    std::shared_ptr<const bool> m_lifetime;
    events_loop& m_main_events_loop;
    const component_logger& m_logger;
    const std::string m_address;
    const std::chrono::seconds m_timeout;
    const std::set<method> m_disabled_methods;
    thread_curl_shares m_shared_curl_data;
    events_loop::ptr m_worker_events_loop;
    events_loop::work::ptr m_worker_events_loop_work;
    boost::asio::thread_pool m_worker_thread_pool;
};

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
