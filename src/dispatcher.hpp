#pragma once

#include <array>
#include <chrono>
#include <map>
#include <string>

#include "context/context.hpp"
#include "context/device.hpp"
#include "context/zone_event.hpp"
#include "context_utils/objects/trackable_object.hpp"
#include "context_utils/objects/zone.hpp"
#include "context_utils/objects_repository.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"
#include "core/timestamp.hpp"
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
    // Sends the enter of _event; returns the zone id it carried.
    unsigned int send_enter(const context::zone_event& _event);
    // How many frames of one device that wait for their acknowledgement hold each sequence
    // number (one byte).
    using held_numbers = std::array<int, 0x100>;
    held_numbers numbers_held(const std::string& _tag);
    // Each sends _record's notice under a number that no other frame of its device waiting for
    // its acknowledgement holds (_others: those of the other records), and keeps that number;
    // false, nothing sent, while every number is held. A new frame supersedes the record's
    // latest one, and a leave its latest leave.
    bool send_enter(writable_zone_event& _record, const context::zone_event& _event);
    bool send_enter(writable_zone_event& _record, const context::zone_event& _event,
                    const held_numbers& _others);
    bool send_leave(writable_zone_event& _record);
    // Makes the messenger's next number one that neither _held nor _also_held holds; false
    // when there is none.
    bool take_free_number(const held_numbers& _held, unsigned int _also_held);
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
};

}  // namespace tvk
