#include "core/timestamp.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using std::chrono::milliseconds;
using tvk::libs::core::timestamp;

namespace {
std::string iso(const timestamp& _t) {
    return _t.to_iso_8601(true, 'T', true);
}
}  // namespace

TEST(timestamp, construction_and_parts) {
    EXPECT_EQ(timestamp().get_time_since_epoch(), milliseconds(0));
    EXPECT_EQ(timestamp(10, 1999).get_ts(), 11);
    EXPECT_EQ(timestamp(10, 1999).get_ms(), 999u);
    EXPECT_EQ(timestamp(milliseconds(1500)).get_ts(), 1);
    EXPECT_EQ(timestamp(milliseconds(1500)).get_ms(), 500u);
}

TEST(timestamp, times_before_1970_round_down) {
    const timestamp t(milliseconds(-1));
    EXPECT_EQ(t.get_ts(), -1);
    EXPECT_EQ(t.get_ms(), 999u);
    EXPECT_EQ(iso(t), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(iso(timestamp(milliseconds(-1000))), "1969-12-31T23:59:59.000Z");
}

TEST(timestamp, iso_forms) {
    EXPECT_EQ(timestamp(1, 0).to_iso_8601(false, 'T', false), "1970-01-01T00:00:01");
    EXPECT_EQ(timestamp(0, 5).to_iso_8601(true, ' ', true), "1970-01-01 00:00:00.005Z");
    EXPECT_EQ(timestamp(1714979289, 23).to_iso_8601(true, ' ', false), "2024-05-06 07:08:09.023");
}

TEST(timestamp, parse_table) {
    const timestamp expected(1714979289, 123);
    struct {
        const char* text;
        boost::optional<timestamp> result;
    } cases[] = {
        {"2024-05-06T07:08:09.123Z", expected},
        {"2024-05-06 07:08:09.123", expected},
        {"2024-05-06T07:08:09.123+03:00", expected},
        {"2024-05-06T07:08:09", timestamp(1714979289, 0)},
        {"2024-05-06T07:08:59.9996Z", timestamp(1714979340, 0)},
        {"2024-13-01T00:00:00", timestamp(1735689600, 0)},
        // Fields out of range are normalised, however large.
        {"1970-01-01T00:00:1500000000", timestamp(1500000000, 0)},
        {"1970-01-01T00:00:-1.5", timestamp(milliseconds(-1500))},
        {"1970-01-01T00:2147483648:00", timestamp(2147483648LL * 60, 0)},
        // The ends of the millisecond count, and just beyond them.
        {"292278994-08-17T07:12:55.807", timestamp(milliseconds(INT64_MAX))},
        {"292278994-08-17T07:12:55.808", boost::none},
        {"-292275055-05-16T16:47:04.192", timestamp(milliseconds(INT64_MIN))},
        {"-292275055-05-16T16:47:04.191", boost::none},
        {"-2147483648-01-01T00:00:00", boost::none},
        {"300000000-01-01T00:00:00", boost::none},
        {"99999999999999999999-01-01T00:00:00", boost::none},
        {"1970-01-01T00:00:nan", boost::none},
        {"1970-01-01T00:00:1e38", boost::none},
        {"2024-05-06T07:08", boost::none},
        {"", boost::none},
        {"garbage", boost::none},
    };
    for (const auto& c : cases) {
        const auto parsed = timestamp::try_parse(c.text);
        ASSERT_EQ(parsed.has_value(), c.result.has_value()) << c.text;
        if (parsed) {
            EXPECT_EQ(iso(*parsed), iso(*c.result)) << c.text;
        }
    }
}

TEST(timestamp, extreme_fields_are_normalised_without_overflow) {
    // 2^31 months back from 2024: April of a year far before the common era.
    const auto parsed = timestamp::try_parse("2024--2147483648-01T00:00:00");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(iso(*parsed), "-178954947-04-01T00:00:00.000Z");
    EXPECT_EQ(iso(timestamp(boost::string_view("1970-01-01T00:00:1500000000"))),
              "2017-07-14T02:40:00.000Z");
    EXPECT_EQ(iso(timestamp(milliseconds(INT64_MAX))), "292278994-08-17T07:12:55.807Z");
}

TEST(timestamp, parse_reads_only_the_view) {
    // The view ends before ".5": the characters after it must not be read.
    const char text[] = "2024-05-06T07:08:09.5";
    const boost::string_view view(text, std::strlen(text) - 2);
    const auto parsed = timestamp::try_parse(view);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->get_ms(), 0u);
    // Not terminated at all.
    const char unterminated[] = {'2', '0', '2', '4', '-', '0', '1', '-', '0', '1',
                                 'T', '0', '0', ':', '0', '0', ':', '0', '7'};
    const auto exact = timestamp::try_parse(boost::string_view(unterminated, sizeof(unterminated)));
    ASSERT_TRUE(exact);
    EXPECT_EQ(iso(*exact), "2024-01-01T00:00:07.000Z");
}

TEST(timestamp, text_constructor_raises_for_garbage) {
    try {
        timestamp t(boost::string_view("garbage"));
        FAIL() << "no exception";
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "timestamp: \"garbage\" is invalid!");
        EXPECT_EQ(e.get_source_location().short_file(), "/libs/core/include/core/timestamp.hpp");
    }
}

TEST(timestamp, arithmetic_and_order) {
    const timestamp a(10, 0);
    const timestamp b = a + milliseconds(250);
    EXPECT_EQ(b - a, milliseconds(250));
    EXPECT_LT(a, b);
    EXPECT_GE(b, a);
    EXPECT_NE(a, b);
    EXPECT_EQ(b - milliseconds(250), a);
    EXPECT_EQ(timestamp::deserialize(b.serialize()), b);
    EXPECT_THROW(timestamp::deserialize("12x"), tvk::libs::core::exception);
}

TEST(timestamp, current_time_is_near_system_clock) {
    const auto before = std::chrono::duration_cast<milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const auto now = timestamp::current_time().get_time_since_epoch();
    EXPECT_LE(before - milliseconds(1), now);
    EXPECT_LE(now - before, milliseconds(1000));
}
