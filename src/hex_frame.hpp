#pragma once

#include <boost/optional.hpp>
#include <cstddef>
#include <sstream>
#include <string>

#include "messenger.hpp"

namespace tvk {

// Message type codes of the frames exchanged with the devices.
enum message_types : unsigned int {
    ACK = 0,
    ZONE_ENTER_EVENT = 1,
    ZONE_LEAVE_EVENT = 2,
    REGISTER_TAG = 5,
    NACK = 255,
};

// Reads hexadecimal text (either case) up to its first character that is not part of a
// number; an empty or unreadable text gives 0.
template <class T>
T convert_hex_to(const std::string& _hex) {
    T value = 0;
    std::stringstream stream;
    stream << std::hex << _hex;
    stream >> value;
    return stream.fail() ? T(0) : value;
}

// Frames are upper-case hexadecimal text: "04", the type (1 byte), the payload length in
// bytes (2 bytes), then the payload, whose first byte is the sequence number. Every number is
// big-endian and zero-padded to its field; building a frame with a value too wide for its
// field raises "<field> <value> does not fit in <n> byte(s)" (more than 255 vertices, a
// descriptor over 255 bytes, a zone id over 65535).
namespace hex_frame {

// _value in upper-case hexadecimal, zero-padded to at least _digits digits.
std::string to_hex(unsigned long _value, int _digits);

// _value in exactly _digits upper-case hexadecimal digits; raises, naming _name, when it
// needs more.
std::string to_hex_field(unsigned long _value, int _digits, const char* _name);

// "04", _type, the payload length and the payload.
std::string form_frame(unsigned int _type, const std::string& _payload);

// area, zone, type, severity, custom variable with its length, shape, vertex count and, for
// shape 1 only, the vertices as 32-bit two's complement.
std::string form_zone_descriptor(const messenger::zone_descriptor_t& _descriptor);

std::string form_ack(unsigned int _seq_no);
std::string form_enter(unsigned int _seq_no, const messenger::zone_enter_event_t& _event);
std::string form_leave(unsigned int _seq_no, unsigned int _zone_id);

// Whether the text starts with the protocol id "04".
bool has_protocol_id(const std::string& _hex);

// The field of _digits characters at character _position. Raises std::out_of_range when the
// text ends before _position; a field the text ends inside is read from what is there (an
// empty field reads as 0). Empty when the field holds a character that is not a hexadecimal
// digit, so that a garbled field is never taken for a number.
boost::optional<unsigned int> read_field(const std::string& _hex, std::size_t _position,
                                         std::size_t _digits);

struct header {
    unsigned int message_type = 0;
    unsigned int length = 0;
    unsigned int seq_no = 0;
};

// Type, payload length and sequence number of an incoming frame, read as read_field does.
boost::optional<header> read_header(const std::string& _hex);

// The error code of a refusal (the byte after the sequence number), read as read_field does.
boost::optional<unsigned int> read_error_code(const std::string& _hex);

}  // namespace hex_frame
}  // namespace tvk
