#pragma once

#include <boost/utility/string_view.hpp>
#include <functional>
#include <memory>

namespace tvk {
namespace libs {
namespace core {

// A receive-only subscription endpoint of a ZeroMQ stream. Every frame goes to the callbacks
// of the first subscribed topic, in byte-wise order, of which the frame is an extension.
class message_stream {
public:
    using ptr = std::unique_ptr<message_stream>;
    // Gets the frame text; the view is valid during the call only. One that throws keeps the
    // frame from none of the later callbacks; the events loop gets the exception once the frame
    // is done, as one that escapes a handler.
    using callback = std::function<void(boost::string_view)>;

    // One subscription; its callback is called only while this handle lives.
    class subscription {
    public:
        using ptr = std::unique_ptr<subscription>;
        virtual ~subscription() = default;
    };

    virtual ~message_stream() = default;

    // Subscribes _callback to _channel; raises boost::system::system_error when the socket
    // refuses the subscription. Call on the events-loop thread.
    virtual subscription::ptr subscribe(boost::string_view _channel, callback _callback) = 0;
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
