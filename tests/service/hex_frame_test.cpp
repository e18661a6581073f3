#include "hex_frame.hpp"

#include <gtest/gtest.h>

#include <boost/optional/optional_io.hpp>
#include <climits>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support/core_error.hpp"

using tvk::convert_hex_to;
using tvk::messenger;
namespace hex_frame = tvk::hex_frame;

namespace {
messenger::zone_descriptor_t example_descriptor() {
    messenger::zone_descriptor_t descriptor;
    descriptor.area_id = 3;
    descriptor.zone_id = 17;
    descriptor.zone_type_id = 2;
    descriptor.severity_level = 1;
    descriptor.zone_shape = 1;
    descriptor.vertices = {{100, 200}, {-50, 200}, {100, -25}};
    return descriptor;
}

messenger::zone_enter_event_t enter_event(messenger::zone_descriptor_t _descriptor,
                                          std::string _message = std::string()) {
    messenger::zone_enter_event_t event;
    event.zone_descriptor = std::move(_descriptor);
    event.event_message = std::move(_message);
    return event;
}

// The text without its blanks, so that expected frames can be written field by field.
std::string compact(const std::string& _spaced) {
    std::string text;
    for (const char c : _spaced) {
        if (c != ' ') {
            text += c;
        }
    }
    return text;
}
}  // namespace

TEST(hex_frame, worked_example_byte_for_byte) {
    const std::string descriptor =
        compact("0003 0011 02 01 00 01 03 00000064 000000C8 FFFFFFCE 000000C8 00000064 FFFFFFE7");
    EXPECT_EQ(hex_frame::form_zone_descriptor(example_descriptor()), descriptor);
    EXPECT_EQ(descriptor.size(), 66u);

    const std::string frame = hex_frame::form_enter(7, enter_event(example_descriptor()));
    EXPECT_EQ(frame,
              "0401002407012100030011020100010300000064000000C8FFFFFFCE000000C800000064FFFFFFE7");
    EXPECT_EQ(frame.size(), 80u);
    EXPECT_EQ(frame, compact("04 01 0024 07 01 21") + descriptor);
}

TEST(hex_frame, leave_and_ack_frames) {
    EXPECT_EQ(hex_frame::form_leave(8, 17), "040200050802020011");
    EXPECT_EQ(hex_frame::form_ack(7), "0400000107");
    EXPECT_EQ(hex_frame::form_ack(0xFF), "04000001FF");
    // The length field stays 0005 for every zone id that fits its two bytes.
    EXPECT_EQ(hex_frame::form_leave(0, 0), compact("04 02 0005 00 02 02 0000"));
    EXPECT_EQ(hex_frame::form_leave(0xAB, 65535), compact("04 02 0005 AB 02 02 FFFF"));
}

TEST(hex_frame, custom_variable_goes_after_its_length) {
    auto descriptor = example_descriptor();
    descriptor.zone_shape = 2;
    descriptor.vertices.clear();
    descriptor.custom_variable = "ABCD";
    EXPECT_EQ(hex_frame::form_zone_descriptor(descriptor),
              compact("0003 0011 02 01 02 ABCD 02 00"));
    // The payload length counts the custom variable's bytes.
    EXPECT_EQ(hex_frame::form_enter(1, enter_event(descriptor)),
              compact("04 01 000E 01 01 0B 0003 0011 02 01 02 ABCD 02 00"));
    descriptor.custom_variable.clear();
    EXPECT_EQ(hex_frame::form_zone_descriptor(descriptor), compact("0003 0011 02 01 00 02 00"));
}

TEST(hex_frame, shape_other_than_polygon_writes_no_vertices) {
    auto descriptor = example_descriptor();
    descriptor.vertices.clear();
    descriptor.zone_shape = 2;
    EXPECT_EQ(hex_frame::form_zone_descriptor(descriptor), compact("0003 0011 02 01 00 02 00"));
    EXPECT_EQ(hex_frame::form_enter(2, enter_event(descriptor)),
              compact("04 01 000C 02 01 09 0003 0011 02 01 00 02 00"));
    // The count is written for every shape; the coordinates only for a polygon.
    descriptor.vertices = {{1, 2}};
    EXPECT_EQ(hex_frame::form_zone_descriptor(descriptor), compact("0003 0011 02 01 00 02 01"));
}

TEST(hex_frame, negative_coordinates_are_twos_complement) {
    auto descriptor = example_descriptor();
    descriptor.vertices = {{-1, INT_MIN}, {INT_MAX, 0}};
    EXPECT_EQ(hex_frame::form_zone_descriptor(descriptor),
              compact("0003 0011 02 01 00 01 02 FFFFFFFF 80000000 7FFFFFFF 00000000"));
}

TEST(hex_frame, event_message_is_appended_after_its_item_tag) {
    auto descriptor = example_descriptor();
    descriptor.zone_shape = 0;
    descriptor.vertices.clear();
    EXPECT_EQ(hex_frame::form_enter(9, enter_event(descriptor, "CAFE")),
              compact("04 01 000F 09 01 09 0003 0011 02 01 00 00 00 03 CAFE"));
}

