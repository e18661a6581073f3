#include "redis/reply.hpp"

#include "core/exception.hpp"

namespace tvk {
namespace redis {

namespace {
const redisReply& checked(const redisReply* _reply) {
    if (_reply == nullptr) {
        TVK_THROW("Reply is null");
    }
    return *_reply;
}
}  // namespace

reply_type reply_element::get_type() const {
    return static_cast<reply_type>(m_element.get().type);
}

std::string reply_element::to_string() const {
    const redisReply& element = m_element.get();
    switch (get_type()) {
        case reply_type::STRING:
        case reply_type::STATUS:
        case reply_type::ERROR:
            return std::string(element.str, element.len);
        default:
            TVK_THROW("Reply is not string, actual type: " + redis::to_string(get_type()));
    }
}

long long reply_element::to_integer() const {
    if (get_type() != reply_type::INTEGER) {
        TVK_THROW("Reply is not integer, actual type: " + redis::to_string(get_type()));
    }
    return m_element.get().integer;
}

reply_array reply_element::as_array() const {
    if (get_type() != reply_type::ARRAY) {
        TVK_THROW("Reply is not array, actual type: " + redis::to_string(get_type()));
    }
    return reply_array(m_element.get().element, m_element.get().elements);
}

reply::reply(redisReply* _reply) : reply_element(checked(_reply)), m_reply_ptr(_reply) {}

reply_element reply_array::operator[](std::size_t _index) const {
    if (_index >= m_size) {
        TVK_THROW("Index out of range");
    }
    return reply_element(checked(m_data[_index]));
}

bool reply_array::for_each_element(const callback& _callback) const {
    for (std::size_t i = 0; i < m_size; ++i) {
        if (!_callback((*this)[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace redis
}  // namespace tvk
