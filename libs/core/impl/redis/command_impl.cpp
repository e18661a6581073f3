#include "redis/command_impl.hpp"

#include <algorithm>
#include <utility>

#include "core/async_operation_handle_impl.hpp"
#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

namespace {

// Makes room for one more element, growing geometrically so that appending stays amortised
// constant.
template <class T>
void make_room_for_one(std::vector<T>& _vector) {
    if (_vector.size() == _vector.capacity()) {
        _vector.reserve(std::max<std::size_t>(8, 2 * _vector.size()));
    }
}

}  // namespace

command_impl::command_impl(events_loop& _events_loop, const component_logger& _logger,
                           const std::shared_ptr<sync_context>& _sync,
                           const async_context::ptr& _async)
    : m_events_loop(_events_loop)
    , m_logger(_logger)
    , m_sync(_sync)
    , m_async(_async)
    , m_data(std::make_shared<data>()) {}

command& command_impl::add_argument(std::string _argument) {
    // Room first, so that a failure leaves the three lists in step.
    make_room_for_one(m_data->m_argv);
    make_room_for_one(m_data->m_argv_len);
    m_data->m_argv_keeper.push_back(std::move(_argument));
    const std::string& stored = m_data->m_argv_keeper.back();
    m_data->m_argv.push_back(stored.data());
    m_data->m_argv_len.push_back(stored.size());
    return *this;
}

reply command_impl::execute() {
    const std::shared_ptr<sync_context> sync = m_sync.lock();
    if (!sync) {
        TVK_THROW(refused_command_text(m_data->name()));
    }
    return sync->run_command(m_data->m_argv, m_data->m_argv_len);
}

async_operation_handle<reply>::ptr command_impl::execute_async() {
    using handle_impl = async_operation_handle_impl<reply>;
    // The connection rather than this command: a restart does not need the command object.
    // Held weakly: a restart may come after the context, and its connection, are gone.
    auto handle = handle_impl::create(
        m_events_loop, [data = m_data, weak_async = m_async](
                           const handle_impl::ptr&, const std::weak_ptr<handle_impl>& _weak) {
            const async_context::ptr async = weak_async.lock();
            if (!async) {
                TVK_THROW(refused_command_text(data->name()));
            }
            async->run_command(data->m_argv, data->m_argv_len, [_weak](reply _reply) {
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
