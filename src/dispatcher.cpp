#include "dispatcher.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

#include "core/exception.hpp"
#include "core/source_location.hpp"

namespace tvk {

namespace objects = libs::context_utils::objects;

namespace {
// A notice goes out at most this often: once when it becomes due, then by four ticks.
const unsigned int MAX_ATTEMPTS = 5;
const unsigned int NO_FRAME = writable_zone_event::NO_FRAME;
// The widest zone id a frame carries (2 bytes).
const unsigned int MAX_FRAME_ZONE_ID = 0xFFFF;
// Frames carry their sequence number in one byte.
const unsigned int SEQUENCE_NUMBERS = device_numbers::NUMBERS;
// An answered number rests this many delivery periods (2.5 s) before another frame of its
// device gets it: copies of an answer were seen to come up to a second after it, and one that
// comes while the number rests counts for nothing.
const unsigned int ANSWER_REST_PERIODS = 1;
// Entries of devices whose frames hold no number are looked for once the map doubled.
const std::size_t NUMBERS_KEPT_AT_LEAST = 64;

// Whether _record's latest frame waits for its acknowledgement.
bool frame_waits(const writable_zone_event& _record) {
    const auto status = _record.get_sending_status();
    return (status == writable_zone_event::ADD || status == writable_zone_event::REMOVE) &&
           _record.get_seq_no() != NO_FRAME;
}

// Calls _f with each record of _tag, in uid order, until it returns false. The records of a
// tag are keyed from "<tag>:" on; a tag uid may hold a ':' itself, so the keys with that prefix
// may belong to another tag too.
template <class F>
void for_each_record_of(dispatcher::records& _records, const std::string& _tag, F&& _f) {
    const std::string prefix = _tag + ":";
    for (auto it = _records.lower_bound(prefix);
         it != _records.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->second.get_obj_uid() == _tag && !_f(it)) {
            return;
        }
    }
}
}  // namespace

dispatcher::dispatcher(libs::core::events_loop& _loop, context::writable_context& _context,
                       libs::core::logger& _logger, messenger& _messenger,
                       std::chrono::milliseconds _delivery_period)
    : m_events_loop(_loop)
    , m_trackable_objects_subscription_handle(_context.get_trackable_objects().subscribe(*this))
    , m_zones_subscription_handle(_context.get_zones().subscribe(*this))
    , m_zone_events_subscription_handle(_context.get_zone_events().subscribe(*this))
    , m_devices_subscription_handle(_context.get_devices().subscribe(*this))
    , m_context(_context)
    , m_logger(_logger)
    , m_messenger(_messenger)
    , m_delivery_period(_delivery_period)
    , m_still_waits([this](device_numbers::kind _kind, std::uint64_t _ticket,
                           const std::string& _uid) { return still_waits(_kind, _ticket, _uid); }) {
    m_messenger.set_on_reboot([this](const std::string& _tag) { on_reboot(_tag); });
    m_messenger.set_on_heartbeat([this](const std::string& _tag) { on_heartbeat(_tag); });
    m_messenger.set_on_ack([this](const std::string& _tag, unsigned int _seq_no, timestamp _ts) {
        on_ack(_tag, _seq_no, _ts);
    });
    m_messenger.set_on_nack([this](const std::string& _tag, unsigned int _seq_no,
                                   unsigned int _error_code,
                                   timestamp _ts) { on_nack(_tag, _seq_no, _error_code, _ts); });
    m_messenger.set_on_register_tag([this](const std::string& _tag, const std::string& _mac,
                                           timestamp _ts) { on_register_tag(_tag, _mac, _ts); });
}

dispatcher::~dispatcher() {
    // A messenger that outlives this object must not call into it.
    m_messenger.set_on_reboot(nullptr);
    m_messenger.set_on_heartbeat(nullptr);
    m_messenger.set_on_ack(nullptr);
    m_messenger.set_on_nack(nullptr);
    m_messenger.set_on_register_tag(nullptr);
    // The records (and their timers) go before the subscriptions.
    m_w_events.clear();
}

void dispatcher::initialize() {
    const timestamp now = timestamp::current_time();
    const libs::core::source_location location = TVK_SOURCE_LOCATION;
    m_context.get_zone_events().for_each([this, now, &location](const context::zone_event& _event) {
        m_logger.execute(location, [this, &_event, now] { after_creating(_event, now); });
        return true;
    });
}

