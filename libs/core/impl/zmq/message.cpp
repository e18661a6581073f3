#include "core/zmq/message.hpp"

#include <cstring>
#include <new>

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

namespace {

// A heap zmq_msg_t initialised by _init; std::bad_alloc when libzmq cannot allocate the data.
template <class Init>
std::unique_ptr<zmq_msg_t, message_deleter> make_message(Init&& _init) {
    std::unique_ptr<zmq_msg_t> raw(new zmq_msg_t);
    if (_init(raw.get()) != 0) {
        throw std::bad_alloc();
    }
    return std::unique_ptr<zmq_msg_t, message_deleter>(raw.release());
}

}  // namespace

void message_deleter::operator()(zmq_msg_t* _message) const noexcept {
    zmq_msg_close(_message);
    delete _message;
}

message::message() : m_message(make_message([](zmq_msg_t* _m) { return zmq_msg_init(_m); })) {}

message::message(boost::string_view _data)
    : m_message(make_message([&](zmq_msg_t* _m) { return zmq_msg_init_size(_m, _data.size()); })) {
    if (!_data.empty()) {
        std::memcpy(zmq_msg_data(m_message.get()), _data.data(), _data.size());
    }
}

message::message(std::size_t _size)
    : m_message(make_message([&](zmq_msg_t* _m) { return zmq_msg_init_size(_m, _size); })) {}

message::message(message&& _other) noexcept = default;

message& message::operator=(message&& _other) noexcept = default;

// A moved-from message holds no zmq_msg_t: it reads as an empty part.
const void* message::data() const noexcept {
    return m_message ? zmq_msg_data(m_message.get()) : nullptr;
}

void* message::data() noexcept {
    return m_message ? zmq_msg_data(m_message.get()) : nullptr;
}

std::size_t message::size() const noexcept {
    return m_message ? zmq_msg_size(m_message.get()) : 0;
}

boost::string_view message::string_view() const noexcept {
    return m_message ? boost::string_view(static_cast<const char*>(data()), size())
                     : boost::string_view();
}

bool message::more() const noexcept {
    return m_message && zmq_msg_more(m_message.get()) != 0;
}

zmq_msg_t* message::handle() {
    if (!m_message) {
        m_message = make_message([](zmq_msg_t* _m) { return zmq_msg_init(_m); });
    }
    return m_message.get();
}

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
