#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/redis/reader.hpp"
#include "core/redis/reply.hpp"
#include "core/redis/reply_type.hpp"
#include "redis/context_impl.hpp"

namespace redis = tvk::libs::core::redis;
using redis::reply;
using redis::reply_type;
using tvk::libs::core::iteration_result;

namespace {

// Replies built as hiredis builds them, with the C allocator, so freeReplyObject frees them.
redisReply* make_reply(int _type) {
    auto* made = static_cast<redisReply*>(std::calloc(1, sizeof(redisReply)));
    made->type = _type;
    return made;
}

redisReply* text_reply(int _type, const std::string& _text) {
    redisReply* made = make_reply(_type);
    made->str = static_cast<char*>(std::malloc(_text.size() + 1));
    std::memcpy(made->str, _text.data(), _text.size());
    made->str[_text.size()] = '\0';
    made->len = _text.size();
    return made;
}

redisReply* integer_reply(long long _value) {
    redisReply* made = make_reply(REDIS_REPLY_INTEGER);
    made->integer = _value;
    return made;
}

redisReply* array_reply(const std::vector<redisReply*>& _elements) {
    redisReply* made = make_reply(REDIS_REPLY_ARRAY);
    made->elements = _elements.size();
    made->element = static_cast<redisReply**>(std::calloc(_elements.size() + 1, sizeof(void*)));
    for (std::size_t i = 0; i < _elements.size(); ++i) {
        made->element[i] = _elements[i];
    }
    return made;
}

// Runs _f, which must raise tvk::libs::core::exception with _message from _file.
template <class F>
void expect_raises(F&& _f, const std::string& _message,
                   const std::string& _file = "/libs/core/include/core/redis/reply.hpp") {
    try {
        _f();
        ADD_FAILURE() << "nothing raised, expected: " << _message;
    } catch (const tvk::libs::core::exception& _e) {
        EXPECT_EQ(_e.get_string_error(), _message);
        EXPECT_EQ(_e.get_source_location().short_file(), _file);
    }
}

}  // namespace

TEST(redis_reply_type, names_each_type_and_refuses_other_values) {
    const std::vector<std::pair<reply_type, std::string>> names{
        {reply_type::STRING, "string"},   {reply_type::ARRAY, "array"},
        {reply_type::INTEGER, "integer"}, {reply_type::NIL, "nil"},
        {reply_type::STATUS, "status"},   {reply_type::ERROR, "error"}};
    for (const auto& name : names) {
        EXPECT_EQ(redis::to_string(name.first), name.second);
    }
    for (const auto value : {reply_type::_count, static_cast<reply_type>(0)}) {
        expect_raises([value] { redis::to_string(value); }, "Unknown enumeration value",
                      "/libs/core/include/core/redis/reply_type.hpp");
    }
}

TEST(redis_reply, texts_keep_zero_bytes_and_other_types_refuse_to_be_read_as_text) {
    const reply binary(text_reply(REDIS_REPLY_STRING, std::string("a\0b", 3)));
    EXPECT_EQ(binary.as_string_view(), boost::string_view("a\0b", 3));
    EXPECT_EQ(reply(text_reply(REDIS_REPLY_STATUS, "OK")).to_string(), "OK");
    EXPECT_EQ(reply(text_reply(REDIS_REPLY_ERROR, "ERR x")).to_string(), "ERR x");

    const reply number(integer_reply(7));
    EXPECT_FALSE(number.try_string_view());
    expect_raises([&] { number.to_string(); }, "Reply is not string, actual type: integer");
    expect_raises([] { reply(make_reply(REDIS_REPLY_NIL)).as_string_view(); },
                  "Reply is not string, actual type: nil");
    expect_raises([&] { binary.as_array(); }, "Reply is not array, actual type: string");
}

TEST(redis_reply, integers_are_read_whole_and_checked_against_int) {
    const long long big = std::numeric_limits<long long>::max();
    EXPECT_EQ(reply(integer_reply(big)).to_long_long(), big);
    EXPECT_EQ(reply(integer_reply(-5)).to_int(), -5);
    EXPECT_EQ(reply(integer_reply(std::numeric_limits<int>::min())).to_int(),
              std::numeric_limits<int>::min());
    expect_raises([] { reply(integer_reply(2147483648LL)).to_int(); },
                  "Reply is out of int range: 2147483648");
    expect_raises([] { reply(integer_reply(-2147483649LL)).to_int(); },
                  "Reply is out of int range: -2147483649");
    expect_raises([] { reply(text_reply(REDIS_REPLY_STRING, "12")).to_long_long(); },
                  "Reply is not integer, actual type: string");
    expect_raises([] { reply(make_reply(REDIS_REPLY_NIL)).to_int(); },
                  "Reply is not integer, actual type: nil");
}

