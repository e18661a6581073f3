#include "frame_text.hpp"

#include <boost/optional.hpp>
#include <cstdint>
#include <sstream>
#include <stdexcept>

#include "hex_frame.hpp"

namespace quillmere_sim {

namespace {
namespace hex_frame = tvk::hex_frame;

// A field that the text holds whole; the service's reader accepts a cut field, the timeline
// should not show one as a number.
boost::optional<unsigned int> whole_field(const std::string& _hex, std::size_t _position,
                                          std::size_t _digits) {
    if (_hex.size() < _position + _digits) {
        return boost::none;
    }
    return hex_frame::read_field(_hex, _position, _digits);
}

// Character positions, in hexadecimal digits, of the fields after the header.
constexpr std::size_t item_position = 10;
constexpr std::size_t descriptor_length_position = 12;
constexpr std::size_t descriptor_position = 14;

bool read_enter(const std::string& _hex, decoded_frame& _frame) {
    const auto item = whole_field(_hex, item_position, 2);
    const auto descriptor_bytes = whole_field(_hex, descriptor_length_position, 2);
    if (!item || *item != 1 || !descriptor_bytes) {
        return false;
    }
    auto& descriptor = _frame.notice.zone_descriptor;
    std::size_t position = descriptor_position;
    const auto next = [&](std::size_t _digits) {
        const auto value = whole_field(_hex, position, _digits);
        position += _digits;
        return value;
    };
    const auto area = next(4);
    const auto zone = next(4);
    const auto zone_type = next(2);
    const auto severity = next(2);
    const auto custom_bytes = next(2);
    if (!area || !zone || !zone_type || !severity || !custom_bytes) {
        return false;
    }
    const std::size_t custom_digits = 2 * *custom_bytes;
    if (_hex.size() < position + custom_digits) {
        return false;
    }
    descriptor.custom_variable = _hex.substr(position, custom_digits);
    position += custom_digits;
    const auto shape = next(2);
    const auto count = next(2);
    if (!shape || !count) {
        return false;
    }
    if (*shape == 1) {
        for (unsigned int i = 0; i < *count; ++i) {
            const auto x = next(8);
            const auto y = next(8);
            if (!x || !y) {
                return false;
            }
            // Coordinates travel as the 32 bits of their two's complement.
            descriptor.vertices.emplace_back(static_cast<std::int32_t>(*x),
                                             static_cast<std::int32_t>(*y));
        }
    }
    if (position != descriptor_position + 2 * *descriptor_bytes) {
        return false;
    }
    if (position < _hex.size()) {
        if (_hex.compare(position, 2, "03") != 0) {
            return false;
        }
        _frame.notice.event_message = _hex.substr(position + 2);
    }
    descriptor.area_id = *area;
    descriptor.zone_id = *zone;
    descriptor.zone_type_id = *zone_type;
    descriptor.severity_level = *severity;
    descriptor.zone_shape = *shape;
    return true;
}

bool read_leave(const std::string& _hex, decoded_frame& _frame) {
    const auto item = whole_field(_hex, item_position, 2);
    const auto item_length = whole_field(_hex, descriptor_length_position, 2);
    const auto zone = whole_field(_hex, descriptor_position, 4);
    if (!item || *item != 2 || !item_length || *item_length != 2 || !zone) {
        return false;
    }
    _frame.notice.zone_descriptor.zone_id = *zone;
    return true;
}

std::string two_digits(unsigned int _value) {
    return hex_frame::to_hex(_value, 2);
}
}  // namespace

decoded_frame decode(const std::string& _hex) {
    decoded_frame frame;
    if (_hex.size() < 10 || !hex_frame::has_protocol_id(_hex)) {
        return frame;
    }
    const auto header = hex_frame::read_header(_hex);
    if (!header) {
        return frame;
    }
    frame.type = header->message_type;
    frame.length = header->length;
    frame.seq_no = header->seq_no;
    bool whole = true;
    switch (frame.type) {
        case tvk::ZONE_ENTER_EVENT:
            whole = read_enter(_hex, frame);
            break;
        case tvk::ZONE_LEAVE_EVENT:
            whole = read_leave(_hex, frame);
            break;
        case tvk::NACK: {
            const auto error_code = whole_field(_hex, 10, 2);
            whole = static_cast<bool>(error_code);
            frame.error_code = error_code.value_or(0);
            break;
        }
        default:
            break;
    }
    frame.valid = whole && _hex.size() == 8 + 2 * static_cast<std::size_t>(frame.length);
    return frame;
}

std::string type_name(unsigned int _type) {
    switch (_type) {
        case tvk::ACK:
            return "ACK";
        case tvk::ZONE_ENTER_EVENT:
            return "ZONE_ENTER";
        case tvk::ZONE_LEAVE_EVENT:
            return "ZONE_LEAVE";
        case tvk::REGISTER_TAG:
            return "REGISTER_TAG";
        case tvk::NACK:
            return "NACK";
        default: {
            std::ostringstream text;
            text << "type 0x" << std::hex << _type;
            return text.str();
        }
    }
}

std::string describe(const decoded_frame& _frame,
                     const std::map<unsigned int, std::string>& _zone_names) {
    if (!_frame.valid) {
        return "not a frame of a known layout";
    }
    std::ostringstream text;
    text << type_name(_frame.type) << " seq " << two_digits(_frame.seq_no);
    const auto& descriptor = _frame.notice.zone_descriptor;
    if (_frame.type == tvk::ZONE_ENTER_EVENT || _frame.type == tvk::ZONE_LEAVE_EVENT) {
        text << ", zone " << descriptor.zone_id;
        const auto name = _zone_names.find(descriptor.zone_id);
        if (name != _zone_names.end()) {
            text << " " << name->second;
        }
    }
    if (_frame.type == tvk::ZONE_ENTER_EVENT) {
        text << ", area " << descriptor.area_id << ", type " << descriptor.zone_type_id
             << ", severity " << descriptor.severity_level;
        if (!descriptor.custom_variable.empty()) {
            text << ", custom " << descriptor.custom_variable;
        }
        if (descriptor.zone_shape == 1) {
            text << ", polygon";
            for (const auto& vertex : descriptor.vertices) {
                text << " (" << vertex.first << "," << vertex.second << ")";
            }
        } else {
            text << ", shape " << descriptor.zone_shape << " (no vertices)";
        }
        if (!_frame.notice.event_message.empty()) {
            text << ", message " << _frame.notice.event_message;
        }
    }
    if (_frame.type == tvk::NACK) {
        text << ", error " << two_digits(_frame.error_code);
    }
    return text.str();
}

std::string register_tag_frame(unsigned int _seq_no) {
    return hex_frame::form_frame(tvk::REGISTER_TAG, two_digits(_seq_no));
}

std::string ack_frame(unsigned int _seq_no) {
    return hex_frame::form_ack(_seq_no);
}

std::string nack_frame(unsigned int _seq_no, unsigned int _error_code) {
    return hex_frame::form_frame(tvk::NACK, two_digits(_seq_no) + two_digits(_error_code));
}

}  // namespace quillmere_sim
