#include "external_storage.hpp"

#include "core/constants.hpp"
#include "core/exception.hpp"
#include "redis/reply.hpp"
#include "redis/start_retry.hpp"

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

// The uids of the objects held, in uid order.
template <class T>
std::vector<std::string> held_uids(const libs::context_utils::objects_repository<T>& _repository) {
    std::vector<std::string> uids;
    _repository.for_each([&uids](const T& _object) {
        uids.push_back(_object.get_uid());
        return true;
    });
    return uids;
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
                                   libs::core::logger& _logger, libs::core::events_loop& _loop,
                                   catch_up _catch_up)
    : m_redis_context(_redis)
    , m_zone_events_subscription_handle(_context.get_zone_events().subscribe(*this))
    , m_devices_subscription_handle(_context.get_devices().subscribe(*this))
    , m_logger(_logger)
    , m_context(_context)
    , m_catch_up(_catch_up)
    , m_retry_delay(_catch_up.first_retry) {
    // Begun again whole after a failure: what the last attempt removed is gone, and a Redis
    // restarted meanwhile may hold another version, or none.
    redis::retry_at_start(
        _loop, m_logger, m_catch_up.start_retry, TVK_SOURCE_LOCATION, [this] { prepare(); },
        [this](const std::exception_ptr& _failure) {
            return m_redis_context.is_passing(_failure);
        });
    m_connection_number = m_redis_context.get_connection_number();

    const timestamp now = timestamp::current_time();
    _context.get_zone_events().for_each([this, now](const context::zone_event& _event) {
        m_logger.execute(TVK_SOURCE_LOCATION, [&] { after_creating(_event, now); });
        return true;
    });

    m_timer = _loop.create_timer(
        std::chrono::steady_clock::now() + m_catch_up.check_period, "redis catch-up",
        [this](libs::core::timer::time_point) { on_timer(); }, TVK_SOURCE_LOCATION);
}

external_storage::~external_storage() = default;

void external_storage::prepare() {
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
}

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
    note_times(m_zone_event_times, _action, uid, _ts);
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
    note_times(m_device_times, _action, uid, _ts);
    const stored_fields* stored = nullptr;
    if (_action != UPDATE) {
        const auto found = m_stored_devices.find(uid);
        if (found != m_stored_devices.end()) {
            if (_action == CREATE && restores(_device, _ts)) {
                stored = &found->second;
            } else {
                // Its hash goes, or a registration starts a new one, in this write and in any
                // catch-up after it.
                m_stored_devices.erase(found);
            }
        }
        m_read_devices.erase(uid);
    }
    store(_action, branches::devices_uid_fields(uid), branches::devices_set(), uid,
          {{tags::uid, uid},
           {tags::mac_address, _device.get_mac()},
           {time_field(_action), time_text(_ts)},
           {tags::is_full, bool_to_string(_device.is_full())}},
          stored, _action == CREATE);
}

bool external_storage::restores(const context::device& _device, const timestamp& _ts) const {
    // A registration at the very time and MAC address read leaves no stale field either: the
    // hash's "update_time", if any, is that time.
    const auto read = m_read_devices.find(_device.get_uid());
    return read != m_read_devices.end() && read->second.ts == _ts &&
           read->second.mac == _device.get_mac();
}

void external_storage::note_times(times_by_uid& _times, action _action, const std::string& _uid,
                                  const timestamp& _ts) {
    // As the hash keeps them: a creation holds its own time alone, an update changes only the
    // time it carries, a removal drops both.
    switch (_action) {
        case CREATE:
            _times[_uid] = change_times{_ts, boost::none};
            break;
        case UPDATE:
            _times[_uid].updated = _ts;
            break;
        case DELETE:
            _times.erase(_uid);
            break;
    }
}

