#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/timestamp.hpp"

namespace tvk {

// The service's link to the tags' devices: sends enter, leave and acknowledgement frames and
// reports what the devices send back through five callbacks. The device uid is the tag's uid.
class messenger {
public:
    using ptr = std::unique_ptr<messenger>;

    using on_reboot_callback = std::function<void(const std::string& _uid)>;
    using on_heartbeat_callback = std::function<void(const std::string& _uid)>;
    using on_ack_callback = std::function<void(const std::string& _uid, unsigned int _seq_no,
                                               libs::core::timestamp _ts)>;
    using on_nack_callback =
        std::function<void(const std::string& _uid, unsigned int _seq_no, unsigned int _error_code,
                           libs::core::timestamp _ts)>;
    using on_register_tag_callback = std::function<void(
        const std::string& _uid, const std::string& _mac, libs::core::timestamp _ts)>;

    // The zone part of an enter notice.
    struct zone_descriptor_t {
        unsigned int area_id = 0;
        unsigned int zone_id = 0;
        unsigned int zone_type_id = 0;
        unsigned int severity_level = 0;
        // Already hexadecimal; copied into the frame unchanged.
        std::string custom_variable;
        // 1: polygon, the vertices follow; any other value: no vertices follow.
        unsigned int zone_shape = 0;
        std::vector<std::pair<int, int>> vertices;
    };

    struct zone_enter_event_t {
        zone_descriptor_t zone_descriptor;
        // Already hexadecimal; appended only when not empty.
        std::string event_message;
    };

    virtual ~messenger() = default;

    // Each replaces the callback set before.
    virtual void set_on_reboot(on_reboot_callback _callback) = 0;
    virtual void set_on_heartbeat(on_heartbeat_callback _callback) = 0;
    virtual void set_on_ack(on_ack_callback _callback) = 0;
    virtual void set_on_nack(on_nack_callback _callback) = 0;
    virtual void set_on_register_tag(on_register_tag_callback _callback) = 0;

    // Acknowledges the device's frame _seq_no; takes no new sequence number. False when the
    // post failed.
    virtual bool send_ack(const std::string& _uid, unsigned int _seq_no) const = 0;
    // Each takes a new sequence number, then posts the frame; false when the post failed.
    virtual bool send_enter_zone_event(const std::string& _uid,
                                       const zone_enter_event_t& _event) = 0;
    virtual bool send_leave_zone_event(const std::string& _uid, unsigned int _zone_id) = 0;

    // The latest time up to which every frame from the devices that reached the service has
    // been reported through the callbacks; an answer that came later may still wait unread.
    virtual std::chrono::steady_clock::time_point answers_read_until() = 0;

    // The number carried by the latest enter or leave frame (0 before the first).
    virtual unsigned char get_last_sequence_number() const = 0;
    // Advances the one counter of the service (255 is followed by 0) and returns it.
    virtual unsigned char get_new_sequence_number() = 0;
};

}  // namespace tvk
