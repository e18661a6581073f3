#pragma once

#include <hiredis/hiredis.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "redis/reply_type.hpp"

namespace tvk {
namespace redis {

class reply_array;

// A view of one hiredis reply, read with type checks. Never null; valid as long as the
// reply that owns it.
class reply_element {
public:
    explicit reply_element(const redisReply& _element) : m_element(_element) {}
    virtual ~reply_element() = default;
    reply_element(const reply_element&) = default;
    reply_element& operator=(const reply_element&) = default;

    reply_type get_type() const;
    // The text of a string, status or error reply, zero bytes included; raises for the others.
    std::string to_string() const;
    // Raises unless the reply is an integer.
    long long to_integer() const;
    // The elements of an array reply; raises for the others.
    reply_array as_array() const;

private:
    std::reference_wrapper<const redisReply> m_element;
};

// Owns a top-level hiredis reply and frees it when destroyed.
class reply : public reply_element {
public:
    // Takes ownership of _reply, which must not be null.
    explicit reply(redisReply* _reply);
    ~reply() override = default;
    reply(reply&&) = default;
    reply& operator=(reply&&) = default;
    reply(const reply&) = delete;
    reply& operator=(const reply&) = delete;

private:
    struct reply_deleter {
        void operator()(redisReply* _reply) const noexcept { freeReplyObject(_reply); }
    };

    std::unique_ptr<redisReply, reply_deleter> m_reply_ptr;
};

// A view of the elements of an array reply.
class reply_array {
public:
    typedef std::function<bool(const reply_element&)> callback;

    reply_array(redisReply** _data, std::size_t _size) : m_data(_data), m_size(_size) {}

    // Raises "Index out of range" for an index not below size().
    reply_element operator[](std::size_t _index) const;
    std::size_t size() const { return m_size; }
    // Calls _callback for the elements in order until it returns false; false if it did.
    bool for_each_element(const callback& _callback) const;

private:
    redisReply** m_data;
    std::size_t m_size;
};

}  // namespace redis
}  // namespace tvk
