#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "context/context.hpp"
#include "context/device.hpp"
#include "context/zone_event.hpp"
#include "context_utils/objects_repository.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/timer.hpp"
#include "core/timestamp.hpp"
#include "redis/redis_context.hpp"

namespace tvk {

// How the Redis mirror catches up after Redis failed.
struct storage_catch_up {
    // The first retry after a failure; each failed one doubles the wait up to the last.
    std::chrono::milliseconds first_retry{std::chrono::seconds(1)};
    std::chrono::milliseconds last_retry{std::chrono::seconds(30)};
    // How often a connection in step is looked at for a close by the server.
    std::chrono::milliseconds check_period{std::chrono::seconds(1)};
    // How long a retry waits for Redis to take the connection and answer PING.
    std::chrono::milliseconds probe_timeout{std::chrono::milliseconds(200)};
    // How long one turn of the rewrite may hold the loop before it lets others run.
    std::chrono::milliseconds turn_budget{std::chrono::milliseconds(50)};
    // Objects written per transaction of the rewrite.
    std::size_t batch_size = 256;
    // How long start-up waits before it prepares Redis again after Redis could not answer.
    std::chrono::milliseconds start_retry{std::chrono::seconds(1)};
};

// Mirrors the context's zone events and devices into Redis as they change, under the prefix
// "quillmere", and reads the devices back at start-up. Subscribed before any other observer,
// so a change is in Redis before anyone else hears of it.
//
// A failed write never reaches the repositories: it is logged, and the mirror is out of step.
// Changes are then not written one by one; the mirror tries Redis again on the loop at growing
// intervals, each time with a short probe, and once it answers writes its whole state again
// (every zone event and device, and the removal of what the service no longer holds), in
// batches that hold the loop only briefly. A reopened connection (a restarted server may have
// lost its data or gone back to older data) is caught up the same way.
class external_storage
    : public libs::context_utils::objects_repository<context::zone_event>::observer,
      public libs::context_utils::objects_repository<context::device>::observer {
public:
    typedef libs::core::timestamp timestamp;

    typedef storage_catch_up catch_up;

    // Subscribes to the zone events, then to the devices; then clears the zone events kept in
    // Redis (every key of the prefix when no version is stored), writes the version and
    // writes the zone events already held. While Redis cannot answer (stopped, frozen,
    // loading, the connection closed), the clearing is logged and begun again every
    // _catch_up.start_retry; raises "Interrupted" once _loop has been stopped meanwhile, and
    // what a command raises otherwise (a key of another type). Catches up on _loop's timers.
    external_storage(context::context& _context, redis::context& _redis,
                     libs::core::logger& _logger, libs::core::events_loop& _loop,
                     catch_up _catch_up = catch_up());
    ~external_storage() override;
    external_storage(const external_storage&) = delete;
    external_storage& operator=(const external_storage&) = delete;

    // Each writes the change to Redis, or notes it for the catch-up while Redis is out of
    // step; never raises.
    void after_creating(const context::zone_event& _event, timestamp _ts) override;
    void after_updating(const context::zone_event& _event, timestamp _ts) override;
    void before_deleting(const context::zone_event& _event, timestamp _ts) override;
    void after_creating(const context::device& _device, timestamp _ts) override;
    void after_updating(const context::device& _device, timestamp _ts) override;
    void before_deleting(const context::device& _device, timestamp _ts) override;

    // The devices stored in Redis, not full, each with its latest stored time. A device whose
    // own entries cannot be read is logged and left out; a set of another type is logged and
    // gives none. Raises, logging nothing, when the connection fails or does not answer
    // meanwhile, or Redis cannot answer now (LOADING while it reloads, say): the read is then
    // to be tried again. The devices read, and those left out, stay in Redis as they are
    // through every catch-up until a device of their uid is registered or deleted; one restored
    // as read keeps the stored fields that its writes do not replace.
    std::vector<context::device> get_devices();

    // True while Redis is known to hold what the service holds: no write failed since the
    // last catch-up ended, and the connection was not reopened.
    bool is_in_step() const { return m_step == step::in_step; }

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

    enum class step { in_step, behind, rewriting };
    // The times that the hash of an object holds, as its changes wrote them.
    struct change_times {
        boost::optional<timestamp> created;
        boost::optional<timestamp> updated;
    };
    typedef std::unordered_map<std::string, change_times> times_by_uid;
    // The fields of a device's hash as the start-up read found them.
    typedef std::vector<std::pair<std::string, std::string>> stored_fields;
    typedef std::unordered_map<std::string, stored_fields> stored_by_uid;
    // The time and MAC address of a device as the start-up read gave it.
    struct read_device {
        timestamp ts;
        std::string mac;
    };
    typedef std::unordered_map<std::string, read_device> read_by_uid;
    // Where a rewrite stands: the objects held when it began, then the walks over the sets.
    struct rewrite {
        enum phase { version, zone_events, devices, stale_zone_events, stale_devices, done };
        phase at = version;
        std::vector<std::string> uids;  // of the phase's kind, held when the phase began
        std::size_t next = 0;
        std::string cursor = "0";  // SSCAN's, in the stale phases
    };

    // Clears what an earlier run left and writes the version.
    void prepare();
    void change(action _action, const context::zone_event& _event, const timestamp& _ts);
    void change(action _action, const context::device& _device, const timestamp& _ts);
    // Deletes the hash _key and the member _uid of _set, or writes both (_fields over _stored,
    // when given), in one transaction; _anew, the hash is deleted before it is written (a
    // device hash may be left from an earlier run; a zone event's are cleared at start and
    // deleted with their event). While Redis is out of step, writes nothing. A failure puts
    // Redis out of step.
    void store(action _action, const std::string& _key, const std::string& _set,
               const std::string& _uid, field_values _fields,
               const stored_fields* _stored = nullptr, bool _anew = false);
    // Whether the creation of _device at _ts restores it as the start-up read gave it.
    bool restores(const context::device& _device, const timestamp& _ts) const;
    static void note_times(times_by_uid& _times, action _action, const std::string& _uid,
                           const timestamp& _ts);

    // Redis is out of step: a retry is due after _delay.
    void fall_behind(std::chrono::milliseconds _delay);
    void on_timer();
    // Probes Redis and, when it answers, begins the rewrite.
    void retry();
    // Runs rewrite steps until the turn's budget is spent or the rewrite is done.
    void rewrite_turn();
    // One transaction or one SSCAN step of the rewrite; false once it is done.
    bool rewrite_step();
    // The key of the hash of the object with a uid.
    typedef std::string (*key_of)(const std::string& _uid);
    // The next batch of the phase's objects that are still held, written anew with their
    // set members, in one transaction; over the fields in _stored, when given, as a write
    // leaves them. A uid in _stored that is not held is put back as it was read.
    template <class T>
    void rewrite_objects(const libs::context_utils::objects_repository<T>& _repository,
                         const times_by_uid& _times, const stored_by_uid* _stored,
                         const std::string& _set, key_of _key);
    // Removes, from one SSCAN step of _set, the members whose objects are neither held nor in
    // _stored, with their hashes.
    template <class T>
    void remove_stale(const libs::context_utils::objects_repository<T>& _repository,
                      const stored_by_uid* _stored, const std::string& _set, key_of _key);
    // The devices' uids for the rewrite: those held, then those left in Redis at start-up.
    std::vector<std::string> devices_to_rewrite() const;
    // Runs _read through the logger's execute, but lets a failure that may pass (the
    // connection, or Redis unable to answer now) through, unlogged, for the caller to try the
    // whole read again. False when _read failed otherwise.
    template <class F>
    bool read_or_log(F&& _read) const;
    // The object's fields but the times, after "HMSET" and the key; the texts that the
    // command refers to are kept in _texts.
    static void append_fields(redis::context::sv_args& _command, const context::zone_event& _event,
                              std::deque<std::string>& _texts);
    static void append_fields(redis::context::sv_args& _command, const context::device& _device,
                              std::deque<std::string>& _texts);
    static void append_times(redis::context::sv_args& _command, const change_times& _times,
                             std::deque<std::string>& _texts);
    static void append_stored(redis::context::sv_args& _command, const stored_fields& _fields);
    // "create_time" for a creation, "update_time" otherwise.
    static const std::string& time_field(action _action);
    static const std::string& bool_to_string(bool _value);

    redis::context& m_redis_context;
    libs::context_utils::objects_repository<context::zone_event>::subscription_handle
        m_zone_events_subscription_handle;
    libs::context_utils::objects_repository<context::device>::subscription_handle
        m_devices_subscription_handle;
    libs::core::logger& m_logger;

    const context::context& m_context;
    const catch_up m_catch_up;
    step m_step = step::in_step;
    std::chrono::milliseconds m_retry_delay;
    // The connection that Redis is known to be in step on.
    std::uint64_t m_connection_number = 0;
    times_by_uid m_zone_event_times;
    times_by_uid m_device_times;
    // Every device hash read at start-up, until its device is deleted or registered again: a
    // device restored keeps in Redis the stored fields that its writes do not replace, and one
    // left out stays as it was. A registration writes the hash anew: an older "update_time"
    // kept beside its "create_time" would be read back at the next start as its time.
    stored_by_uid m_stored_devices;
    // The devices that the start-up read gave, until their uid is created or deleted.
    read_by_uid m_read_devices;
    rewrite m_rewrite;
    // Last: no tick comes once the rest is gone.
    libs::core::timer::ptr m_timer;
};

}  // namespace tvk