// Trackable objects: a tag that loses its node, or disappears, loses its device.

void dispatcher::after_creating(const objects::trackable_object& /*_object*/, timestamp /*_ts*/) {}

void dispatcher::after_updating(const objects::trackable_object& _object, timestamp _ts) {
    if (_object.has_malformed_node()) {
        // A broken notice says nothing about the node: the device stays.
        m_logger.error("Trackable object %1%: \"node\" is not an object, its device is kept")
                .location(TVK_SOURCE_LOCATION) %
            libs::core::cut_for_log(_object.get_uid());
        return;
    }
    if (!_object.get_node()) {
        m_context.take_devices().remove(_object.get_uid(), _ts);
    }
}

void dispatcher::before_deleting(const objects::trackable_object& _object, timestamp _ts) {
    m_context.take_devices().remove(_object.get_uid(), _ts);
}

// Zones: enter notices read the zone when they are built, so a change needs nothing here.

void dispatcher::after_creating(const objects::zone& /*_zone*/, timestamp /*_ts*/) {}

void dispatcher::after_updating(const objects::zone& /*_zone*/, timestamp /*_ts*/) {}

void dispatcher::before_deleting(const objects::zone& /*_zone*/, timestamp /*_ts*/) {}

// Zone events.

void dispatcher::after_creating(const context::zone_event& _event, timestamp _ts) {
    writable_zone_event& record = find_or_make_record(_event);
    const std::string& tag = record.get_obj_uid();
    if (!is_device_registered(tag)) {
        return;
    }
    record.set_sending_status(writable_zone_event::ADD).set_seq_no(NO_FRAME);
    const bool send = !is_device_full(tag);
    if (send) {
        if (send_enter(record, _event)) {
            stamp(record, _ts);
        } else {
            // Due, and sent by a tick once a number is free.
            record.set_attempt_counter(0);
        }
    }
    create_timer(record, send);
}

void dispatcher::after_updating(const context::zone_event& _event, timestamp _ts) {
    after_creating(_event, _ts);
}

void dispatcher::before_deleting(const context::zone_event& _event, timestamp _ts) {
    const auto found = m_w_events.find(_event.get_uid());
    if (!is_device_registered(_event.get_obj_uid())) {
        if (found != m_w_events.end()) {
            erase_record(found);
        }
        return;
    }
    if (found == m_w_events.end()) {
        return;
    }
    writable_zone_event& record = found->second;
    if (record.get_zone_id() > MAX_FRAME_ZONE_ID) {
        // No frame can name the zone, so no enter went out for it either; raising here would
        // keep the zone event from being deleted.
        m_logger.error("Zone event %1%: zone id %2% does not fit in 2 bytes, no leave is sent")
                .location(TVK_SOURCE_LOCATION) %
            libs::core::cut_for_log(_event.get_uid()) % record.get_zone_id();
        erase_record(found);
        return;
    }
    start_leave(found, _ts);
}

void dispatcher::start_leave(records::iterator _it, timestamp _ts) {
    writable_zone_event& record = _it->second;
    if (!aim_leave(record)) {
        // Nothing of it is left on the device (a reboot, or other zones took its ids since).
        erase_record(_it);
        return;
    }
    if (send_leave(record)) {
        stamp(record, _ts);
    } else {
        record.set_seq_no(NO_FRAME).set_attempt_counter(0);
    }
    record.set_sending_status(writable_zone_event::REMOVE);
    create_timer(record, true);
}

// Devices.

void dispatcher::after_creating(const context::device& _device, timestamp _ts) {
    // A device dropped before took the records of its tag's events along: without new ones
    // their enters would go out once, unresent, and the leaves never.
    m_context.get_zone_events().for_each([&](const context::zone_event& _event) {
        if (_event.get_obj_uid() == _device.get_uid()) {
            find_or_make_record(_event);
        }
        return true;
    });
    send_enters_of_tag(_device.get_uid(), _ts, false);
}

void dispatcher::after_updating(const context::device& /*_device*/, timestamp /*_ts*/) {}

