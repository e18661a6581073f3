#include "devices.hpp"

#include <gtest/gtest.h>

#include "hex_frame.hpp"

namespace {
using quillmere_sim::reply;

std::string leave(unsigned int _seq_no, unsigned int _zone_id) {
    return tvk::hex_frame::form_leave(_seq_no, _zone_id);
}

TEST(sim_devices, answer_notices_as_planned_then_acknowledge) {
    quillmere_sim::devices devices;
    devices.add("tag-1", "00:00:00:00:00:01");
    devices.plan("tag-1", reply::ignore);
    devices.plan("tag-1", reply::refuse);

    const auto missed = devices.take("tag-1", leave(1, 17));
    EXPECT_TRUE(missed.known_device);
    EXPECT_FALSE(missed.answered);
    EXPECT_FALSE(missed.resend);
    EXPECT_EQ(missed.answer_hex, "");

    const auto refused = devices.take("tag-1", leave(2, 17));
    EXPECT_TRUE(refused.resend) << "the frame before went unanswered";
    EXPECT_TRUE(refused.answered);
    EXPECT_EQ(refused.answer_hex, "04FF00020201");

    const auto acknowledged = devices.take("tag-1", leave(3, 17));
    EXPECT_FALSE(acknowledged.resend) << "the frame before was answered";
    EXPECT_EQ(acknowledged.answer_hex, "0400000103");
}

TEST(sim_devices, resends_are_told_per_kind_and_zone) {
    quillmere_sim::devices devices;
    devices.add("tag-1", "00:00:00:00:00:01");
    devices.plan("tag-1", reply::ignore);
    devices.take("tag-1", leave(1, 17));
    EXPECT_FALSE(devices.take("tag-1", leave(2, 18)).resend);
    EXPECT_TRUE(devices.take("tag-1", leave(3, 17)).resend);
}

TEST(sim_devices, number_their_own_frames_and_take_acknowledgements_silently) {
    quillmere_sim::devices devices;
    devices.add("tag-1", "00:00:00:00:00:01");
    EXPECT_EQ(devices.register_tag("tag-1"), "0405000101");
    EXPECT_EQ(devices.register_tag("tag-1"), "0405000102");
    const auto ack = devices.take("tag-1", "0400000102");
    EXPECT_TRUE(ack.frame.valid);
    EXPECT_EQ(ack.answer_hex, "");

    const auto stranger = devices.take("tag-9", leave(4, 17));
    EXPECT_FALSE(stranger.known_device);
    EXPECT_EQ(stranger.answer_hex, "");
}

}  // namespace