void external_storage::store(action _action, const std::string& _key, const std::string& _set,
                             const std::string& _uid, field_values _fields,
                             const stored_fields* _stored, bool _anew) {
    if (m_step == step::behind) {
        // The catch-up writes it; meanwhile a change is not held up by a Redis that failed.
        return;
    }
    // One transaction, so that Redis never holds half of a change.
    const bool written = m_logger.execute([&] {
        if (_action == DELETE) {
            m_redis_context.execute_transaction_sv({{"DEL", _key}, {"SREM", _set, _uid}});
        } else {
            redis::context::sv_args hash{"HMSET", _key};
            if (_stored != nullptr) {
                // First: a field given twice takes its later value.
                append_stored(hash, *_stored);
            }
            for (const auto& field : _fields) {
                hash.insert(hash.end(), {field.first, field.second});
            }
            std::vector<redis::context::sv_args> commands;
            if (_anew) {
                // Deleted first: a hash left by an earlier object of the uid would keep the
                // fields not written, an older "update_time" among them.
                commands.push_back({"DEL", _key});
            }
            commands.push_back(std::move(hash));
            commands.push_back({"SADD", _set, _uid});
            m_redis_context.execute_transaction_sv(commands);
        }
    });
    if (!written) {
        fall_behind(m_catch_up.first_retry);
    } else if (m_redis_context.get_connection_number() != m_connection_number) {
        // Reopened on the way: the server may have restarted without what it held.
        fall_behind(std::chrono::milliseconds::zero());
    }
}

void external_storage::fall_behind(std::chrono::milliseconds _delay) {
    if (m_step != step::behind) {
        m_logger.warning("Redis is out of step; it is tried again, then written whole");
        m_step = step::behind;
        m_rewrite = rewrite();
    }
    if (m_timer) {
        m_timer->reset(std::chrono::steady_clock::now() + _delay);
    }
}

void external_storage::on_timer() {
    switch (m_step) {
        case step::in_step:
            if (m_redis_context.is_connection_lost() ||
                m_redis_context.get_connection_number() != m_connection_number) {
                // Closed by the server, which may come back without its data, or reopened by
                // a command that is not a change's (the start-up read, for one).
                fall_behind(std::chrono::milliseconds::zero());
            } else {
                m_timer->reset(std::chrono::steady_clock::now() + m_catch_up.check_period);
            }
            break;
        case step::behind:
            retry();
            break;
        case step::rewriting:
            rewrite_turn();
            break;
    }
}

void external_storage::retry() {
    if (!m_logger.execute([this] { m_redis_context.ping(m_catch_up.probe_timeout); })) {
        m_retry_delay = std::min(m_retry_delay * 2, m_catch_up.last_retry);
        m_timer->reset(std::chrono::steady_clock::now() + m_retry_delay);
        return;
    }
    m_step = step::rewriting;
    m_rewrite = rewrite();
    m_connection_number = m_redis_context.get_connection_number();
    rewrite_turn();
}

void external_storage::rewrite_turn() {
    const auto began = std::chrono::steady_clock::now();
    bool more = true;
    const bool written = m_logger.execute([&] {
        do {
            more = rewrite_step();
        } while (more && std::chrono::steady_clock::now() - began < m_catch_up.turn_budget);
    });
    if (!written) {
        m_retry_delay = std::min(m_retry_delay * 2, m_catch_up.last_retry);
        fall_behind(m_retry_delay);
        return;
    }
    if (m_redis_context.get_connection_number() != m_connection_number) {
        // Reopened meanwhile: what was rewritten may be gone again.
        fall_behind(std::chrono::milliseconds::zero());
        return;
    }
    if (more) {
        // The next turn comes after what else waits on the loop.
        m_timer->reset(std::chrono::steady_clock::now());
        return;
    }
    m_step = step::in_step;
    m_retry_delay = m_catch_up.first_retry;
    m_logger.info("Redis holds the zone events and devices again");
    m_timer->reset(std::chrono::steady_clock::now() + m_catch_up.check_period);
}