void dispatcher::before_deleting(const context::device& _device, timestamp /*_ts*/) {
    for (auto it = m_w_events.begin(); it != m_w_events.end();) {
        if (it->second.get_obj_uid() == _device.get_uid()) {
            it = m_w_events.erase(it);
        } else {
            ++it;
        }
    }
    m_zone_id_holders.erase(_device.get_uid());
    // The numbers its frames hold stay held: their late answers may still come.
    const auto numbers = m_numbers.find(_device.get_uid());
    if (numbers != m_numbers.end()) {
        numbers->second.clear_waiting();
        if (numbers->second.held() == 0) {
            m_numbers.erase(numbers);
        }
    }
}

// The devices' traffic.

void dispatcher::on_reboot(const std::string& _tag) {
    if (!is_device_registered(_tag)) {
        return;
    }
    const timestamp now = timestamp::current_time();
    mark_device_as_full(_tag, false, now);
    // A rebooted device has lost every notice, acknowledged or not: only the enters sent from
    // now on put ids on it, and only those get leaves.
    for_each_record_of(m_w_events, _tag, [](records::iterator _it) {
        _it->second.forget_zone_ids();
        return true;
    });
    m_zone_id_holders.erase(_tag);
    send_enters_of_tag(_tag, now, false);
}

void dispatcher::on_heartbeat(const std::string& _tag) {
    if (!is_device_registered(_tag)) {
        return;
    }
    const bool send = !is_device_full(_tag);
    for_each_record_of(m_w_events, _tag, [send](records::iterator _it) {
        writable_zone_event& record = _it->second;
        const auto status = record.get_sending_status();
        if ((status == writable_zone_event::ADD && send) || status == writable_zone_event::REMOVE) {
            record.set_attempt_counter(0);
            // A running timer keeps its tick: beats faster than the period must not keep a
            // resend, or a notice that waits for a number, from ever going out.
            if (!record.is_pending()) {
                record.restart_timer();
            }
        }
        return true;
    });
}

void dispatcher::on_ack(const std::string& _tag, unsigned int _seq_no, timestamp _ts) {
    const auto numbers = m_numbers.find(_tag);
    if (numbers == m_numbers.end()) {
        return;
    }
    // Only the frame that holds the number now can be the one answered. The number is not
    // freed by its wait first: this answer may be the one read last, after its wait ended.
    const auto frame = numbers->second.answer(_seq_no, rest_until());
    if (!frame) {
        return;
    }
    const auto found = m_w_events.find(frame->uid);
    const bool claimed = found != m_w_events.end() && found->second.get_obj_uid() == _tag;
    if (claimed && frame_waits(found->second) && found->second.get_seq_no() == _seq_no) {
        writable_zone_event& record = found->second;
        if (record.get_sending_status() == writable_zone_event::ADD) {
            record.set_sending_status(writable_zone_event::ACKED)
                .stop_timer()
                .set_attempt_counter(0);
            return;
        }
        record.set_leave_seq_no(NO_FRAME);
        forget_holder(record, record.get_zone_id());
        if (record.leave_earlier_zone_id()) {
            // The device may hold the zone under an id that an earlier enter carried as well.
            start_leave(found, _ts);
        } else {
            erase_record(found);
        }
    } else if (claimed && found->second.get_leave_seq_no() == _seq_no) {
        // A leave sent before the enter that the record has due now: the enter stays due.
        found->second.set_leave_seq_no(NO_FRAME);
    } else if (frame->what != device_numbers::leave || frame->superseded) {
        // A superseded frame: its answer counts for nothing.
        return;
    }
    // A leave acknowledged, also once its record gave it up: the device has room.
    on_leave_acknowledged(_tag, _ts);
}

void dispatcher::on_leave_acknowledged(const std::string& _tag, timestamp _ts) {
    if (is_device_full(_tag)) {
        mark_device_as_full(_tag, false, _ts);
        resume_sending_enter_zone_events(_tag, _ts);
    }
}

void dispatcher::on_nack(const std::string& _tag, unsigned int _seq_no,
                         unsigned int /*_error_code*/, timestamp _ts) {
    // A refused frame is answered: its number is free once it has rested.
    const auto numbers = m_numbers.find(_tag);
    if (numbers != m_numbers.end()) {
        if (numbers->second.rests_after_refusal(_seq_no)) {
            // A copy of a refusal taken already: a device that got room since keeps it.
            return;
        }
        numbers->second.answer(_seq_no, rest_until(), true);
    }
    // Every refusal means the device is full; leaves go on.
    mark_device_as_full(_tag, true, _ts);
    stop_sending_enter_zone_events(_tag);
}

