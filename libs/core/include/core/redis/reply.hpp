#pragma once

#include <hiredis/hiredis.h>

#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "core/exception.hpp"
#include "core/redis/reply_type.hpp"
#include "core/stl.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

static_assert(static_cast<int>(reply_type::STRING) == REDIS_REPLY_STRING &&
                  static_cast<int>(reply_type::ARRAY) == REDIS_REPLY_ARRAY &&
                  static_cast<int>(reply_type::INTEGER) == REDIS_REPLY_INTEGER &&
                  static_cast<int>(reply_type::NIL) == REDIS_REPLY_NIL &&
                  static_cast<int>(reply_type::STATUS) == REDIS_REPLY_STATUS &&
                  static_cast<int>(reply_type::ERROR) == REDIS_REPLY_ERROR,
              "reply_type follows hiredis's codes");

class reply_array;

// A view of one reply, or of one element of an array reply; valid while the reply that owns
// it lives. The readers raise tvk::libs::core::exception for a reply of another type.
class reply_element {
public:
    explicit reply_element(const redisReply& _reply) : m_reply(_reply) {}
    reply_element(const reply_element&) = default;
    reply_element& operator=(const reply_element&) = default;
    virtual ~reply_element() = default;

    reply_type get_type() const { return static_cast<reply_type>(m_reply.get().type); }

    // The text of a string, status or error reply (zero bytes included); empty otherwise.
    boost::optional<boost::string_view> try_string_view() const;
    boost::string_view as_string_view() const;
    std::string to_string() const;
    // The elements of an array reply.
    reply_array as_array() const;
    // The number of an integer reply.
    long long to_long_long() const;
    // The same, raising when it does not fit an int.
    int to_int() const;

private:
    std::reference_wrapper<const redisReply> m_reply;
};

// Owns a whole hiredis reply; movable, not copyable.
class reply : public reply_element {
public:
    // Takes _reply, which must not be null; it is freed with the reply.
    explicit reply(redisReply* _reply) : reply_element(checked(_reply)), m_reply(_reply) {}
    reply(reply&&) = default;
    reply& operator=(reply&&) = default;
    ~reply() override = default;

private:
    struct reply_deleter {
        void operator()(redisReply* _reply) const { freeReplyObject(_reply); }
    };

    static const redisReply& checked(const redisReply* _reply) {
        TVK_CHECK(_reply != nullptr);
        return *_reply;
    }

    std::unique_ptr<redisReply, reply_deleter> m_reply;
};

// A view of the elements of an array reply.
class reply_array {
public:
    using callback = std::function<bool(const reply_element&)>;

    reply_array(redisReply** _data, std::size_t _size) : m_data(_data), m_size(_size) {}

    // Raises "Index out of range" for an index at or beyond the size.
    reply_element operator[](std::size_t _index) const {
        if (_index >= m_size) {
            TVK_THROW("Index out of range");
        }
        return reply_element(*m_data[_index]);
    }

    std::size_t size() const { return m_size; }

    // Calls _callback for each element in order until it returns false.
    iteration_result for_each_element(const callback& _callback) const {
        for (std::size_t i = 0; i < m_size; ++i) {
            if (!_callback(reply_element(*m_data[i]))) {
                return iteration_result::interrupted;
            }
        }
        return iteration_result::finished;
    }

private:
    redisReply** m_data;
    std::size_t m_size;
};

inline boost::optional<boost::string_view> reply_element::try_string_view() const {
    switch (get_type()) {
        case reply_type::STRING:
        case reply_type::STATUS:
        case reply_type::ERROR:
            return boost::string_view(m_reply.get().str, m_reply.get().len);
        default:
            return boost::none;
    }
}

inline boost::string_view reply_element::as_string_view() const {
    const auto text = try_string_view();
    if (!text) {
        TVK_THROW("Reply is not string, actual type: " + redis::to_string(get_type()).to_string());
    }
    return *text;
}

inline std::string reply_element::to_string() const {
    return as_string_view().to_string();
}

inline reply_array reply_element::as_array() const {
    if (get_type() != reply_type::ARRAY) {
        TVK_THROW("Reply is not array, actual type: " + redis::to_string(get_type()).to_string());
    }
    return reply_array(m_reply.get().element, m_reply.get().elements);
}

inline long long reply_element::to_long_long() const {
    if (get_type() != reply_type::INTEGER) {
        TVK_THROW("Reply is not integer, actual type: " + redis::to_string(get_type()).to_string());
    }
    return m_reply.get().integer;
}

inline int reply_element::to_int() const {
    const long long value = to_long_long();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        TVK_THROW("Reply is out of int range: " + std::to_string(value));
    }
    return static_cast<int>(value);
}

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
