#pragma once

#include <boost/asio/io_context.hpp>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/logger.hpp"
#include "core/message_stream.hpp"
#include "core/zmq/asio_socket.hpp"

namespace tvk {
namespace libs {
namespace core {

// A SUB socket whose topics are raw ZeroMQ prefixes; callbacks get the whole frame.
class message_stream_zmq_raw : public message_stream {
public:
    using callbacks_vector = std::vector<std::weak_ptr<callback>>;
    using callbacks_map = std::map<std::string, callbacks_vector>;

    // Connects to _address and starts receiving; raises boost::system::system_error when the
    // socket cannot be made or connected.
    message_stream_zmq_raw(boost::asio::io_context& _io_context, const component_logger& _logger,
                           const std::string& _address);
    ~message_stream_zmq_raw() override;

    subscription::ptr subscribe(boost::string_view _channel, callback _callback) override;
    std::chrono::steady_clock::time_point read_until() override;

    // Routes one frame to the first key of _callbacks that it extends. Each of its callbacks is
    // called, also after one that throws; returns what they threw, in their order.
    static std::vector<std::exception_ptr> process_message(callbacks_map& _callbacks,
                                                           boost::string_view _frame);

private:
    void setup_receive();

    std::shared_ptr<callbacks_map> m_callbacks;
    zmq::asio_socket m_socket;
    const component_logger& m_logger;
    // A failed receive ended the loop: nothing more is read.
    bool m_receive_failed = false;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