// A value wider than its field would shift every later field; such a frame is refused. The
// widest values that fit still build.
TEST(hex_frame, values_wider_than_their_field_are_refused) {
    struct case_ {
        const char* name;
        std::function<void(messenger::zone_enter_event_t&)> change;
        std::string refusal;
    };
    const std::vector<case_> cases = {
        {"area id", [](auto& _e) { _e.zone_descriptor.area_id = 0x10000; },
         "Area id 65536 does not fit in 2 bytes"},
        {"zone id", [](auto& _e) { _e.zone_descriptor.zone_id = 0x10000; },
         "Zone id 65536 does not fit in 2 bytes"},
        {"zone id read from a negative number",
         [](auto& _e) { _e.zone_descriptor.zone_id = static_cast<unsigned int>(-3); },
         "Zone id 4294967293 does not fit in 2 bytes"},
        {"zone type id", [](auto& _e) { _e.zone_descriptor.zone_type_id = 256; },
         "Zone type id 256 does not fit in 1 byte"},
        {"severity level", [](auto& _e) { _e.zone_descriptor.severity_level = 300; },
         "Severity level 300 does not fit in 1 byte"},
        {"custom variable", [](auto& _e) { _e.zone_descriptor.custom_variable.assign(512, 'A'); },
         "Custom variable length 256 does not fit in 1 byte"},
        {"zone shape", [](auto& _e) { _e.zone_descriptor.zone_shape = 257; },
         "Zone shape 257 does not fit in 1 byte"},
        {"256 vertices",
         [](auto& _e) {
             _e.zone_descriptor.vertices.assign(256, {0, 0});
         },
         "Vertex count 256 does not fit in 1 byte"},
        // 9 bytes before the vertices, 8 per vertex: 31 make 257.
        {"31 vertices",
         [](auto& _e) {
             _e.zone_descriptor.vertices.assign(31, {0, 0});
         },
         "Zone descriptor length 257 does not fit in 1 byte"},
        {"event message", [](auto& _e) { _e.event_message.assign(2 * 0xFFFF, 'B'); },
         "Payload length 65572 does not fit in 2 bytes"},
        {"widest that fit",
         [](auto& _e) {
             _e.zone_descriptor.area_id = 0xFFFF;
             _e.zone_descriptor.zone_id = 0xFFFF;
             _e.zone_descriptor.zone_type_id = 0xFF;
             _e.zone_descriptor.severity_level = 0xFF;
             _e.zone_descriptor.vertices.assign(30, {0, 0});
         },
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto event = enter_event(example_descriptor());
        c.change(event);
        EXPECT_EQ(test_support::core_error([&] { hex_frame::form_enter(5, event); }), c.refusal);
    }
    EXPECT_EQ(test_support::core_error([] { hex_frame::form_leave(1, 0x10000); }),
              "Zone id 65536 does not fit in 2 bytes");
    EXPECT_EQ(hex_frame::form_leave(1, 0xFFFF), compact("04 02 0005 01 02 02 FFFF"));
}

TEST(hex_frame, convert_hex_to_reads_up_to_the_first_non_digit) {
    EXPECT_EQ(convert_hex_to<unsigned int>("1G"), 1u);
    EXPECT_EQ(convert_hex_to<unsigned int>("ff"), 255u);
    EXPECT_EQ(convert_hex_to<unsigned int>("00FF"), 255u);
    EXPECT_EQ(convert_hex_to<unsigned int>(""), 0u);
    EXPECT_EQ(convert_hex_to<unsigned int>("zz"), 0u);
}

TEST(hex_frame, protocol_id) {
    EXPECT_TRUE(hex_frame::has_protocol_id("04"));
    EXPECT_TRUE(hex_frame::has_protocol_id("0400000107"));
    for (const char* text : {"", "0", "4", "05000001", "40"}) {
        EXPECT_FALSE(hex_frame::has_protocol_id(text)) << text;
    }
}

TEST(hex_frame, header_of_incoming_frames) {
    struct row {
        const char* hex;
        unsigned int type, length, seq_no;
    };
    for (const row& r : {
             row{"0400000107", 0, 1, 7},
             row{"04000001", 0, 1, 0},         // ends where the sequence number begins
             row{"040000010", 0, 1, 0},        // odd length: one digit of it
             row{"04000001070", 0, 1, 7},      // odd length: a digit too many
             row{"04FF00022A03", 255, 2, 42},  // refusal
             row{"04ff00022a03", 255, 2, 42},  // either case
             row{"040500012A", 5, 1, 42},
             row{"0400000207FFFF", 0, 2, 7},  // trailing bytes are not checked
         }) {
        const auto header = hex_frame::read_header(r.hex);
        ASSERT_TRUE(header) << r.hex;
        EXPECT_EQ(header->message_type, r.type) << r.hex;
        EXPECT_EQ(header->length, r.length) << r.hex;
        EXPECT_EQ(header->seq_no, r.seq_no) << r.hex;
    }
}

TEST(hex_frame, short_texts_raise_out_of_range) {
    // Each ends before a field that is read begins.
    for (const char* hex : {"04", "040", "0400", "0400000"}) {
        EXPECT_THROW(hex_frame::read_header(hex), std::out_of_range) << hex;
    }
    EXPECT_THROW(hex_frame::read_error_code("04FF0002"), std::out_of_range);
    EXPECT_THROW(hex_frame::read_error_code("04FF00022"), std::out_of_range);
    EXPECT_EQ(hex_frame::read_error_code("04FF00022A"), 0u);
    EXPECT_EQ(hex_frame::read_error_code("04FF00022A0"), 0u);
    EXPECT_EQ(hex_frame::read_error_code("04FF00022A03"), 3u);
}

TEST(hex_frame, fields_with_non_hex_characters_are_not_numbers) {
    // An unreadable type would otherwise read as 0, an acknowledgement, and a sign would
    // wrap to a huge sequence number.
    for (const char* hex : {"04ZZ000107", "04 0000107", "04-1000107", "0400 00107", "04000001-1",
                            "040000010G", "04000x0107"}) {
        EXPECT_FALSE(hex_frame::read_header(hex)) << hex;
    }
    EXPECT_FALSE(hex_frame::read_error_code("04FF00022A-3"));
}