bool external_storage::rewrite_step() {
    const auto begin_phase = [this](rewrite::phase _phase, std::vector<std::string> _uids) {
        m_rewrite.at = _phase;
        m_rewrite.uids = std::move(_uids);
        m_rewrite.next = 0;
        m_rewrite.cursor = "0";
    };
    switch (m_rewrite.at) {
        case rewrite::version:
            m_redis_context.set_to_table(prefix() + ":" + tags::constants,
                                         {{tags::version, storage_version}});
            begin_phase(rewrite::zone_events, held_uids(m_context.get_zone_events()));
            return true;
        case rewrite::zone_events:
            if (m_rewrite.next < m_rewrite.uids.size()) {
                rewrite_objects(m_context.get_zone_events(), m_zone_event_times, nullptr,
                                branches::zone_events_set(), &branches::zone_events_uid_fields);
            } else {
                begin_phase(rewrite::devices, devices_to_rewrite());
            }
            return true;
        case rewrite::devices:
            if (m_rewrite.next < m_rewrite.uids.size()) {
                rewrite_objects(m_context.get_devices(), m_device_times, &m_stored_devices,
                                branches::devices_set(), &branches::devices_uid_fields);
            } else {
                begin_phase(rewrite::stale_zone_events, {});
            }
            return true;
        case rewrite::stale_zone_events:
            remove_stale(m_context.get_zone_events(), nullptr, branches::zone_events_set(),
                         &branches::zone_events_uid_fields);
            if (m_rewrite.cursor == "0") {
                begin_phase(rewrite::stale_devices, {});
            }
            return true;
        case rewrite::stale_devices:
            remove_stale(m_context.get_devices(), &m_stored_devices, branches::devices_set(),
                         &branches::devices_uid_fields);
            if (m_rewrite.cursor == "0") {
                m_rewrite.at = rewrite::done;
                return false;
            }
            return true;
        case rewrite::done:
            break;
    }
    return false;
}

std::vector<std::string> external_storage::devices_to_rewrite() const {
    std::vector<std::string> uids = held_uids(m_context.get_devices());
    for (const auto& stored : m_stored_devices) {
        if (!m_context.get_devices().is_exists(stored.first)) {
            uids.push_back(stored.first);
        }
    }
    return uids;
}

template <class T>
void external_storage::rewrite_objects(
    const libs::context_utils::objects_repository<T>& _repository, const times_by_uid& _times,
    const stored_by_uid* _stored, const std::string& _set, key_of _key) {
    std::deque<std::string> texts;
    std::vector<redis::context::sv_args> commands;
    const std::size_t end = std::min(m_rewrite.uids.size(), m_rewrite.next + m_catch_up.batch_size);
    for (; m_rewrite.next < end; ++m_rewrite.next) {
        const std::string& uid = m_rewrite.uids[m_rewrite.next];
        const auto object = _repository.try_get(uid);
        const stored_fields* stored = nullptr;
        if (_stored != nullptr) {
            const auto found = _stored->find(uid);
            stored = found == _stored->end() ? nullptr : &found->second;
        }
        if (!object) {
            if (stored != nullptr) {
                // Left in Redis on purpose: put back what was read, and nothing else touched.
                const std::string& key = texts.emplace_back(_key(uid));
                if (!stored->empty()) {
                    redis::context::sv_args hash{"HMSET", key};
                    append_stored(hash, *stored);
                    commands.push_back(std::move(hash));
                }
                commands.push_back({"SADD", _set, uid});
            }
            // Otherwise removed since the rewrite began, and from Redis with it.
            continue;
        }
        const T& held = *object;
        const std::string& key = texts.emplace_back(_key(held.get_uid()));
        // Deleted first, so that no field of an older hash stays but those that its writes
        // left in place on a Redis that did not fail.
        commands.push_back({"DEL", key});
        redis::context::sv_args hash{"HMSET", key};
        if (stored != nullptr) {
            // First: a field given twice takes its later value.
            append_stored(hash, *stored);
        }
        append_fields(hash, held, texts);
        const auto times = _times.find(held.get_uid());
        if (times != _times.end()) {
            append_times(hash, times->second, texts);
        }
        commands.push_back(std::move(hash));
        commands.push_back({"SADD", _set, held.get_uid()});
    }
    if (!commands.empty()) {
        m_redis_context.execute_transaction_sv(commands);
    }
}

template <class T>
void external_storage::remove_stale(const libs::context_utils::objects_repository<T>& _repository,
                                    const stored_by_uid* _stored, const std::string& _set,
                                    key_of _key) {
    const redis::reply step =
        m_redis_context.execute_command_sv({"SSCAN", _set, m_rewrite.cursor, "COUNT", "1000"});
    const redis::reply_array parts = step.as_array();
    const std::string cursor = parts[0].to_string();
    std::deque<std::string> texts;
    std::vector<redis::context::sv_args> commands;
    parts[1].as_array().for_each_element([&](const redis::reply_element& _member) {
        const std::string& uid = texts.emplace_back(_member.to_string());
        if (!_repository.is_exists(uid) && (_stored == nullptr || _stored->count(uid) == 0)) {
            const std::string& key = texts.emplace_back(_key(uid));
            commands.push_back({"DEL", key});
            commands.push_back({"SREM", _set, uid});
        }
        return true;
    });
    if (!commands.empty()) {
        m_redis_context.execute_transaction_sv(commands);
    }
    m_rewrite.cursor = cursor;
}

