#pragma once

#include <boost/asio/io_context.hpp>
#include <string>

#include "message_stream_zmq_raw.hpp"

namespace tvk {
namespace libs {
namespace core {

// The JSON stream: a topic "notify" is the prefix "#notify", and callbacks get the frame from
// its first "{" on; frames without "{" are dropped.
class message_stream_zmq : public message_stream {
public:
    message_stream_zmq(boost::asio::io_context& _io_context, const component_logger& _logger,
                       const std::string& _address);

    subscription::ptr subscribe(boost::string_view _channel, callback _callback) override;
    std::chrono::steady_clock::time_point read_until() override;

    // The raw prefix of a topic: "#" before a topic that begins with an ASCII letter.
    static std::string make_topic(boost::string_view _channel);
    // The text from the first "{" on; empty when there is none.
    static boost::string_view json_part(boost::string_view _frame);

private:
    message_stream_zmq_raw m_stream_zmq_raw;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
