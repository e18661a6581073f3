#pragma once

#include <zmq.h>

#include <boost/utility/string_view.hpp>
#include <cstddef>
#include <memory>
#include <string>

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

// Closes and frees a heap-held zmq_msg_t.
struct message_deleter {
    void operator()(zmq_msg_t* _message) const noexcept;
};

// One ZeroMQ message part. Move-only; moving passes the part on without copying its bytes and
// leaves the source an empty part.
class message {
public:
    // An empty part.
    message();
    // A part holding a copy of _data.
    explicit message(boost::string_view _data);
    // A part of _size uninitialised bytes.
    explicit message(std::size_t _size);

    message(message&& _other) noexcept;
    message& operator=(message&& _other) noexcept;
    message(const message&) = delete;
    message& operator=(const message&) = delete;
    ~message() = default;

    const void* data() const noexcept;
    void* data() noexcept;
    std::size_t size() const noexcept;
    bool empty() const noexcept { return size() == 0; }

    // A view of the bytes, valid while this message lives and is not changed.
    boost::string_view string_view() const noexcept;
    std::string string() const { return std::string(string_view()); }

    // Whether more parts of the same message follow this received one (ZMQ_MORE).
    bool more() const noexcept;

    // The libzmq message, for zmq_msg_send and zmq_msg_recv; std::bad_alloc when a moved-from
    // message cannot be given a fresh one.
    zmq_msg_t* handle();

private:
    std::unique_ptr<zmq_msg_t, message_deleter> m_message;
};

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
