#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "frame_text.hpp"

namespace quillmere_sim {

// What a device does with a notice (an enter or leave frame) it receives.
enum class reply {
    ack,     // acknowledges it
    ignore,  // misses it, as when out of range: the service will send it again
    refuse,  // refuses it with error code 1, as when full
};

// One frame that the service posted for a device, and the device's answer.
struct handled_frame {
    std::string device;
    std::string hex;
    decoded_frame frame;
    bool known_device = false;
    // The previous frame of the same kind for the same zone went unanswered.
    bool resend = false;
    bool answered = false;
    reply answer = reply::ack;
    std::string answer_hex;  // the frame sent back; empty when none
};

// The tags' devices as the service's peer sees them. Thread-safe: frames arrive on the
// location server's thread while the scenario scripts the devices.
class devices {
public:
    void add(const std::string& _uid, const std::string& _mac);
    std::string mac(const std::string& _uid) const;

    // The device answers its next notices so, in order; later ones are acknowledged.
    void plan(const std::string& _uid, reply _reply);

    // The device's REGISTER_TAG frame, with its own next sequence number.
    std::string register_tag(const std::string& _uid);

    // Reads a frame that the service posted for _uid and decides the answer. Notices are
    // answered as planned, acknowledgements of the device's own frames are taken silently.
    handled_frame take(const std::string& _uid, const std::string& _hex);

private:
    struct device {
        std::string mac;
        std::deque<reply> plan;
        unsigned int own_seq_no = 0;
        // (type, zone id) of each kind of notice -> whether its latest frame was answered.
        std::map<std::pair<unsigned int, unsigned int>, bool> answered;
    };

    mutable std::mutex m_mutex;
    std::map<std::string, device> m_devices;
};

}  // namespace quillmere_sim
