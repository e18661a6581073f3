#include "frame_text.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "hex_frame.hpp"

namespace {
using quillmere_sim::decode;
using quillmere_sim::describe;

// Every field of a descriptor, for comparing two.
std::string fields_of(const tvk::messenger::zone_descriptor_t& _descriptor) {
    std::ostringstream text;
    text << _descriptor.area_id << " " << _descriptor.zone_id << " " << _descriptor.zone_type_id
         << " " << _descriptor.severity_level << " [" << _descriptor.custom_variable << "] "
         << _descriptor.zone_shape;
    for (const auto& vertex : _descriptor.vertices) {
        text << " (" << vertex.first << "," << vertex.second << ")";
    }
    return text.str();
}

TEST(sim_frame_text, reads_every_field_of_an_enter_frame) {
    tvk::messenger::zone_descriptor_t expected;
    expected.area_id = 3;
    expected.zone_id = 17;
    expected.zone_type_id = 2;
    expected.severity_level = 1;
    expected.zone_shape = 1;
    expected.vertices = {{100, 200}, {-50, 200}, {100, -25}};
    const auto frame =
        decode("0401002407012100030011020100010300000064000000C8FFFFFFCE000000C800000064FFFFFFE7");
    ASSERT_TRUE(frame.valid);
    EXPECT_EQ(frame.type, 1u);
    EXPECT_EQ(frame.seq_no, 7u);
    EXPECT_EQ(fields_of(frame.notice.zone_descriptor), fields_of(expected));
    EXPECT_EQ(frame.notice.event_message, "");
    EXPECT_EQ(describe(frame, {{17, "loading-bay"}}),
              "ZONE_ENTER seq 07, zone 17 loading-bay, area 3, type 2, severity 1, polygon "
              "(100,200) (-50,200) (100,-25)");
}

TEST(sim_frame_text, reads_back_what_the_service_builds) {
    tvk::messenger::zone_enter_event_t event;
    event.zone_descriptor.area_id = 65535;
    event.zone_descriptor.zone_id = 300;
    event.zone_descriptor.zone_type_id = 9;
    event.zone_descriptor.severity_level = 4;
    event.zone_descriptor.custom_variable = "ABCD";
    event.zone_descriptor.zone_shape = 2;
    event.event_message = "C0FFEE";
    const auto frame = decode(tvk::hex_frame::form_enter(0xFE, event));
    ASSERT_TRUE(frame.valid);
    EXPECT_EQ(frame.seq_no, 0xFEu);
    EXPECT_EQ(fields_of(frame.notice.zone_descriptor), fields_of(event.zone_descriptor));
    EXPECT_EQ(frame.notice.event_message, "C0FFEE");
    EXPECT_EQ(describe(frame),
              "ZONE_ENTER seq FE, zone 300, area 65535, type 9, severity 4, custom ABCD, "
              "shape 2 (no vertices), message C0FFEE");
}

TEST(sim_frame_text, reads_the_other_kinds) {
    struct case_t {
        std::string hex;
        std::string text;
    };
    const case_t cases[] = {
        {"040200050802020011", "ZONE_LEAVE seq 08, zone 17"},
        {"0400000107", "ACK seq 07"},
        {quillmere_sim::ack_frame(0x2A), "ACK seq 2A"},
        {quillmere_sim::register_tag_frame(1), "REGISTER_TAG seq 01"},
        {quillmere_sim::nack_frame(0x2A, 3), "NACK seq 2A, error 03"},
        {"04ff00022a03", "NACK seq 2A, error 03"},
        {"0409000101", "type 0x9 seq 01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(decode(c.hex)), c.text) << c.hex;
    }
}

TEST(sim_frame_text, a_cut_or_garbled_frame_is_not_read_as_one) {
    const std::string enter =
        "0401002407012100030011020100010300000064000000C8FFFFFFCE000000C800000064FFFFFFE7";
    for (std::size_t size = 0; size < enter.size(); ++size) {
        EXPECT_FALSE(decode(enter.substr(0, size)).valid) << size;
    }
    const std::string bad[] = {"050200050802020011", "04020005080202001G", "0402000508020200110",
                               "040200050803020011", "0401000C010109000300120201000101"};
    for (const auto& hex : bad) {
        EXPECT_FALSE(decode(hex).valid) << hex;
        EXPECT_EQ(describe(decode(hex)), "not a frame of a known layout");
    }
}

}  // namespace