void dispatcher::on_register_tag(const std::string& _tag, const std::string& _mac, timestamp _ts) {
    if (is_device_registered(_tag)) {
        return;
    }
    m_context.take_devices().add(context::device(_tag, _ts, _mac), _ts);
}

// Helpers.

void dispatcher::create_timer(writable_zone_event& _record, bool _start) {
    // The tick finds its record and zone event by uid each time: either may be gone, or
    // replaced, by the time it runs.
    const std::string uid = _record.get_uid();
    auto timer = m_events_loop.create_periodic_timer(
        m_delivery_period, "delivery timer",
        [this, uid](libs::core::timer::time_point) { on_delivery_tick(uid); },
        libs::core::source_location());
    _record.set_timer(timer);
    if (!_start) {
        _record.stop_timer();
    }
}

void dispatcher::on_delivery_tick(const std::string& _uid) {
    const auto found = m_w_events.find(_uid);
    if (found == m_w_events.end()) {
        return;
    }
    writable_zone_event& record = found->second;
    const unsigned int attempts = record.get_attempt_counter();
    const auto status = record.get_sending_status();
    m_logger.debug("Timer %1%") % attempts;
    if (attempts >= MAX_ATTEMPTS) {
        if (status == writable_zone_event::ADD) {
            record.stop_timer();
        } else if (status == writable_zone_event::REMOVE) {
            // Destroys this very timer; its callback lives until the tick returns.
            erase_record(found);
        }
        return;
    }
    const timestamp now = timestamp::current_time();
    bool sent = false;
    if (status == writable_zone_event::ADD) {
        const auto event = m_context.get_zone_events().try_get(_uid);
        if (!event) {
            // Nothing is due without the event; a new one makes a new timer.
            record.stop_timer();
            return;
        }
        sent = send_enter(record, *event);
    } else if (status == writable_zone_event::REMOVE) {
        // Another zone's enter may have carried the id since: a resend would take that zone
        // away from the device.
        const unsigned int zone_id = record.get_zone_id();
        if (!aim_leave(record)) {
            erase_record(found);
            return;
        }
        if (record.get_zone_id() != zone_id) {
            // The leave of another id: five sends of its own.
            record.set_attempt_counter(0);
        }
        sent = send_leave(record);
    }
    if (sent) {
        record.set_sending_time(now).increase_attempt_counter();
    }
}

messenger::zone_enter_event_t dispatcher::form_zone_enter_event(
    const context::zone_event& _event) const {
    const auto zone = m_context.get_zones().try_get(_event.get_zone_uid());
    if (!zone) {
        TVK_THROW("Zone not found " + libs::core::cut_for_log(_event.get_zone_uid()));
    }
    messenger::zone_enter_event_t notice;
    messenger::zone_descriptor_t& descriptor = notice.zone_descriptor;
    descriptor.area_id = zone->get_sublocation_id().value_or(0);
    descriptor.zone_id = zone->get_zone_id().value_or(0);
    descriptor.zone_type_id = zone->get_zone_type_id();
    descriptor.severity_level = zone->get_zone_alarm_level();
    descriptor.zone_shape = zone->get_shape() == "polygon" ? 1 : 2;
    if (descriptor.zone_shape == 1) {
        zone->get_zone_geometry().for_each_point([&descriptor](const objects::zone::point& _point) {
            descriptor.vertices.emplace_back(_point.get_x(), _point.get_y());
            return true;
        });
    }
    return notice;
}

bool dispatcher::mark_device_as_full(const std::string& _tag, bool _full, const timestamp& _ts) {
    auto access = m_context.take_devices().try_get(_tag, _ts);
    if (!access) {
        return false;
    }
    context::device& device = **access;
    device.set_ts(_ts);
    device.set_full(_full);
    // The observers hear of the change now.
    access.reset();
    return true;
}

bool dispatcher::is_device_full(const std::string& _tag) const {
    const auto device = m_context.get_devices().try_get(_tag);
    return device && device->is_full();
}

bool dispatcher::is_device_registered(const std::string& _tag) const {
    return m_context.get_devices().is_exists(_tag);
}

void dispatcher::stop_sending_enter_zone_events(const std::string& _tag) {
    for_each_record_of(m_w_events, _tag, [](records::iterator _it) {
        if (_it->second.get_sending_status() == writable_zone_event::ADD) {
            _it->second.stop_timer().set_attempt_counter(0);
        }
        return true;
    });
}

