#include "external_storage.hpp"

#include "core/constants.hpp"
#include "core/exception.hpp"
#include "redis/reply.hpp"

namespace tvk {

namespace {

// The layout of the keys written under the prefix; stored with them so that a later start
// can tell its own keys from foreign ones.
const std::string storage_version = "1.3.0";

const std::string& prefix() {
    return libs::core::constants::project_name;
}

std::string time_text(const libs::core::timestamp& _ts) {
    return _ts.to_iso_8601(true, 'T', true);
}

}  // namespace

const std::string external_storage::tags::fields = "fields";
const std::string external_storage::tags::uid = "uid";
const std::string external_storage::tags::create_time = "create_time";
const std::string external_storage::tags::update_time = "update_time";
const std::string external_storage::tags::set = "set";
const std::string external_storage::tags::mac_address = "mac_address";
const std::string external_storage::tags::zone_events = "zone_events";
const std::string external_storage::tags::obj_uid = "obj_uid";
const std::string external_storage::tags::zone_uid = "zone_uid";
const std::string external_storage::tags::zone_type = "zone_type";
const std::string external_storage::tags::devices = "devices";
const std::string external_storage::tags::constants = "constants";
const std::string external_storage::tags::version = "version";
const std::string external_storage::tags::is_full = "is_full";
const std::string external_storage::tags::s_true = "true";
const std::string external_storage::tags::s_false = "false";

std::string external_storage::branches::zone_events() {
    return prefix() + ":" + tags::zone_events;
}

std::string external_storage::branches::zone_events_set() {
    return zone_events() + ":" + tags::set;
}

std::string external_storage::branches::zone_events_uid(const std::string& _uid) {
    return zone_events() + ":" + _uid;
}

std::string external_storage::branches::zone_events_uid_fields(const std::string& _uid) {
    return zone_events_uid(_uid) + ":" + tags::fields;
}

std::string external_storage::branches::devices_set() {
    return prefix() + ":" + tags::devices + ":" + tags::set;
}

std::string external_storage::branches::devices_uid(const std::string& _uid) {
    return prefix() + ":" + tags::devices + ":" + _uid;
}

std::string external_storage::branches::devices_uid_fields(const std::string& _uid) {
    return devices_uid(_uid) + ":" + tags::fields;
}

external_storage::external_storage(context::context& _context, redis::context& _redis,
                                   libs::core::logger& _logger)
    : m_redis_context(_redis)
    , m_zone_events_subscription_handle(_context.get_zone_events().subscribe(*this))
    , m_devices_subscription_handle(_context.get_devices().subscribe(*this))
    , m_logger(_logger) {
    const std::string constants = prefix() + ":" + tags::constants;
    if (m_redis_context.get_from_table(constants, tags::version).get_type() ==
        redis::reply_type::STRING) {
        // Zone events are rebuilt from the server at every start; devices are kept.
        m_redis_context.clear_branch(branches::zone_events().c_str());
    } else {
        // Keys of the prefix without a version are not ours to read.
        m_redis_context.clear_branch(prefix().c_str());
    }
    m_redis_context.set_to_table(constants, {{tags::version, storage_version}});

    const timestamp now = timestamp::current_time();
    _context.get_zone_events().for_each([this, now](const context::zone_event& _event) {
        m_logger.execute(TVK_SOURCE_LOCATION, [&] { after_creating(_event, now); });
        return true;
    });
}

external_storage::~external_storage() = default;

void external_storage::after_creating(const context::zone_event& _event, timestamp _ts) {
    change(CREATE, _event, _ts);
}

void external_storage::after_updating(const context::zone_event& _event, timestamp _ts) {
    change(UPDATE, _event, _ts);
}

void external_storage::before_deleting(const context::zone_event& _event, timestamp _ts) {
    change(DELETE, _event, _ts);
}

void external_storage::after_creating(const context::device& _device, timestamp _ts) {
    change(CREATE, _device, _ts);
}

void external_storage::after_updating(const context::device& _device, timestamp _ts) {
    change(UPDATE, _device, _ts);
}

void external_storage::before_deleting(const context::device& _device, timestamp _ts) {
    change(DELETE, _device, _ts);
}

void external_storage::change(action _action, const context::zone_event& _event,
                              const timestamp& _ts) {
    const std::string& uid = _event.get_uid();
    store(_action, branches::zone_events_uid_fields(uid), branches::zone_events_set(), uid,
          {{tags::uid, uid},
           {tags::obj_uid, _event.get_obj_uid()},
           {tags::zone_uid, _event.get_zone_uid()},
           {tags::zone_type, _event.get_zone_type()},
           {time_field(_action), time_text(_ts)}});
}

void external_storage::change(action _action, const context::device& _device,
                              const timestamp& _ts) {
    const std::string& uid = _device.get_uid();
    store(_action, branches::devices_uid_fields(uid), branches::devices_set(), uid,
          {{tags::uid, uid},
           {tags::mac_address, _device.get_mac()},
           {time_field(_action), time_text(_ts)},
           {tags::is_full, bool_to_string(_device.is_full())}});
}

void external_storage::store(action _action, const std::string& _key, const std::string& _set,
                             const std::string& _uid, field_values _fields) {
    // Both commands of a change go in one round trip.
    if (_action == DELETE) {
        m_redis_context.execute_commands_sv({{"DEL", _key}, {"SREM", _set, _uid}});
        return;
    }
    m_redis_context.execute_commands_sv(
        {redis::context::set_to_table_command(_key, _fields), {"SADD", _set, _uid}});
}

const std::string& external_storage::time_field(action _action) {
    return _action == CREATE ? tags::create_time : tags::update_time;
}

const std::string& external_storage::bool_to_string(bool _value) {
    return _value ? tags::s_true : tags::s_false;
}

std::vector<context::device> external_storage::get_devices() const {
    std::vector<context::device> devices;
    m_logger.execute([&] {
        const std::string set = branches::devices_set();
        const redis::reply members = m_redis_context.get_set_members(set);
        members.as_array().for_each_element([&](const redis::reply_element& _member) {
            m_logger.execute([&] {
                const std::string uid = _member.to_string();
                const std::string key = branches::devices_uid_fields(uid);
                const redis::reply values = m_redis_context.get_from_table(
                    key, {tags::mac_address, tags::create_time, tags::update_time});
                const redis::reply_array fields = values.as_array();
                if (fields.size() != 3) {
                    return;
                }
                if (fields[0].get_type() == redis::reply_type::NIL &&
                    fields[1].get_type() == redis::reply_type::NIL &&
                    fields[2].get_type() == redis::reply_type::NIL &&
                    m_redis_context.execute_command_sv({"EXISTS", key}).to_integer() == 0) {
                    // Left by a removal cut short between its two commands: the member
                    // names nothing, so it goes instead of failing every later start.
                    m_redis_context.execute_command_sv({"SREM", set, uid});
                }
                const std::string mac = fields[0].to_string();
                const redis::reply_element time =
                    fields[2].get_type() == redis::reply_type::STRING ? fields[2] : fields[1];
                devices.emplace_back(uid, timestamp(time.to_string()), mac);
            });
            return true;
        });
    });
    return devices;
}

}  // namespace tvk
