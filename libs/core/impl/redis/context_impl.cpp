#include "redis/context_impl.hpp"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

#include "core/async_operation_handle_impl.hpp"
#include "core/exception.hpp"
#include "redis/command_impl.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

namespace {

std::uint64_t read_cursor(const std::string& _text) {
    // std::stoull alone would take a sign or leading blanks.
    const bool digits_only =
        !_text.empty() && std::all_of(_text.begin(), _text.end(),
                                      [](unsigned char _c) { return std::isdigit(_c) != 0; });
    try {
        if (digits_only) {
            return std::stoull(_text);
        }
    } catch (const std::out_of_range&) {
    }
    TVK_THROW("Wrong scan cursor: " + _text);
}

}  // namespace

scan_step read_scan_step(const reply_element& _reply) {
    const reply_array parts = _reply.as_array();
    return scan_step{read_cursor(parts[0].to_string()), parts[1].as_array()};
}

async_operation_handle<boost::optional<std::unique_ptr<context>>>::ptr context_impl::create(
    events_loop& _events_loop, const component_logger& _logger, boost::string_view _ip, int _port,
    int _db) {
    using result = boost::optional<std::unique_ptr<context>>;
    using handle_impl = async_operation_handle_impl<result>;
    auto connecting = async_context::create(_events_loop, _logger, _ip.to_string(), _port, _db);
    auto handle = handle_impl::create(
        _events_loop, [&_events_loop, &_logger, ip = _ip.to_string(), _port, _db, connecting](
                          const handle_impl::ptr&, const std::weak_ptr<handle_impl>& _weak) {
            if (connecting->is_complete()) {
                connecting->restart();
            }
            connecting->set_callback([&_events_loop, &_logger, ip, _port, _db,
                                      _weak](async_context::ptr _async) {
                const auto handle = _weak.lock();
                if (!handle) {
                    return;
                }
                if (!_async) {
                    handle->return_result(boost::none);
                    return;
                }
                std::unique_ptr<sync_context> sync;
                if (!_logger.execute([&] {
                        sync =
                            std::make_unique<sync_context>(_events_loop, _logger, ip, _port, _db);
                    })) {
                    handle->return_result(boost::none);
                    return;
                }
                handle->return_result(result(std::make_unique<context_impl>(
                    _events_loop, _logger, std::move(_async), std::move(sync))));
            });
        });
    handle->start();
    return handle;
}

context_impl::context_impl(events_loop& _events_loop, const component_logger& _logger,
                           async_context::ptr _async, std::unique_ptr<sync_context> _sync)
    : m_events_loop(_events_loop)
    , m_logger(_logger)
    , m_async(std::move(_async))
    , m_sync(std::move(_sync)) {}

context_impl::~context_impl() {
    m_sync.reset();
    m_async.reset();
}

command::ptr context_impl::get(std::string _key) {
    return create_command({"GET", std::move(_key)});
}

command::ptr context_impl::set(std::string _key, std::string _value) {
    return create_command({"SET", std::move(_key), std::move(_value)});
}

command::ptr context_impl::del(std::string _key) {
    return create_command({"DEL", std::move(_key)});
}

command::ptr context_impl::add_to_set(std::string _key) {
    return create_command({"SADD", std::move(_key)});
}

command::ptr context_impl::add_to_set(std::string _key, std::string _member) {
    return create_command({"SADD", std::move(_key), std::move(_member)});
}

command::ptr context_impl::remove_from_set(std::string _key, std::string _member) {
    return create_command({"SREM", std::move(_key), std::move(_member)});
}

command::ptr context_impl::get_set_members(std::string _key) {
    return create_command({"SMEMBERS", std::move(_key)});
}

command::ptr context_impl::get_table(std::string _key) {
    return create_command({"HGETALL", std::move(_key)});
}

command::ptr context_impl::get_from_table(std::string _key, std::string _field) {
    return create_command({"HGET", std::move(_key), std::move(_field)});
}

command::ptr context_impl::get_from_table_multi(std::string _key) {
    return create_command({"HMGET", std::move(_key)});
}

command::ptr context_impl::set_to_table(std::string _key, std::string _field, std::string _value) {
    return create_command({"HSET", std::move(_key), std::move(_field), std::move(_value)});
}

command::ptr context_impl::set_to_table_multi(std::string _key) {
    return create_command({"HMSET", std::move(_key)});
}

command::ptr context_impl::increment_in_table(std::string _key, std::string _field,
                                              std::string _value) {
    return create_command({"HINCRBY", std::move(_key), std::move(_field), std::move(_value)});
}

command::ptr context_impl::delete_from_table(std::string _key, std::string _field) {
    return create_command({"HDEL", std::move(_key), std::move(_field)});
}

iteration_result context_impl::scan(boost::string_view _pattern, callback _callback) {
    std::uint64_t cursor = 0;
    do {
        const reply answer =
            create_command({"SCAN", std::to_string(cursor), "MATCH", _pattern.to_string()})
                ->execute();
        const scan_step step = read_scan_step(answer);
        cursor = step.cursor;
        const auto walked = step.keys.for_each_element(
            [&](const reply_element& _key) { return _callback(_key.as_string_view()); });
        if (walked == iteration_result::interrupted) {
            return iteration_result::interrupted;
        }
    } while (cursor != 0);
    return iteration_result::finished;
}

command::ptr context_impl::create_command(args _args) {
    auto made = std::make_unique<command_impl>(m_events_loop, m_logger, m_sync, m_async);
    for (auto& argument : _args) {
        made->add_argument(std::move(argument));
    }
    return made;
}

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