void dispatcher::resume_sending_enter_zone_events(const std::string& _tag, timestamp _ts) {
    send_enters_of_tag(_tag, _ts, true);
}

void dispatcher::send_enters_of_tag(const std::string& _tag, timestamp _ts, bool _only_due) {
    const libs::core::source_location location = TVK_SOURCE_LOCATION;
    m_context.get_zone_events().for_each([&](const context::zone_event& _event) {
        if (_event.get_obj_uid() != _tag) {
            return true;
        }
        const auto found = m_w_events.find(_event.get_uid());
        const bool has_record = found != m_w_events.end();
        if (_only_due &&
            (!has_record || found->second.get_sending_status() != writable_zone_event::ADD)) {
            return true;
        }
        // One zone that cannot be described must not keep the tag's other enters back.
        m_logger.execute(location, [&] {
            if (!has_record) {
                send_untracked_enter(_event);
                return;
            }
            writable_zone_event& record = found->second;
            if (send_enter(record, _event)) {
                stamp(record, _ts);
            } else {
                record.set_seq_no(NO_FRAME).set_attempt_counter(0);
            }
            record.set_sending_status(writable_zone_event::ADD);
            create_timer(record, true);
        });
        return true;
    });
}

writable_zone_event& dispatcher::find_or_make_record(const context::zone_event& _event) {
    auto found = m_w_events.find(_event.get_uid());
    if (found == m_w_events.end()) {
        found = m_w_events
                    .emplace(_event.get_uid(),
                             writable_zone_event(_event.get_uid(), _event.get_obj_uid(),
                                                 _event.get_zone_id()))
                    .first;
        found->second.set_seq_no(NO_FRAME);
    }
    return found->second;
}

bool dispatcher::send_enter(writable_zone_event& _record, const context::zone_event& _event) {
    const std::string& tag = _record.get_obj_uid();
    if (!take_number(tag, device_numbers::enter, &_record)) {
        return false;
    }
    const messenger::zone_enter_event_t notice = form_zone_enter_event(_event);
    m_messenger.send_enter_zone_event(tag, notice);
    // The zone may have been renumbered since the record was made, or since an earlier enter.
    _record.enter_carried(notice.zone_descriptor.zone_id);
    // From now on the device holds the id for this record, whichever record had it before.
    m_zone_id_holders[tag][notice.zone_descriptor.zone_id] = _record.get_uid();
    hold_number(tag, device_numbers::enter, &_record);
    return true;
}

bool dispatcher::send_leave(writable_zone_event& _record) {
    const std::string& tag = _record.get_obj_uid();
    if (!take_number(tag, device_numbers::leave, &_record)) {
        return false;
    }
    m_messenger.send_leave_zone_event(tag, _record.get_zone_id());
    hold_number(tag, device_numbers::leave, &_record);
    return true;
}

void dispatcher::send_untracked_enter(const context::zone_event& _event) {
    const std::string& tag = _event.get_obj_uid();
    if (!take_number(tag, device_numbers::enter, nullptr)) {
        return;
    }
    m_messenger.send_enter_zone_event(tag, form_zone_enter_event(_event));
    // Nothing tracks it, but its number must not be taken for another frame's.
    hold_number(tag, device_numbers::enter, nullptr);
}

bool dispatcher::take_number(const std::string& _tag, device_numbers::kind _kind,
                             writable_zone_event* _record) {
    device_numbers& numbers = numbers_of(_tag);
    if (!numbers.may_take(_kind, _record != nullptr ? _record->get_uid() : std::string(),
                          _record != nullptr ? _record->wait_ticket() : nullptr, m_still_waits)) {
        return false;
    }
    // The messenger numbers a frame with the number after its last one.
    const unsigned int next = numbers.next_number(m_messenger.get_last_sequence_number());
    while ((m_messenger.get_last_sequence_number() + 1u) % SEQUENCE_NUMBERS != next) {
        m_messenger.get_new_sequence_number();
    }
    return true;
}

