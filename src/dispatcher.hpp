#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

#include "context/context.hpp"
#include "context/device.hpp"
#include "context/zone_event.hpp"
#include "context_utils/objects/trackable_object.hpp"
#include "context_utils/objects/zone.hpp"
#include "context_utils/objects_repository.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/timestamp.hpp"
#include "device_numbers.hpp"
#include "messenger.hpp"
#include "writable_zone_event.hpp"

namespace tvk {

// The period of every delivery timer, in milliseconds.
constexpr unsigned int DELIVERY_TIMEOUT_MS = 2500;

// Turns changes of the service context into enter and leave notices to the tags' devices, and
// the devices' answers back into changes of the context. Each zone event has a delivery record
// whose timer resends its due notice until the device acknowledges it, at most four times after
// the first send. Everything runs on the events-loop thread.
class dispatcher
    : public libs::context_utils::objects_repository<
          libs::context_utils::objects::trackable_object>::observer,
      public libs::context_utils::objects_repository<libs::context_utils::objects::zone>::observer,
      public libs::context_utils::objects_repository<context::zone_event>::observer,
      public libs::context_utils::objects_repository<context::device>::observer {
public:
    using timestamp = libs::core::timestamp;
    using records = std::map<std::string, writable_zone_event>;

    // Subscribes to the trackable-object, zone, zone-event and device repositories of _context,
    // in this order, and sets the messenger's five callbacks. The service uses the default
    // delivery period.
    dispatcher(libs::core::events_loop& _loop, context::writable_context& _context,
               libs::core::logger& _logger, messenger& _messenger,
               std::chrono::milliseconds _delivery_period =
                   std::chrono::milliseconds(DELIVERY_TIMEOUT_MS));
    // Stops every delivery, unsubscribes and clears the messenger's callbacks.
    ~dispatcher() override;

    dispatcher(const dispatcher&) = delete;
    dispatcher& operator=(const dispatcher&) = delete;

    // Handles every zone event held now as if it had just been created; a failing event is
    // logged and the walk goes on.
    void initialize();

    // The delivery records by zone-event uid.
    const records& get_records() const { return m_w_events; }
    // The sequence numbers of _tag's device; null when its frames hold none and none waits.
    const device_numbers* get_numbers(const std::string& _tag) const;

    // A tag whose "node" is missing or null, or that goes, loses its device; one whose "node"
    // is anything else but an object is logged as malformed and keeps it.
    void after_creating(const libs::context_utils::objects::trackable_object& _object,
                        timestamp _ts) override;
    void after_updating(const libs::context_utils::objects::trackable_object& _object,
                        timestamp _ts) override;
    void before_deleting(const libs::context_utils::objects::trackable_object& _object,
                         timestamp _ts) override;

    void after_creating(const libs::context_utils::objects::zone& _zone, timestamp _ts) override;
    void after_updating(const libs::context_utils::objects::zone& _zone, timestamp _ts) override;
    void before_deleting(const libs::context_utils::objects::zone& _zone, timestamp _ts) override;

    void after_creating(const context::zone_event& _event, timestamp _ts) override;
    void after_updating(const context::zone_event& _event, timestamp _ts) override;
    void before_deleting(const context::zone_event& _event, timestamp _ts) override;

    void after_creating(const context::device& _device, timestamp _ts) override;
    void after_updating(const context::device& _device, timestamp _ts) override;
    void before_deleting(const context::device& _device, timestamp _ts) override;

private:
    void on_reboot(const std::string& _tag);
    void on_heartbeat(const std::string& _tag);
    void on_ack(const std::string& _tag, unsigned int _seq_no, timestamp _ts);
    void on_nack(const std::string& _tag, unsigned int _seq_no, unsigned int _error_code,
                 timestamp _ts);
    void on_register_tag(const std::string& _tag, const std::string& _mac, timestamp _ts);

    // A new timer for _record, replacing its old one; stopped at once unless _start.
    void create_timer(writable_zone_event& _record, bool _start);
    void on_delivery_tick(const std::string& _uid);
    messenger::zone_enter_event_t form_zone_enter_event(const context::zone_event& _event) const;
    bool mark_device_as_full(const std::string& _tag, bool _full, const timestamp& _ts);
    bool is_device_full(const std::string& _tag) const;
    bool is_device_registered(const std::string& _tag) const;
    void stop_sending_enter_zone_events(const std::string& _tag);
    void resume_sending_enter_zone_events(const std::string& _tag, timestamp _ts);
    // Sends the enter of every zone event of _tag (only those whose record is due, when
    // _only_due); each record turns due, is stamped with _ts when its enter went out, and its
    // timer runs.
    void send_enters_of_tag(const std::string& _tag, timestamp _ts, bool _only_due);
    // Each sends _record's due notice under a sequence number that no other frame of its
    // device holds, once the notices of the device that wait before it have theirs, and keeps
    // the number; false, nothing sent, while it has to wait. A new frame supersedes the
    // record's latest one, and a leave its latest leave.
    bool send_enter(writable_zone_event& _record, const context::zone_event& _event);
    bool send_leave(writable_zone_event& _record);
    // Sends the enter of _event, which no record tracks, when a number is free for it.
    void send_untracked_enter(const context::zone_event& _event);
    // Whether a frame of _kind may go to _tag's device now (_record's place in the line kept or
    // taken, when it has one); if so, makes a free number the messenger's next one.
    bool take_number(const std::string& _tag, device_numbers::kind _kind,
                     writable_zone_event* _record);
    // The frame just sent to _tag's device holds its number; _record's latest frame is it.
    void hold_number(const std::string& _tag, device_numbers::kind _kind,
                     writable_zone_event* _record);
    // The numbers of _tag's device, those whose frames' wait ended freed.
    device_numbers& numbers_of(const std::string& _tag);
    // Until when a number answered now rests.
    device_numbers::clock::time_point rest_until() const;
    // Whether the record _uid still waits for a number for a notice of _kind in place _ticket.
    bool still_waits(device_numbers::kind _kind, std::uint64_t _ticket,
                     const std::string& _uid) const;
    // Sends the leave of the record (or waits for a number to send it) and resends it from now
    // on; erases the record when the device holds none of its ids.
    void start_leave(records::iterator _it, timestamp _ts);
    // Points _record's leave at an id that the device holds for it; false when none is left.
    bool aim_leave(writable_zone_event& _record) const;
    // Whether the device of _record's tag holds _zone_id for _record: the latest enter that
    // carried the id was the record's, or none did and the record may hold it.
    bool holds(const writable_zone_event& _record, unsigned int _zone_id) const;
    // _record no longer holds _zone_id on its device (its leave was acknowledged, or the
    // record goes); an entry of another record is left alone.
    void forget_holder(const writable_zone_event& _record, unsigned int _zone_id);
    // Erases the record and what its device was taken to hold for it.
    void erase_record(records::iterator _it);
    // An acknowledged leave: the device has room again.
    void on_leave_acknowledged(const std::string& _tag, timestamp _ts);
    // The record of _event, made (nothing sent yet) when there is none.
    writable_zone_event& find_or_make_record(const context::zone_event& _event);
    void stamp(writable_zone_event& _record, timestamp _ts);

    libs::core::events_loop& m_events_loop;
    libs::context_utils::objects_repository<libs::context_utils::objects::trackable_object>::
        subscription_handle m_trackable_objects_subscription_handle;
    libs::context_utils::objects_repository<libs::context_utils::objects::zone>::subscription_handle
        m_zones_subscription_handle;
    libs::context_utils::objects_repository<context::zone_event>::subscription_handle
        m_zone_events_subscription_handle;
    libs::context_utils::objects_repository<context::device>::subscription_handle
        m_devices_subscription_handle;
    context::writable_context& m_context;
    libs::core::logger& m_logger;
    records m_w_events;
    messenger& m_messenger;
    std::chrono::milliseconds m_delivery_period;
    const device_numbers::still_waits m_still_waits;
    // By tag; a device's entry outlives its records, as the numbers of its frames do.
    std::unordered_map<std::string, device_numbers> m_numbers;
    // How many entries the last look for unused ones left.
    std::size_t m_numbers_kept = 0;
    // By tag, and by zone id: the record whose enter the device got last under that id. A leave
    // names only the ids that its record holds, so that it never takes away another zone that
    // now has the id.
    std::unordered_map<std::string, std::unordered_map<unsigned int, std::string>>
        m_zone_id_holders;
};

}  // namespace tvk
