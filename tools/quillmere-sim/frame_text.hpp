#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "messenger.hpp"

// Frames of the device protocol read back into their fields, and the few frames a device sends.
namespace quillmere_sim {

struct decoded_frame {
    bool valid = false;  // false: the text is not a whole frame of a known layout
    unsigned int type = 0;
    unsigned int length = 0;
    unsigned int seq_no = 0;
    // Enter notices: all of it; leave notices: the zone id only.
    tvk::messenger::zone_enter_event_t notice;
    // Refusals only.
    unsigned int error_code = 0;

    unsigned int zone_id() const { return notice.zone_descriptor.zone_id; }
};

// Reads every field of _hex that its type defines; a text that ends early, holds a character
// that is not a hexadecimal digit or does not start with the protocol id gives valid false.
decoded_frame decode(const std::string& _hex);

// "ACK", "ZONE_ENTER", "ZONE_LEAVE", "REGISTER_TAG", "NACK", or "type 0x<hex>".
std::string type_name(unsigned int _type);

// One line for the timeline: the type, the sequence number and the fields, with the zone's
// name from _zone_names when it is there.
std::string describe(const decoded_frame& _frame,
                     const std::map<unsigned int, std::string>& _zone_names = {});

// Frames a device sends.
std::string register_tag_frame(unsigned int _seq_no);
std::string ack_frame(unsigned int _seq_no);
std::string nack_frame(unsigned int _seq_no, unsigned int _error_code);

}  // namespace quillmere_sim
