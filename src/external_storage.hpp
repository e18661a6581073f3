#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "context/context.hpp"
#include "context/device.hpp"
#include "context/zone_event.hpp"
#include "context_utils/objects_repository.hpp"
#include "core/logger.hpp"
#include "core/timestamp.hpp"
#include "redis/redis_context.hpp"

namespace tvk {

// Mirrors the context's zone events and devices into Redis as they change, under the prefix
// "quillmere", and reads the devices back at start-up. Subscribed before any other observer,
// so a change is in Redis before anyone else hears of it.
class external_storage
    : public libs::context_utils::objects_repository<context::zone_event>::observer,
      public libs::context_utils::objects_repository<context::device>::observer {
public:
    typedef libs::core::timestamp timestamp;

    // Subscribes to the zone events, then to the devices; then clears the zone events kept in
    // Redis (every key of the prefix when no version is stored), writes the version and
    // writes the zone events already held. Raises what a Redis command raises.
    external_storage(context::context& _context, redis::context& _redis,
                     libs::core::logger& _logger);
    ~external_storage() override;
    external_storage(const external_storage&) = delete;
    external_storage& operator=(const external_storage&) = delete;

    // Each writes the change to Redis; raises when a command fails.
    void after_creating(const context::zone_event& _event, timestamp _ts) override;
    void after_updating(const context::zone_event& _event, timestamp _ts) override;
    void before_deleting(const context::zone_event& _event, timestamp _ts) override;
    void after_creating(const context::device& _device, timestamp _ts) override;
    void after_updating(const context::device& _device, timestamp _ts) override;
    void before_deleting(const context::device& _device, timestamp _ts) override;

    // The devices stored in Redis, not full, each with its latest stored time. What cannot
    // be read is logged and left out. Never raises.
    std::vector<context::device> get_devices() const;

private:
    enum action { CREATE = 0, UPDATE = 1, DELETE = 2 };

    // Field names and values of the stored hashes, each named as its text.
    struct tags {
        static const std::string fields;
        static const std::string uid;
        static const std::string create_time;
        static const std::string update_time;
        static const std::string set;
        static const std::string mac_address;
        static const std::string zone_events;
        static const std::string obj_uid;
        static const std::string zone_uid;
        static const std::string zone_type;
        static const std::string devices;
        static const std::string constants;
        static const std::string version;
        static const std::string is_full;
        static const std::string s_true;
        static const std::string s_false;
    };

    // Key names; the ones without a "fields" or "set" part are prefixes only.
    struct branches {
        static std::string zone_events();
        static std::string zone_events_set();
        static std::string zone_events_uid(const std::string& _uid);
        static std::string zone_events_uid_fields(const std::string& _uid);
        static std::string devices_set();
        static std::string devices_uid(const std::string& _uid);
        static std::string devices_uid_fields(const std::string& _uid);
    };

    typedef std::initializer_list<std::pair<const std::string&, const std::string>> field_values;

    void change(action _action, const context::zone_event& _event, const timestamp& _ts);
    void change(action _action, const context::device& _device, const timestamp& _ts);
    // Deletes the hash _key and the member _uid of _set, or writes both, in one round trip
    // and in this order. When the first command fails the second has been sent all the same.
    void store(action _action, const std::string& _key, const std::string& _set,
               const std::string& _uid, field_values _fields);
    // "create_time" for a creation, "update_time" otherwise.
    static const std::string& time_field(action _action);
    static const std::string& bool_to_string(bool _value);

    redis::context& m_redis_context;
    libs::context_utils::objects_repository<context::zone_event>::subscription_handle
        m_zone_events_subscription_handle;
    libs::context_utils::objects_repository<context::device>::subscription_handle
        m_devices_subscription_handle;
    libs::core::logger& m_logger;
};

}  // namespace tvk
