#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/redis/command.hpp"
#include "redis/async_context.hpp"
#include "redis/sync_context.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

class command_impl : public command {
public:
    // A command on the context's two connections, both held weakly: the command, and a handle
    // made by execute_async, may be used after the context is gone.
    command_impl(events_loop& _events_loop, const component_logger& _logger,
                 const std::shared_ptr<sync_context>& _sync, const async_context::ptr& _async);

    command& add_argument(std::string _argument) override;
    reply execute() override;
    async_operation_handle<reply>::ptr execute_async() override;

private:
    // Shared with the asynchronous sends, so that a restart finds the texts.
    struct data {
        std::list<std::string> m_argv_keeper;  // a list: a text never moves once appended
        std::vector<const char*> m_argv;
        std::vector<std::size_t> m_argv_len;

        // The command's name, its first argument.
        std::string name() const {
            return m_argv_keeper.empty() ? std::string() : m_argv_keeper.front();
        }
    };

    events_loop& m_events_loop;
    // Kept with the command; unused so far.
    [[maybe_unused]] const component_logger& m_logger;
    std::weak_ptr<sync_context> m_sync;
    std::weak_ptr<async_context> m_async;
    std::shared_ptr<data> m_data;
};

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
