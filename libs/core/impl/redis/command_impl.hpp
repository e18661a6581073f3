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
    command_impl(events_loop& _events_loop, const component_logger& _logger, sync_context& _sync,
                 async_context& _async);

    command& add_argument(std::string _argument) override;
    reply execute() override;
    async_operation_handle<reply>::ptr execute_async() override;

private:
    // Shared with the asynchronous sends, so that a restart finds the texts.
    struct data {
        std::list<std::string> m_argv_keeper;  // a list: a text never moves once appended
        std::vector<const char*> m_argv;
        std::vector<std::size_t> m_argv_len;
    };

    events_loop& m_events_loop;
    // Kept with the command; unused so far.
    [[maybe_unused]] const component_logger& m_logger;
    sync_context& m_sync;
    async_context& m_async;
    std::shared_ptr<data> m_data;
};

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