TEST(redis_reply, arrays_are_walked_in_order_until_the_callback_stops) {
    const reply list(array_reply({text_reply(REDIS_REPLY_STRING, "a"), integer_reply(2),
                                  text_reply(REDIS_REPLY_STRING, "c")}));
    const auto elements = list.as_array();
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_EQ(elements[1].to_int(), 2);
    expect_raises([&] { elements[3]; }, "Index out of range");

    std::vector<reply_type> seen;
    EXPECT_EQ(elements.for_each_element([&](const redis::reply_element& _e) {
        seen.push_back(_e.get_type());
        return true;
    }),
              iteration_result::finished);
    EXPECT_EQ(seen, (std::vector<reply_type>{reply_type::STRING, reply_type::INTEGER,
                                             reply_type::STRING}));
    int calls = 0;
    EXPECT_EQ(elements.for_each_element([&](const redis::reply_element&) { return ++calls < 2; }),
              iteration_result::interrupted);
    EXPECT_EQ(calls, 2);

    const reply empty(array_reply({}));
    EXPECT_EQ(empty.as_array().for_each_element([](const redis::reply_element&) {
        ADD_FAILURE() << "called for an empty array";
        return true;
    }),
              iteration_result::finished);
}

TEST(redis_reply, a_moved_reply_keeps_its_views_valid) {
    reply first(text_reply(REDIS_REPLY_STRING, "kept"));
    const boost::string_view view = first.as_string_view();
    reply second(std::move(first));
    EXPECT_EQ(second.as_string_view(), "kept");
    EXPECT_EQ(view.data(), second.as_string_view().data());
    reply third(make_reply(REDIS_REPLY_NIL));
    third = std::move(second);
    EXPECT_EQ(third.to_string(), "kept");
}

TEST(redis_scan_step, the_cursor_is_an_unsigned_64_bit_number) {
    const reply last(array_reply({text_reply(REDIS_REPLY_STRING, "18446744073709551615"),
                                  array_reply({text_reply(REDIS_REPLY_STRING, "k")})}));
    const auto step = redis::read_scan_step(last);
    EXPECT_EQ(step.cursor, std::numeric_limits<std::uint64_t>::max());
    ASSERT_EQ(step.keys.size(), 1u);
    EXPECT_EQ(step.keys[0].to_string(), "k");

    for (const std::string cursor : {"-1", "", " 1", "1x", "18446744073709551616"}) {
        const reply bad(array_reply({text_reply(REDIS_REPLY_STRING, cursor), array_reply({})}));
        expect_raises([&] { redis::read_scan_step(bad); }, "Wrong scan cursor: " + cursor,
                      "/libs/core/impl/redis/context_impl.cpp");
    }
    expect_raises([] { redis::read_scan_step(reply(integer_reply(0))); },
                  "Reply is not array, actual type: integer");
    const reply keys_not_array(
        array_reply({text_reply(REDIS_REPLY_STRING, "0"), integer_reply(1)}));
    expect_raises([&] { redis::read_scan_step(keys_not_array); },
                  "Reply is not array, actual type: integer");
}

namespace {
struct reader_deleter {
    void operator()(redisReader* _reader) const noexcept { redisReaderFree(_reader); }
};
using reader_ptr = std::unique_ptr<redisReader, reader_deleter>;

// The replies that _reader gives for _bytes; "error: <text>" ends them when it fails.
std::vector<std::string> read_replies(redisReader& _reader, const std::string& _bytes) {
    std::vector<std::string> read;
    redisReaderFeed(&_reader, _bytes.data(), _bytes.size());
    for (;;) {
        void* raw = nullptr;
        if (redisReaderGetReply(&_reader, &raw) != REDIS_OK) {
            read.push_back(std::string("error: ") + _reader.errstr);
            return read;
        }
        if (raw == nullptr) {
            return read;
        }
        const reply got(static_cast<redisReply*>(raw));
        read.push_back(redis::to_string(got.get_type()).to_string() + " " +
                       std::to_string(got.get_type() == reply_type::ARRAY ? got.as_array().size()
                                                                          : got.to_long_long()));
    }
}
}  // namespace

TEST(redis_reader, an_array_announcing_more_elements_than_the_limit_is_refused_unallocated) {
    const reader_ptr limited(redisReaderCreate());
    redis::limit_array_replies(*limited);
    // 16 bytes would otherwise have hiredis allocate 16 GiB for the element pointers.
    EXPECT_EQ(read_replies(*limited, "*2147483647\r\n"),
              std::vector<std::string>{"error: Out of memory"});

    const reader_ptr other(redisReaderCreate());
    redis::limit_array_replies(*other);
    redis::limit_array_replies(*other);
    const std::string limit = std::to_string(redis::max_array_elements + 1);
    EXPECT_EQ(read_replies(*other, ":7\r\n*2\r\n:1\r\n*0\r\n*" + limit + "\r\n"),
              (std::vector<std::string>{"integer 7", "array 2", "error: Out of memory"}));
}
