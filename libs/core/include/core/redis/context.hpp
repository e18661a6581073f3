#pragma once

#include <boost/utility/string_view.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/redis/command.hpp"
#include "core/stl.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

// One logical connection to a Redis database: a blocking and an asynchronous connection to the
// same server and database. Made by events_loop::create_redis_context; destroy it before its
// loop. The builders send nothing: complete the command with add_argument, then execute it.
class context {
public:
    using ptr = std::unique_ptr<context>;
    using callback = std::function<bool(boost::string_view)>;
    using args = std::vector<std::string>;

    virtual ~context() = default;

    virtual command::ptr get(std::string _key) = 0;
    virtual command::ptr set(std::string _key, std::string _value) = 0;
    virtual command::ptr del(std::string _key) = 0;
    // SADD without members: append them with add_argument.
    virtual command::ptr add_to_set(std::string _key) = 0;
    virtual command::ptr add_to_set(std::string _key, std::string _member) = 0;
    virtual command::ptr remove_from_set(std::string _key, std::string _member) = 0;
    virtual command::ptr get_set_members(std::string _key) = 0;
    // HGETALL.
    virtual command::ptr get_table(std::string _key) = 0;
    virtual command::ptr get_from_table(std::string _key, std::string _field) = 0;
    // HMGET without fields: append them with add_argument.
    virtual command::ptr get_from_table_multi(std::string _key) = 0;
    virtual command::ptr set_to_table(std::string _key, std::string _field, std::string _value) = 0;
    // HMSET without fields: append field and value pairs with add_argument.
    virtual command::ptr set_to_table_multi(std::string _key) = 0;
    // HINCRBY; _value is the increment as decimal text.
    virtual command::ptr increment_in_table(std::string _key, std::string _field,
                                            std::string _value) = 0;
    virtual command::ptr delete_from_table(std::string _key, std::string _field) = 0;

    // Walks the keys that match _pattern with SCAN on the blocking connection; _callback gets
    // each key (a view valid during the call only; a key may come more than once) and returns
    // false to stop the walk.
    virtual iteration_result scan(boost::string_view _pattern, callback _callback) = 0;

    // The command _args, name first.
    virtual command::ptr create_command(args _args) = 0;
};

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
