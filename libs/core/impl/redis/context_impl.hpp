#pragma once

#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "core/async_operation_handle.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/redis/context.hpp"
#include "redis/async_context.hpp"
#include "redis/sync_context.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

// One step of SCAN: the next cursor and this step's keys, a view into the reply.
struct scan_step {
    std::uint64_t cursor;
    reply_array keys;
};

// Reads a SCAN reply: an array of the cursor (unsigned 64-bit decimal text) and the keys.
scan_step read_scan_step(const reply_element& _reply);

class context_impl : public context {
public:
    // Connects asynchronously, then blocking, and delivers the context on the loop; an empty
    // result, when either connection cannot be made (the blocking one's error is logged).
    // Raises when hiredis refuses the address at once. Restarting the handle connects anew.
    static async_operation_handle<boost::optional<std::unique_ptr<context>>>::ptr create(
        events_loop& _events_loop, const component_logger& _logger, boost::string_view _ip,
        int _port, int _db);

    context_impl(events_loop& _events_loop, const component_logger& _logger,
                 async_context::ptr _async, std::unique_ptr<sync_context> _sync);
    ~context_impl() override;

    command::ptr get(std::string _key) override;
    command::ptr set(std::string _key, std::string _value) override;
    command::ptr del(std::string _key) override;
    command::ptr add_to_set(std::string _key) override;
    command::ptr add_to_set(std::string _key, std::string _member) override;
    command::ptr remove_from_set(std::string _key, std::string _member) override;
    command::ptr get_set_members(std::string _key) override;
    command::ptr get_table(std::string _key) override;
    command::ptr get_from_table(std::string _key, std::string _field) override;
    command::ptr get_from_table_multi(std::string _key) override;
    command::ptr set_to_table(std::string _key, std::string _field, std::string _value) override;
    command::ptr set_to_table_multi(std::string _key) override;
    command::ptr increment_in_table(std::string _key, std::string _field,
                                    std::string _value) override;
    command::ptr delete_from_table(std::string _key, std::string _field) override;
    iteration_result scan(boost::string_view _pattern, callback _callback) override;
    command::ptr create_command(args _args) override;

private:
    events_loop& m_events_loop;
    const component_logger& m_logger;
    async_context::ptr m_async;
    // Shared with the commands, which hold it weakly and so may outlive the context.
    std::shared_ptr<sync_context> m_sync;
};

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
