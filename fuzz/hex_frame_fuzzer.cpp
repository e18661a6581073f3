// Reading hex frames: the input is the frame text; its first bytes also choose a field to
// read and the numbers of frames that are written and read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "fuzz_support.hpp"
#include "hex_frame.hpp"

namespace {

namespace hex_frame = tvk::hex_frame;

const char* const entry = "tvk::hex_frame";

// A field read must be the number its digits spell.
void check_field(const std::string& _text, std::size_t _position, std::size_t _digits) {
    boost::optional<unsigned int> value;
    try {
        value = hex_frame::read_field(_text, _position, _digits);
    } catch (const std::out_of_range&) {
        if (_position <= _text.size()) {
            fuzz::property_failed(entry, "a field refused although the text reaches it");
        }
        return;
    } catch (...) {
        fuzz::unexpected_exception(entry);
    }
    if (_position > _text.size()) {
        fuzz::property_failed(entry, "a field read beyond the text");
    }
    const std::string field = _text.substr(_position, _digits);
    if (!value || field.size() > 8) {
        return;
    }
    const unsigned long spelled = field.empty() ? 0 : std::strtoul(field.c_str(), nullptr, 16);
    if (spelled != *value) {
        fuzz::property_failed(entry, "field " + field + " read as " + std::to_string(*value));
    }
}

// A frame written with numbers that fit its fields reads back as written.
void check_read_back(const std::string& _frame, unsigned int _type, unsigned int _seq_no) {
    const auto header = hex_frame::read_header(_frame);
    if (!header || header->message_type != _type || header->seq_no != _seq_no ||
        header->length != (_frame.size() - 8) / 2) {
        fuzz::property_failed(entry, "frame " + _frame + " does not read back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    const std::string text = fuzz::text_of(_data, _size);

    (void)hex_frame::has_protocol_id(text);
    (void)tvk::convert_hex_to<unsigned int>(text);
    try {
        const auto header = hex_frame::read_header(text);
        if (header &&
            (header->message_type > 0xFF || header->length > 0xFFFF || header->seq_no > 0xFF)) {
            fuzz::property_failed(entry, "a header field wider than its digits");
        }
        (void)hex_frame::read_error_code(text);
    } catch (const std::out_of_range&) {
        // A frame that ends before a field: the messenger's caller logs it.
    } catch (...) {
        fuzz::unexpected_exception(entry);
    }
    if (_size < 4) {
        return 0;
    }

    check_field(text, _data[0] % (_size + 4), _data[1] % 12);

    const unsigned int seq_no = _data[2];
    const unsigned int zone_id = (static_cast<unsigned int>(_data[1]) << 8) | _data[3];
    check_read_back(hex_frame::form_ack(seq_no), tvk::ACK, seq_no);
    check_read_back(hex_frame::form_leave(seq_no, zone_id), tvk::ZONE_LEAVE_EVENT, seq_no);

    tvk::messenger::zone_enter_event_t event;
    event.zone_descriptor.zone_id = zone_id;
    event.zone_descriptor.area_id = _data[0];
    event.zone_descriptor.zone_shape = _data[3] % 3;
    for (std::size_t i = 4; i + 1 < _size && i < 64; i += 2) {
        event.zone_descriptor.vertices.emplace_back(static_cast<std::int8_t>(_data[i]) * 1000,
                                                    -static_cast<int>(_data[i + 1]));
    }
    check_read_back(hex_frame::form_enter(seq_no, event), tvk::ZONE_ENTER_EVENT, seq_no);
    return 0;
}