void external_storage::append_fields(redis::context::sv_args& _command,
                                     const context::zone_event& _event, std::deque<std::string>&) {
    _command.insert(_command.end(), {tags::uid, _event.get_uid(), tags::obj_uid,
                                     _event.get_obj_uid(), tags::zone_uid, _event.get_zone_uid(),
                                     tags::zone_type, _event.get_zone_type()});
}

void external_storage::append_fields(redis::context::sv_args& _command,
                                     const context::device& _device, std::deque<std::string>&) {
    _command.insert(_command.end(),
                    {tags::uid, _device.get_uid(), tags::mac_address, _device.get_mac(),
                     tags::is_full, bool_to_string(_device.is_full())});
}

void external_storage::append_times(redis::context::sv_args& _command, const change_times& _times,
                                    std::deque<std::string>& _texts) {
    if (_times.created) {
        _command.insert(_command.end(),
                        {tags::create_time, _texts.emplace_back(time_text(*_times.created))});
    }
    if (_times.updated) {
        _command.insert(_command.end(),
                        {tags::update_time, _texts.emplace_back(time_text(*_times.updated))});
    }
}

void external_storage::append_stored(redis::context::sv_args& _command,
                                     const stored_fields& _fields) {
    for (const auto& field : _fields) {
        _command.insert(_command.end(), {field.first, field.second});
    }
}

const std::string& external_storage::time_field(action _action) {
    return _action == CREATE ? tags::create_time : tags::update_time;
}

const std::string& external_storage::bool_to_string(bool _value) {
    return _value ? tags::s_true : tags::s_false;
}

template <class F>
bool external_storage::read_or_log(F&& _read) const {
    std::exception_ptr passing;
    const bool read = m_logger.execute([&] {
        try {
            _read();
        } catch (...) {
            if (!m_redis_context.is_passing(std::current_exception())) {
                throw;
            }
            passing = std::current_exception();
        }
    });
    if (passing) {
        std::rethrow_exception(passing);
    }
    return read;
}

std::vector<context::device> external_storage::get_devices() {
    std::vector<context::device> devices;
    stored_by_uid stored;
    read_by_uid read_devices;
    const std::string set = branches::devices_set();
    boost::optional<redis::reply> members;
    if (!read_or_log([&] { members.emplace(m_redis_context.get_set_members(set)); })) {
        return devices;
    }
    read_or_log([&] {
        members->as_array().for_each_element([&](const redis::reply_element& _member) {
            read_or_log([&] {
                const std::string uid = _member.to_string();
                const std::string key = branches::devices_uid_fields(uid);
                // Noted before anything can fail: what cannot be read is left in Redis.
                stored_fields& found = stored[uid];
                const redis::reply values = m_redis_context.get_from_table(
                    key, {tags::uid, tags::mac_address, tags::create_time, tags::update_time,
                          tags::is_full});
                const redis::reply_array fields = values.as_array();
                if (fields.size() != 5) {
                    return;
                }
                const std::string* names[] = {&tags::uid, &tags::mac_address, &tags::create_time,
                                              &tags::update_time, &tags::is_full};
                for (std::size_t i = 0; i < fields.size(); ++i) {
                    if (fields[i].get_type() == redis::reply_type::STRING) {
                        found.emplace_back(*names[i], fields[i].to_string());
                    }
                }
                if (found.empty() &&
                    m_redis_context.execute_command_sv({"EXISTS", key}).to_integer() == 0) {
                    // Left by a removal cut short between its two commands: the member
                    // names nothing, so it goes instead of failing every later start.
                    stored.erase(uid);
                    m_redis_context.execute_command_sv({"SREM", set, uid});
                }
                const std::string mac = fields[1].to_string();
                const redis::reply_element time =
                    fields[3].get_type() == redis::reply_type::STRING ? fields[3] : fields[2];
                devices.emplace_back(uid, timestamp(time.to_string()), mac);
                read_devices.insert_or_assign(uid, read_device{devices.back().get_ts(), mac});
            });
            return true;
        });
    });
    m_stored_devices = std::move(stored);
    m_read_devices = std::move(read_devices);
    return devices;
}

}  // namespace tvk
