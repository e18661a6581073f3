#include "messenger_impl.hpp"

#include <boost/algorithm/string/case_conv.hpp>
#include <chrono>
#include <cstdint>
#include <utility>

#include "core/exception.hpp"
#include "core/json.hpp"

namespace tvk {

namespace {
const char* const user_msg_path = "/api/v2/private/user_msg/";

// Calls a callback that is set and not empty. It is called through a copy, so that it may
// replace itself while it runs.
template <class Callback, class... Args>
void call(const boost::optional<Callback>& _callback, Args&&... _args) {
    if (!_callback || !*_callback) {
        return;
    }
    const Callback callback = *_callback;
    callback(std::forward<Args>(_args)...);
}
}  // namespace

messenger_impl::messenger_impl(libs::core::message_stream& _stream,
                               libs::core::http::client& _http_client, libs::core::logger& _logger)
    : m_stream(_stream), m_http_client(_http_client), m_logger(_logger) {
    m_user_msg_subscription =
        _stream.subscribe("user_msg", [this](boost::string_view _text) { handle_user_msg(_text); });
    m_notify_subscription =
        _stream.subscribe("notify", [this](boost::string_view _text) { handle_notify(_text); });
}

// The members go in reverse order: the callbacks, then the "notify" subscription, then the
// "user_msg" one.
messenger_impl::~messenger_impl() = default;

void messenger_impl::set_on_reboot(on_reboot_callback _callback) {
    m_on_reboot_callback = std::move(_callback);
}

void messenger_impl::set_on_heartbeat(on_heartbeat_callback _callback) {
    m_on_heartbeat_callback = std::move(_callback);
}

void messenger_impl::set_on_ack(on_ack_callback _callback) {
    m_on_ack_callback = std::move(_callback);
}

void messenger_impl::set_on_nack(on_nack_callback _callback) {
    m_on_nack_callback = std::move(_callback);
}

void messenger_impl::set_on_register_tag(on_register_tag_callback _callback) {
    m_on_register_tag_callback = std::move(_callback);
}

bool messenger_impl::send_ack(const std::string& _uid, unsigned int _seq_no) const {
    const auto scope = m_logger.enter_scope("Ack for " + libs::core::cut_for_log(_uid));
    return send_user_msg(_uid, hex_frame::form_ack(_seq_no));
}

bool messenger_impl::send_enter_zone_event(const std::string& _uid,
                                           const zone_enter_event_t& _event) {
    const auto scope = m_logger.enter_scope("Zone event for " + libs::core::cut_for_log(_uid));
    const unsigned int seq_no = get_new_sequence_number();
    return send_user_msg(_uid, hex_frame::form_enter(seq_no, _event));
}

bool messenger_impl::send_leave_zone_event(const std::string& _uid, unsigned int _zone_id) {
    const auto scope =
        m_logger.enter_scope("Leave zone event for " + libs::core::cut_for_log(_uid));
    const unsigned int seq_no = get_new_sequence_number();
    return send_user_msg(_uid, hex_frame::form_leave(seq_no, _zone_id));
}

std::chrono::steady_clock::time_point messenger_impl::answers_read_until() {
    return m_stream.read_until();
}

unsigned char messenger_impl::get_last_sequence_number() const {
    return m_sequence_number;
}

unsigned char messenger_impl::get_new_sequence_number() {
    return ++m_sequence_number;
}

bool messenger_impl::send_user_msg(const std::string& _uid, const std::string& _hex) const {
    m_logger.debug("To BRUQ %1%: %2%") % libs::core::cut_for_log(_uid) %
        libs::core::cut_for_log(_hex);
    Json::Value body(Json::objectValue);
    body["uid"] = _uid;
    body["data"]["hex"] = _hex;
    const std::string text = libs::core::json::to_string(body);
    const auto result =
        m_http_client.perform_request(libs::core::http::method::post, user_msg_path, text);
    if (!result.ok()) {
        // An empty answer body counts as no text.
        const auto error = result.error();
        m_logger.error("%1%").location(TVK_SOURCE_LOCATION) %
            (error && !error->empty() ? libs::core::cut_for_log(*error) : std::string("Error"));
        m_logger.error("user_msg: %1%") % libs::core::cut_for_log(text);
        return false;
    }
    return true;
}

void messenger_impl::handle_user_msg(boost::string_view _text) {
    const auto parse_result = libs::core::json::try_parse(_text);
    TVK_CHECK(parse_result.ok);
    // A top-level array, string, number or boolean raises jsoncpp's own error here, which
    // the events loop logs like any other.
    const Json::Value& message = parse_result.result;
    const Json::Value& hex_member = message["hex"];
    if (!hex_member.isString()) {
        return;
    }
    const std::string hex = boost::algorithm::to_upper_copy(hex_member.asString());
    const Json::Value& dev_id = message["dev_id"];
    if (!dev_id.isString()) {
        return;
    }
    if (!hex_frame::has_protocol_id(hex)) {
        return;
    }
    const std::string uid = dev_id.asString();
    const auto scope = m_logger.enter_scope("From BRUQ " + libs::core::cut_for_log(uid) + ": " +
                                            libs::core::cut_for_log(hex));

    const Json::Value& mac = message["mac"];
    const Json::Value& ts = message["ts"];
    const Json::Value& ms = message["ms"];
    if (!mac.isString() || !ts.isInt() || !ms.isInt()) {
        return;
    }
    // Signed arithmetic: a negative "ms" moves the time back instead of wrapping around.
    const libs::core::timestamp time(std::chrono::milliseconds(
        static_cast<std::int64_t>(ts.asInt()) * 1000 + static_cast<std::int64_t>(ms.asInt())));

    // Raises std::out_of_range for a text that ends before a field; the events loop logs it.
    const auto header = hex_frame::read_header(hex);
    if (!header) {
        m_logger.debug("Not a hexadecimal frame");
        return;
    }
    switch (header->message_type) {
        case ACK: {
            if (header->length != 1) {
                m_logger.debug("Wrong lengh");
                return;
            }
            call(m_on_ack_callback, uid, header->seq_no, time);
            return;
        }
        case REGISTER_TAG: {
            if (header->length != 1) {
                m_logger.debug("Wrong lengh");
                return;
            }
            // Acknowledged whether or not anybody listens.
            send_ack(uid, header->seq_no);
            call(m_on_register_tag_callback, uid, mac.asString(), time);
            return;
        }
        case NACK: {
            if (header->length != 2) {
                m_logger.debug("Wrong lengh");
                return;
            }
            if (!m_on_nack_callback || !*m_on_nack_callback) {
                return;
            }
            const auto error_code = hex_frame::read_error_code(hex);
            if (!error_code) {
                m_logger.debug("Not a hexadecimal frame");
                return;
            }
            call(m_on_nack_callback, uid, header->seq_no, *error_code, time);
            return;
        }
        default:
            m_logger.debug("Unknown Message type %1$#x") % header->message_type;
            return;
    }
}

void messenger_impl::handle_notify(boost::string_view _text) {
    const auto parse_result = libs::core::json::try_parse(_text);
    TVK_CHECK(parse_result.ok);
    const Json::Value& message = parse_result.result;
    const Json::Value& action = message["action"];
    const Json::Value& dev_id = message["dev_id"];
    if (!action.isString() || !dev_id.isString()) {
        return;
    }
    const std::string name = action.asString();
    const std::string uid = dev_id.asString();
    if (name == "NA") {
        call(m_on_reboot_callback, uid);
    } else if (name == "HB") {
        call(m_on_heartbeat_callback, uid);
    }
}

}  // namespace tvk
