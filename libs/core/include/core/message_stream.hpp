#pragma once

#include <boost/utility/string_view.hpp>
#include <chrono>
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

    // The latest time up to which every frame that reached the stream has been handed to its
    // callbacks, or is being handed by the handler running now; a frame that came later may
    // still wait unread. One that hands each frame on as it comes has read everything: now.
    virtual std::chrono::steady_clock::time_point read_until() {
        return std::chrono::steady_clock::now();
    }
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
