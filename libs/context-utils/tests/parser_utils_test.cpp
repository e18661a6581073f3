#include <gtest/gtest.h>

#include <time.h>

#include <string>

#include "parsers/iso8601_time.hpp"
#include "parsers/parser_utils.hpp"
#include "test_helpers.hpp"

using context_utils_test::logic_error_of;
using context_utils_test::parse;
using tvk::libs::context_utils::parsers::iso8601_time;
using tvk::libs::context_utils::parsers::parser_utils;
using tvk::libs::core::timestamp;

TEST(iso8601_time, reads_a_full_time) {
    const auto time = iso8601_time::parse_time("2023-05-04T12:34:56.789Z");
    ASSERT_TRUE(time);
    EXPECT_EQ(time->ts, 1683203696u);
    EXPECT_EQ(time->ms, 789u);
}

TEST(iso8601_time, refuses_texts_without_three_millisecond_digits) {
    EXPECT_FALSE(iso8601_time::parse_time("2023-05-04T12:34:56Z"));
    EXPECT_FALSE(iso8601_time::parse_time("2023-05-04T12:34:56.7Z"));
    EXPECT_FALSE(iso8601_time::parse_time(""));
}

TEST(iso8601_time, ignores_separators_and_offsets) {
    const auto time = iso8601_time::parse_time("2023-05-04 12:34:56.789+02:00");
    ASSERT_TRUE(time);
    EXPECT_EQ(time->ts, 1683203696u);
    EXPECT_EQ(time->ms, 789u);
}

// Only three fraction digits are milliseconds: ".789123" once gave 789123 ms (13 minutes).
TEST(iso8601_time, reads_exactly_three_fraction_digits) {
    struct sample {
        const char* text;
        unsigned int ms;
    };
    for (const auto& s :
         {sample{"2023-05-04T12:34:56.789123Z", 789}, sample{"2023-05-04T12:34:56.000999Z", 0},
          sample{"2023-05-04T12:34:56.05Z___", 5}, sample{"2023-05-04T12:34:56.-12Z__", 0},
          sample{"2023-05-04T12:34:56. 12Z__", 0}}) {
        const auto time = iso8601_time::parse_time(s.text);
        ASSERT_TRUE(time) << s.text;
        EXPECT_EQ(time->ts, 1683203696u) << s.text;
        EXPECT_EQ(time->ms, s.ms) << s.text;
    }
}

TEST(iso8601_time, numbers_out_of_range_give_none) {
    for (const char* text : {
             "-99999999999999999999999",                // the year beyond long
             "2023--9999999999999999999Z",              // the month beyond long
             "2023-05-04T12:34:99999999999999999999Z",  // the seconds beyond long
             "2147485548-05-04T12:34:56.789Z",          // the year less 1900 beyond int
             "2023-05-04T12:34:5555555555.789Z",        // the seconds beyond int
         }) {
        EXPECT_FALSE(iso8601_time::parse_time(text)) << text;
    }
    // Out-of-range fields within int are still normalised.
    const auto time = iso8601_time::parse_time("2023-05-04T12:34:2147483647.789Z");
    ASSERT_TRUE(time);
    EXPECT_EQ(time->ts, static_cast<unsigned int>(1683203640LL + 2147483647LL));
}

TEST(iso8601_time, digitless_text_is_normalised_not_refused) {
    const auto time = iso8601_time::parse_time("xxxxxxxxxxxxxxxxxxxxxxxx");
    ASSERT_TRUE(time);
    // Every field reads 0: year 0, month -1, day 0, which timegm normalises.
    struct tm fields {};
    fields.tm_year = -1900;
    fields.tm_mon = -1;
    EXPECT_EQ(time->ts, timegm(&fields));
    EXPECT_EQ(time->ms, 0u);
}

// Found by fuzzing: a year near the int limit gives seconds whose milliseconds overflow 64 bits.
TEST(iso8601_time, a_year_beyond_the_range_of_a_timestamp_is_not_a_time) {
    const std::string text = "992233024-0-0T575&07:99Z";
    EXPECT_FALSE(iso8601_time::parse_time(text));
    Json::Value object(Json::objectValue);
    object["t"] = text;
    EXPECT_FALSE(parser_utils::try_get_iso8601_timestamp(object, "t"));
}

TEST(iso8601_time, keeps_times_before_1970_and_after_2106) {
    for (const auto& t : context_utils_test::far_times) {
        const auto time = iso8601_time::parse_time(t.text);
        ASSERT_TRUE(time) << t.text;
        EXPECT_EQ(time->ts, t.seconds) << t.text;
        EXPECT_EQ(time->ms, t.ms) << t.text;

        Json::Value object(Json::objectValue);
        object["t"] = t.text;
        EXPECT_EQ(parser_utils::get_iso8601_timestamp(object, "t", nullptr), t.get_timestamp())
            << t.text;
        const auto tolerant = parser_utils::try_get_iso8601_timestamp(object, "t");
        ASSERT_TRUE(tolerant) << t.text;
        EXPECT_EQ(*tolerant, t.get_timestamp()) << t.text;
    }
}

