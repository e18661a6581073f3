#include "http/client_impl.hpp"

#include <boost/asio/post.hpp>
#include <utility>

#include "core/async_operation_handle_impl.hpp"
#include "core/exception.hpp"
#include "http/transfer.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace http {

namespace {

std::size_t checked_thread_count(int _num_threads) {
    // Without a worker, asynchronous requests would wait for ever.
    TVK_CHECK(_num_threads >= 1);
    return static_cast<std::size_t>(_num_threads);
}

}  // namespace

client_impl::client_impl(events_loop& _main_events_loop, core& _core,
                         const component_logger& _logger, const std::string& _address,
                         std::chrono::seconds _timeout,
                         const std::vector<method>& _disabled_methods, int _num_threads)
    : m_lifetime(std::make_shared<const bool>(true))
    , m_main_events_loop(_main_events_loop)
    , m_logger(_logger)
    , m_address(_address)
    , m_timeout(_timeout)
    , m_disabled_methods(_disabled_methods.begin(), _disabled_methods.end())
    , m_worker_events_loop(
          (ensure_curl_global_init(), _core.create_events_loop("http_client::worker")))
    , m_worker_events_loop_work(m_worker_events_loop->create_work())
    , m_worker_thread_pool(checked_thread_count(_num_threads)) {
    for (int i = 0; i < _num_threads; ++i) {
        boost::asio::post(m_worker_thread_pool, [this] { m_worker_events_loop->run(); });
    }
}

client_impl::~client_impl() {
    m_lifetime.reset();
    m_worker_events_loop_work.reset();
    m_worker_events_loop->stop();
    m_worker_thread_pool.join();
}

result client_impl::perform_request(method _method, boost::string_view _address) {
    return perform_request(_method, _address, boost::string_view());
}

result client_impl::perform_request(method _method, boost::string_view _address,
                                    boost::string_view _body) {
    return perform_request_impl(_method, _address, _body, m_shared_curl_data.easy_handle());
}

client::handle::ptr client_impl::perform_async_request(method _method, std::string _address,
                                                       handle::callback _callback) {
    return perform_async_request(_method, std::move(_address), std::string(), std::move(_callback));
}

client::handle::ptr client_impl::perform_async_request(method _method, std::string _address,
                                                       std::string _body,
                                                       handle::callback _callback) {
    handle::ptr started = perform_async_request(_method, std::move(_address), std::move(_body));
    started->set_callback(std::move(_callback));
    return started;
}

client::handle::ptr client_impl::perform_async_request(method _method, std::string _address,
                                                       std::string _body) {
    return perform_async_request_impl(_method, std::move(_address), std::move(_body));
}

result client_impl::perform_request_impl(method _method, boost::string_view _address,
                                         boost::string_view _body, CURL* _easy) {
    const transfer_settings settings{m_address, m_timeout, m_shared_curl_data.get().get_ptr()};
    return perform_transfer(settings, _method, _address, _body,
                            m_disabled_methods.count(_method) > 0, _easy);
}

result client_impl::perform_on_worker(method _method, boost::string_view _address,
                                      boost::string_view _body) {
    try {
        return perform_request_impl(_method, _address, _body);
    } catch (...) {
        m_logger.log_exception();
        return result(exception_to_string());
    }
}

client::handle::ptr client_impl::perform_async_request_impl(method _method, std::string _address,
                                                            std::string _body) {
    using handle_impl = async_operation_handle_impl<result>;
    auto address = std::make_shared<const std::string>(std::move(_address));
    auto body = std::make_shared<const std::string>(std::move(_body));
    std::weak_ptr<const bool> lifetime = m_lifetime;
    auto started = handle_impl::create(
        m_main_events_loop, [this, lifetime, _method, address, body](
                                const handle_impl::ptr&, const std::weak_ptr<handle_impl>& _weak) {
            // Only the weak pointer travels: a dropped handle abandons the request.
            if (lifetime.expired()) {
                return;
            }
            m_worker_events_loop->post(
                [this, _weak, _method, address, body] {
                    if (_weak.expired()) {
                        return;
                    }
                    // Nothing may leave the job: the worker thread would end with it.
                    m_logger.execute([&] {
                        result answer = perform_on_worker(_method, *address, *body);
                        if (const auto alive = _weak.lock()) {
                            alive->return_result(std::move(answer));
                        }
                    });
                },
                TVK_SOURCE_LOCATION);
        });
    started->start();
    return started;
}

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
