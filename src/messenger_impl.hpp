#pragma once

#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <string>

#include "core/http/client.hpp"
#include "core/logger.hpp"
#include "core/message_stream.hpp"
#include "hex_frame.hpp"
#include "messenger.hpp"

namespace tvk {

// Posts frames to the location server's "/api/v2/private/user_msg/" and reads the devices'
// "user_msg" frames and "notify" life signs from the message stream. Runs on the events-loop
// thread; a send blocks it for the duration of its HTTP request.
class messenger_impl : public messenger {
public:
    // Subscribes "user_msg", then "notify", on _stream.
    messenger_impl(libs::core::message_stream& _stream, libs::core::http::client& _http_client,
                   libs::core::logger& _logger);
    ~messenger_impl() override;

    messenger_impl(const messenger_impl&) = delete;
    messenger_impl& operator=(const messenger_impl&) = delete;

    void set_on_reboot(on_reboot_callback _callback) override;
    void set_on_heartbeat(on_heartbeat_callback _callback) override;
    void set_on_ack(on_ack_callback _callback) override;
    void set_on_nack(on_nack_callback _callback) override;
    void set_on_register_tag(on_register_tag_callback _callback) override;

    bool send_ack(const std::string& _uid, unsigned int _seq_no) const override;
    bool send_enter_zone_event(const std::string& _uid, const zone_enter_event_t& _event) override;
    bool send_leave_zone_event(const std::string& _uid, unsigned int _zone_id) override;

    std::chrono::steady_clock::time_point answers_read_until() override;

    unsigned char get_last_sequence_number() const override;
    unsigned char get_new_sequence_number() override;

private:
    void handle_user_msg(boost::string_view _text);
    void handle_notify(boost::string_view _text);
    bool send_user_msg(const std::string& _uid, const std::string& _hex) const;

    libs::core::message_stream::subscription::ptr m_user_msg_subscription;
    libs::core::message_stream::subscription::ptr m_notify_subscription;
    libs::core::message_stream& m_stream;
    libs::core::http::client& m_http_client;
    libs::core::logger& m_logger;
    unsigned char m_sequence_number = 0;
    boost::optional<on_reboot_callback> m_on_reboot_callback;
    boost::optional<on_heartbeat_callback> m_on_heartbeat_callback;
    boost::optional<on_ack_callback> m_on_ack_callback;
    boost::optional<on_nack_callback> m_on_nack_callback;
    boost::optional<on_register_tag_callback> m_on_register_tag_callback;
};

}  // namespace tvk
