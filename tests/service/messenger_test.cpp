// The messenger over stand-ins of the message stream and the HTTP client: no sockets.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/logger.hpp"
#include "messenger_impl.hpp"
#include "stream_and_client_stand_ins.hpp"

using tvk::messenger;
using tvk::messenger_impl;
using tvk::libs::core::logger;
using tvk::libs::core::timestamp;
namespace http = tvk::libs::core::http;
using service_test::fake_client;
using service_test::fake_stream;

namespace {

const std::string ack_of_7 = R"({"hex":"0400000107","dev_id":"d","mac":"m","ts":1,"ms":2})";

class messenger_alone : public ::testing::Test {
protected:
    logger m_logger{"quillmere", "main"};
    fake_stream m_stream;
    fake_client m_client;
    std::unique_ptr<messenger_impl> m_messenger =
        std::make_unique<messenger_impl>(m_stream, m_client, m_logger);
};

}  // namespace

TEST_F(messenger_alone, subscribes_user_msg_then_notify_for_its_lifetime) {
    EXPECT_EQ(m_stream.m_topics, (std::vector<std::string>{"user_msg", "notify"}));
    EXPECT_EQ(m_stream.live_subscriptions(), 2u);
    m_messenger.reset();
    EXPECT_EQ(m_stream.live_subscriptions(), 0u);
    m_stream.deliver("user_msg", ack_of_7);  // reaches nobody
}

TEST_F(messenger_alone, one_sequence_counter_wraps_from_255_to_0) {
    EXPECT_EQ(m_messenger->get_last_sequence_number(), 0);
    messenger::zone_enter_event_t event;
    event.zone_descriptor.zone_id = 17;
    ASSERT_TRUE(m_messenger->send_enter_zone_event("a", event));
    EXPECT_EQ(m_messenger->get_last_sequence_number(), 1);
    ASSERT_TRUE(m_messenger->send_leave_zone_event("b", 17));
    EXPECT_EQ(m_messenger->get_last_sequence_number(), 2);
    // Acknowledgements repeat the device's number and take none.
    ASSERT_TRUE(m_messenger->send_ack("a", 0x42));
    EXPECT_EQ(m_messenger->get_last_sequence_number(), 2);

    for (int i = 3; i <= 255; ++i) {
        ASSERT_TRUE(i % 2 ? m_messenger->send_enter_zone_event("a", event)
                          : m_messenger->send_leave_zone_event("b", 17));
    }
    EXPECT_EQ(m_messenger->get_last_sequence_number(), 255);
    ASSERT_TRUE(m_messenger->send_leave_zone_event("b", 17));
    EXPECT_EQ(m_messenger->get_last_sequence_number(), 0);
    EXPECT_EQ(m_messenger->get_new_sequence_number(), 1);

    const auto frames = m_client.frames();
    ASSERT_EQ(frames.size(), 257u);
    EXPECT_EQ(frames[0].substr(8, 2), "01");
    EXPECT_EQ(frames[1], "040200050202020011");
    EXPECT_EQ(frames[2], "0400000142");
    EXPECT_EQ(frames[255].substr(8, 2), "FF");
    EXPECT_EQ(frames[256], "040200050002020011");
}

TEST_F(messenger_alone, top_level_values_other_than_objects_raise_out_of_the_handler) {
    unsigned int acks = 0;
    m_messenger->set_on_ack([&](const std::string&, unsigned int, timestamp) { ++acks; });
    for (const char* text : {"[1,2]", "\"text\"", "5", "true"}) {
        EXPECT_THROW(m_stream.deliver("user_msg", text), std::exception) << text;
        EXPECT_THROW(m_stream.deliver("notify", text), std::exception) << text;
    }
    // A top-level null reads as an object without members.
    m_stream.deliver("user_msg", "null");
    m_stream.deliver("notify", "null");
    m_stream.deliver("user_msg", ack_of_7);
    EXPECT_EQ(acks, 1u);
}

TEST_F(messenger_alone, empty_callbacks_count_as_unset_and_registration_is_still_acknowledged) {
    m_messenger->set_on_ack(nullptr);
    m_messenger->set_on_nack(nullptr);
    m_messenger->set_on_register_tag(nullptr);
    m_messenger->set_on_reboot(nullptr);
    m_stream.deliver("user_msg", ack_of_7);
    m_stream.deliver("user_msg", R"({"hex":"04FF00020703","dev_id":"d","mac":"m","ts":1,"ms":2})");
    m_stream.deliver("user_msg", R"({"hex":"040500012A","dev_id":"d","mac":"m","ts":1,"ms":2})");
    m_stream.deliver("notify", R"({"action":"NA","dev_id":"d"})");
    EXPECT_EQ(m_client.frames(), (std::vector<std::string>{"040000012A"}));
}

TEST_F(messenger_alone, a_callback_may_replace_itself_while_it_runs) {
    std::vector<unsigned int> seen;
    m_messenger->set_on_ack([&](const std::string&, unsigned int _seq_no, timestamp) {
        seen.push_back(_seq_no);
        m_messenger->set_on_ack(
            [&](const std::string&, unsigned int, timestamp) { seen.push_back(1000); });
        // Still safe to use what this callback captured.
        seen.push_back(_seq_no + 1);
    });
    m_stream.deliver("user_msg", ack_of_7);
    m_stream.deliver("user_msg", ack_of_7);
    EXPECT_EQ(seen, (std::vector<unsigned int>{7, 8, 1000}));
}
