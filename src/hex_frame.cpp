#include "hex_frame.hpp"

#include <cctype>
#include <cstdint>
#include <iomanip>
#include <stdexcept>

#include "core/exception.hpp"

namespace tvk {
namespace hex_frame {

namespace {
const char* const protocol_id = "04";

// Item tags of the enter and leave payloads.
const char* const zone_descriptor_item = "01";
const char* const zone_id_item = "02";
const char* const event_message_item = "03";

// Bytes of a text of hexadecimal digits; an odd last digit does not count.
unsigned long bytes_of(const std::string& _hex) {
    return _hex.size() / 2;
}
}  // namespace

std::string to_hex(unsigned long _value, int _digits) {
    std::ostringstream stream;
    stream << std::uppercase << std::hex << std::setfill('0') << std::setw(_digits) << _value;
    return stream.str();
}

std::string to_hex_field(unsigned long _value, int _digits, const char* _name) {
    std::string text = to_hex(_value, _digits);
    if (text.size() > static_cast<std::size_t>(_digits)) {
        // Written wider, the value would shift every later field: the device would read
        // another notice than the one meant, or none.
        const int bytes = _digits / 2;
        TVK_THROW(std::string(_name) + " " + std::to_string(_value) + " does not fit in " +
                  std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes"));
    }
    return text;
}

std::string form_frame(unsigned int _type, const std::string& _payload) {
    return protocol_id + to_hex_field(_type, 2, "Message type") +
           to_hex_field(bytes_of(_payload), 4, "Payload length") + _payload;
}

std::string form_zone_descriptor(const messenger::zone_descriptor_t& _descriptor) {
    std::string text =
        to_hex_field(_descriptor.area_id, 4, "Area id") +
        to_hex_field(_descriptor.zone_id, 4, "Zone id") +
        to_hex_field(_descriptor.zone_type_id, 2, "Zone type id") +
        to_hex_field(_descriptor.severity_level, 2, "Severity level") +
        to_hex_field(bytes_of(_descriptor.custom_variable), 2, "Custom variable length") +
        _descriptor.custom_variable + to_hex_field(_descriptor.zone_shape, 2, "Zone shape") +
        to_hex_field(_descriptor.vertices.size(), 2, "Vertex count");
    if (_descriptor.zone_shape == 1) {
        for (const auto& vertex : _descriptor.vertices) {
            // Coordinates go out as the 32 bits of their two's complement.
            text += to_hex(static_cast<std::uint32_t>(vertex.first), 8);
            text += to_hex(static_cast<std::uint32_t>(vertex.second), 8);
        }
    }
    return text;
}

std::string form_ack(unsigned int _seq_no) {
    return form_frame(ACK, to_hex_field(_seq_no, 2, "Sequence number"));
}

std::string form_enter(unsigned int _seq_no, const messenger::zone_enter_event_t& _event) {
    const std::string descriptor = form_zone_descriptor(_event.zone_descriptor);
    std::string payload = to_hex_field(_seq_no, 2, "Sequence number") + zone_descriptor_item +
                          to_hex_field(bytes_of(descriptor), 2, "Zone descriptor length") +
                          descriptor;
    if (!_event.event_message.empty()) {
        payload += event_message_item + _event.event_message;
    }
    return form_frame(ZONE_ENTER_EVENT, payload);
}

std::string form_leave(unsigned int _seq_no, unsigned int _zone_id) {
    // The item length is fixed: the zone id's two bytes.
    return form_frame(ZONE_LEAVE_EVENT, to_hex_field(_seq_no, 2, "Sequence number") + zone_id_item +
                                            "02" + to_hex_field(_zone_id, 4, "Zone id"));
}

bool has_protocol_id(const std::string& _hex) {
    return _hex.compare(0, 2, protocol_id) == 0;
}

boost::optional<unsigned int> read_field(const std::string& _hex, std::size_t _position,
                                         std::size_t _digits) {
    if (_position > _hex.size()) {
        // Quoted whole: it ends before _position, inside the header.
        throw std::out_of_range("hex frame " + _hex + " ends before its field at character " +
                                std::to_string(_position));
    }
    const std::string field = _hex.substr(_position, _digits);
    for (const char digit : field) {
        if (!std::isxdigit(static_cast<unsigned char>(digit))) {
            return boost::none;
        }
    }
    return convert_hex_to<unsigned int>(field);
}

boost::optional<header> read_header(const std::string& _hex) {
    header fields;
    const auto message_type = read_field(_hex, 2, 2);
    if (!message_type) {
        return boost::none;
    }
    fields.message_type = *message_type;
    const auto length = read_field(_hex, 4, 4);
    if (!length) {
        return boost::none;
    }
    fields.length = *length;
    const auto seq_no = read_field(_hex, 8, 2);
    if (!seq_no) {
        return boost::none;
    }
    fields.seq_no = *seq_no;
    return fields;
}

boost::optional<unsigned int> read_error_code(const std::string& _hex) {
    return read_field(_hex, 10, 2);
}

}  // namespace hex_frame
}  // namespace tvk
