#include "redis/command_impl.hpp"

#include <utility>

#include "core/async_operation_handle_impl.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

command_impl::command_impl(events_loop& _events_loop, const component_logger& _logger,
                           sync_context& _sync, async_context& _async)
    : m_events_loop(_events_loop)
    , m_logger(_logger)
    , m_sync(_sync)
    , m_async(_async)
    , m_data(std::make_shared<data>()) {}

command& command_impl::add_argument(std::string _argument) {
    // Room first, so that a failure leaves the three lists in step.
    m_data->m_argv.reserve(m_data->m_argv.size() + 1);
    m_data->m_argv_len.reserve(m_data->m_argv_len.size() + 1);
    m_data->m_argv_keeper.push_back(std::move(_argument));
    const std::string& stored = m_data->m_argv_keeper.back();
    m_data->m_argv.push_back(stored.data());
    m_data->m_argv_len.push_back(stored.size());
    return *this;
}

reply command_impl::execute() {
    return m_sync.run_command(m_data->m_argv, m_data->m_argv_len);
}

async_operation_handle<reply>::ptr command_impl::execute_async() {
    using handle_impl = async_operation_handle_impl<reply>;
    // The connection rather than this command: a restart does not need the command object.
    auto handle = handle_impl::create(
        m_events_loop, [data = m_data, &async = m_async](const handle_impl::ptr&,
                                                         const std::weak_ptr<handle_impl>& _weak) {
            async.run_command(data->m_argv, data->m_argv_len, [_weak](reply _reply) {
                if (const auto handle = _weak.lock()) {
                    handle->return_result(std::move(_reply));
                }
            });
        });
    handle->start();
    return handle;
}

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
