#include "message_stream_zmq.hpp"

#include <utility>

namespace tvk {
namespace libs {
namespace core {

namespace {

// Only ASCII letters: the locale's classification must not decide the wire prefix, and the
// byte may be negative as a char.
bool is_ascii_letter(char _c) {
    return (_c >= 'A' && _c <= 'Z') || (_c >= 'a' && _c <= 'z');
}

}  // namespace

message_stream_zmq::message_stream_zmq(boost::asio::io_context& _io_context,
                                       const component_logger& _logger, const std::string& _address)
    : m_stream_zmq_raw(_io_context, _logger, _address) {}

std::string message_stream_zmq::make_topic(boost::string_view _channel) {
    std::string topic(_channel);
    if (!topic.empty() && is_ascii_letter(topic.front())) {
        topic.insert(topic.begin(), '#');
    }
    return topic;
}

boost::string_view message_stream_zmq::json_part(boost::string_view _frame) {
    const auto brace = _frame.find('{');
    return brace == boost::string_view::npos ? boost::string_view() : _frame.substr(brace);
}

message_stream::subscription::ptr message_stream_zmq::subscribe(boost::string_view _channel,
                                                                callback _callback) {
    return m_stream_zmq_raw.subscribe(make_topic(_channel),
                                      [callback = std::move(_callback)](boost::string_view _frame) {
                                          const auto json = json_part(_frame);
                                          if (!json.empty()) {
                                              callback(json);
                                          }
                                      });
}

std::chrono::steady_clock::time_point message_stream_zmq::read_until() {
    return m_stream_zmq_raw.read_until();
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