void dispatcher::hold_number(const std::string& _tag, device_numbers::kind _kind,
                             writable_zone_event* _record) {
    const unsigned int seq_no = m_messenger.get_last_sequence_number();
    // take_number made the entry and ended the waits due, just before the send.
    device_numbers& numbers = m_numbers.at(_tag);
    // An answer may come as late as the last resend's time-out after it.
    numbers.hold(seq_no, _kind, _record != nullptr ? _record->get_uid() : std::string(),
                 device_numbers::clock::now() + MAX_ATTEMPTS * m_delivery_period);
    if (_record == nullptr) {
        return;
    }
    _record->set_seq_no(seq_no);
    if (_kind == device_numbers::leave) {
        if (_record->get_leave_seq_no() != NO_FRAME) {
            numbers.supersede(_record->get_leave_seq_no(), _record->get_uid());
        }
        _record->set_leave_seq_no(seq_no);
    } else if (_record->get_leave_seq_no() == seq_no) {
        // Free to take, so that leave's wait is over: its answer can no longer come.
        _record->set_leave_seq_no(NO_FRAME);
    }
}

device_numbers& dispatcher::numbers_of(const std::string& _tag) {
    // Not the clock: an answer that came in time but waits unread, while a long walk or a slow
    // post keeps the loop busy, must still find its frame's number held.
    const auto now = m_messenger.answers_read_until();
    auto found = m_numbers.find(_tag);
    if (found == m_numbers.end()) {
        if (m_numbers.size() >= 2 * std::max(m_numbers_kept, NUMBERS_KEPT_AT_LEAST)) {
            // Devices that went quiet: their entries go, at a cost spread over the new ones.
            for (auto it = m_numbers.begin(); it != m_numbers.end();) {
                it->second.release_expired(now);
                it = it->second.forget_stale(m_still_waits) ? m_numbers.erase(it) : std::next(it);
            }
            m_numbers_kept = m_numbers.size();
        }
        found = m_numbers.emplace(_tag, device_numbers()).first;
    }
    found->second.release_expired(now);
    return found->second;
}

bool dispatcher::still_waits(device_numbers::kind _kind, std::uint64_t _ticket,
                             const std::string& _uid) const {
    const auto found = m_w_events.find(_uid);
    if (found == m_w_events.end()) {
        return false;
    }
    const writable_zone_event& record = found->second;
    const auto due =
        _kind == device_numbers::leave ? writable_zone_event::REMOVE : writable_zone_event::ADD;
    // A record parked, acknowledged or with another notice due has given its place up.
    return record.get_wait_ticket() == _ticket && record.get_sending_status() == due &&
           record.is_pending();
}

const device_numbers* dispatcher::get_numbers(const std::string& _tag) const {
    const auto found = m_numbers.find(_tag);
    return found == m_numbers.end() ? nullptr : &found->second;
}

device_numbers::clock::time_point dispatcher::rest_until() const {
    return device_numbers::clock::now() + ANSWER_REST_PERIODS * m_delivery_period;
}

bool dispatcher::aim_leave(writable_zone_event& _record) const {
    while (!holds(_record, _record.get_zone_id())) {
        if (!_record.leave_earlier_zone_id()) {
            return false;
        }
    }
    return true;
}

bool dispatcher::holds(const writable_zone_event& _record, unsigned int _zone_id) const {
    const auto tag = m_zone_id_holders.find(_record.get_obj_uid());
    if (tag != m_zone_id_holders.end()) {
        const auto holder = tag->second.find(_zone_id);
        if (holder != tag->second.end()) {
            return holder->second == _record.get_uid();
        }
    }
    return _zone_id == _record.get_zone_id() && _record.may_hold_zone_id();
}

void dispatcher::forget_holder(const writable_zone_event& _record, unsigned int _zone_id) {
    const auto tag = m_zone_id_holders.find(_record.get_obj_uid());
    if (tag == m_zone_id_holders.end()) {
        return;
    }
    const auto holder = tag->second.find(_zone_id);
    if (holder != tag->second.end() && holder->second == _record.get_uid()) {
        tag->second.erase(holder);
        if (tag->second.empty()) {
            m_zone_id_holders.erase(tag);
        }
    }
}

void dispatcher::erase_record(records::iterator _it) {
    const writable_zone_event& record = _it->second;
    forget_holder(record, record.get_zone_id());
    for (const unsigned int zone_id : record.get_earlier_zone_ids()) {
        forget_holder(record, zone_id);
    }
    m_w_events.erase(_it);
}

void dispatcher::stamp(writable_zone_event& _record, timestamp _ts) {
    // The send set the sequence number.
    _record.set_sending_time(_ts).set_attempt_counter(1);
}

}  // namespace tvk