TEST(parser_utils, readers_accept_their_types) {
    const auto object = parse(R"({"s": "text", "b": true, "i": -7, "f": 5.0, "r": 2.9,
                                  "n": -2.9, "u": 4294967295, "t": "2023-05-04T12:34:56.789Z"})");
    EXPECT_EQ(parser_utils::get_string(object, "s", nullptr), "text");
    EXPECT_TRUE(parser_utils::get_bool(object, "b", nullptr));
    EXPECT_EQ(parser_utils::get_int(object, "i", nullptr), -7);
    EXPECT_EQ(parser_utils::get_int(object, "f", nullptr), 5);
    EXPECT_EQ(parser_utils::get_number(object, "r", nullptr), 2);
    EXPECT_EQ(parser_utils::get_number(object, "n", nullptr), -2);
    EXPECT_EQ(parser_utils::get_uint(object, "u", nullptr), 4294967295u);
    EXPECT_EQ(parser_utils::get_iso8601_timestamp(object, "t", nullptr),
              timestamp(1683203696, 789));
    EXPECT_EQ(*parser_utils::try_get_iso8601_timestamp(object, "t"), timestamp(1683203696, 789));
}

TEST(parser_utils, raising_readers_name_the_field) {
    const auto object = parse(R"({"uid": 5, "i": true, "r": 2.5, "u": -1, "s": "7", "b": 1})");
    struct sample {
        std::string text;
        std::string expected;
    };
    const sample samples[] = {
        {logic_error_of([&] { parser_utils::get_string(object, "uid", nullptr); }),
         R"(context-utils: "uid" is not a string!)"},
        {logic_error_of([&] { parser_utils::get_bool(object, "b", nullptr); }),
         R"(context-utils: "b" is not a bool!)"},
        {logic_error_of([&] { parser_utils::get_int(object, "i", nullptr); }),
         R"(context-utils: "i" is not an int!)"},
        {logic_error_of([&] { parser_utils::get_int(object, "r", nullptr); }),
         R"(context-utils: "r" is not an int!)"},
        {logic_error_of([&] { parser_utils::get_number(object, "x", "entered.x"); }),
         R"(context-utils: "entered.x" is not a number!)"},
        {logic_error_of([&] { parser_utils::get_number(object, "s", nullptr); }),
         R"(context-utils: "s" is not a number!)"},
        {logic_error_of([&] { parser_utils::get_uint(object, "u", nullptr); }),
         R"(context-utils: "u" is not an uint!)"},
        {logic_error_of([&] { parser_utils::get_iso8601_timestamp(object, "uid", "a.time"); }),
         R"(context-utils: "a.time" is not a string!)"},
        {logic_error_of([&] { parser_utils::get_iso8601_timestamp(object, "s", nullptr); }),
         R"(context-utils: failed to parse timestamp: "s")"},
    };
    for (const auto& s : samples) {
        EXPECT_EQ(s.text, s.expected);
    }
}

TEST(parser_utils, tolerant_readers_give_none) {
    const auto object = parse(R"({"n": null, "s": "x", "u": -1, "i": 2.5, "b": 0,
                                  "t": "2023-05-04T12:34:56Z"})");
    for (const char* key : {"missing", "n", "u", "i", "b"}) {
        EXPECT_FALSE(parser_utils::try_get_string(object, key)) << key;
    }
    EXPECT_FALSE(parser_utils::try_get_bool(object, "b"));
    EXPECT_FALSE(parser_utils::try_get_int(object, "i"));
    EXPECT_FALSE(parser_utils::try_get_uint(object, "u"));
    EXPECT_FALSE(parser_utils::try_get_number(object, "s"));
    EXPECT_FALSE(parser_utils::try_get_iso8601_timestamp(object, "missing"));
    EXPECT_FALSE(parser_utils::try_get_iso8601_timestamp(object, "u"));
    EXPECT_FALSE(parser_utils::try_get_iso8601_timestamp(object, "t"));
    EXPECT_EQ(*parser_utils::try_get_number(object, "i"), 2);
}

TEST(parser_utils, json_library_errors_pass_through) {
    const auto object = parse(R"({"big": 3000000000})");
    EXPECT_THROW(parser_utils::get_number(object, "big", nullptr), Json::LogicError);
    EXPECT_THROW(parser_utils::try_get_string(Json::Value("not an object"), "uid"),
                 Json::LogicError);
    // A null holder has no members: the field is missing, not an error of the library.
    EXPECT_FALSE(parser_utils::try_get_string(Json::Value(), "uid"));
}
