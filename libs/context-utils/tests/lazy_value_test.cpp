#include "context_utils/lazy_value.hpp"

#include <gtest/gtest.h>

#include <boost/optional/optional_io.hpp>

#include <string>
#include <vector>

#include "core/json.hpp"

namespace cu = tvk::libs::context_utils;
namespace json = tvk::libs::core::json;
using cu::lazy_value;

namespace {

// {"x": <value_text>}, or {} for an empty text.
Json::Value holder(const std::string& _value_text, const char* _key = "x") {
    if (_value_text.empty()) {
        return Json::Value(Json::objectValue);
    }
    return json::parse("{\"" + std::string(_key) + "\":" + _value_text + "}", TVK_SOURCE_LOCATION);
}

// The message of the exception that reading the field raises, "" when it raises none.
template <class Policy>
std::string error_of(const Json::Value& _holder, const char* _key = "x",
                     const char* _description = nullptr) {
    lazy_value<Policy> value;
    try {
        value.get(_holder, _key, _description);
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_source_location().short_file(),
                  "/libs/context-utils/include/context_utils/lazy_value.hpp");
        return e.get_string_error();
    }
    return "";
}

template <class Policy>
typename Policy::storage_type scalar_of(const std::string& _value_text) {
    lazy_value<Policy> value;
    return value.get(holder(_value_text), "x", nullptr);
}

struct point {
    virtual ~point() = default;
    virtual int get_x() const = 0;
    virtual const Json::Value& json_value() const = 0;
};

class point_impl : public point {
public:
    explicit point_impl(const Json::Value& _json_value) : m_json_value(_json_value) {}
    int get_x() const override { return m_x.get(m_json_value, "x", "positions.x"); }
    const Json::Value& json_value() const override { return m_json_value; }

private:
    const Json::Value& m_json_value;
    lazy_value<cu::numeric_value> m_x;
};

using point_value = cu::object_value<point, point_impl>;
using points_value = cu::array_value<point_value, cu::do_not_sort_values>;
using strings_value = cu::array_value<cu::string_value, cu::sort_values>;

}  // namespace

TEST(lazy_value, scalar_policies_accept_their_json) {
    EXPECT_EQ(scalar_of<cu::int_value>("7"), 7);
    EXPECT_EQ(scalar_of<cu::int_value>("7.0"), 7);
    EXPECT_EQ(scalar_of<cu::int_value>("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(scalar_of<cu::uint_value>("0"), 0u);
    EXPECT_EQ(scalar_of<cu::uint_value>("4294967295"), 4294967295u);
    EXPECT_EQ(scalar_of<cu::uint_value>("3.0"), 3u);
    EXPECT_EQ(scalar_of<cu::numeric_value>("2.9"), 2);
    EXPECT_EQ(scalar_of<cu::numeric_value>("-2.9"), -2);
    EXPECT_EQ(scalar_of<cu::numeric_value>("-7"), -7);
    EXPECT_EQ(scalar_of<cu::unumeric_value>("5.7"), 5u);
    EXPECT_EQ(scalar_of<cu::unumeric_value>("4294967295"), 4294967295u);
    EXPECT_TRUE(scalar_of<cu::bool_value>("true"));
    EXPECT_FALSE(scalar_of<cu::bool_value>("false"));
    EXPECT_EQ(scalar_of<cu::string_value>("\"text\""), "text");
}

TEST(lazy_value, required_fields_name_the_field_and_the_kind) {
    struct {
        std::string (*read)(const Json::Value&, const char*, const char*);
        std::vector<std::string> refused;
        std::string kind;
    } const cases[] = {
        {&error_of<cu::string_value>, {"5", "null", "", "[]", "true"}, "a string"},
        {&error_of<cu::bool_value>, {"0", "1", "\"true\"", "null", ""}, "a bool"},
        {&error_of<cu::int_value>, {"7.5", "\"7\"", "true", "3000000000", "null", ""}, "an int"},
        {&error_of<cu::uint_value>, {"-1", "4294967296", "2.5", "\"1\"", ""}, "an unsigned int"},
        {&error_of<cu::numeric_value>, {"\"3\"", "true", "null", ""}, "a number"},
        {&error_of<cu::unumeric_value>, {"\"3\"", "false", ""}, "an unsigned number"},
        {&error_of<point_value>, {"null", "[]", "5", ""}, "an object"},
        {&error_of<strings_value>, {"{}", "null", "\"a\"", ""}, "an array"},
        {&error_of<cu::timestamp_value>, {"5", "null", ""}, "a string"},
    };
    for (const auto& c : cases) {
        for (const auto& text : c.refused) {
            EXPECT_EQ(c.read(holder(text), "x", nullptr), "\"x\" is not " + c.kind + "!") << text;
            EXPECT_EQ(c.read(holder(text, "uid"), "uid", "entered.uid"),
                      "\"entered.uid\" is not " + c.kind + "!")
                << text;
        }
    }
}

TEST(lazy_value, numbers_out_of_range_raise_jsoncpp_errors) {
    EXPECT_THROW(scalar_of<cu::numeric_value>("1e10"), Json::LogicError);
    EXPECT_THROW(scalar_of<cu::numeric_value>("3000000000"), Json::LogicError);
    EXPECT_THROW(scalar_of<cu::numeric_value>("-3000000000"), Json::LogicError);
    for (const char* text : {"-1", "-0.5", "4294967296", "1e10"}) {
        EXPECT_THROW(scalar_of<cu::unumeric_value>(text), Json::LogicError) << text;
        EXPECT_THROW(scalar_of<cu::optional_value<cu::unumeric_value>>(text), Json::LogicError)
            << text;
    }
}

TEST(lazy_value, a_failure_is_not_cached) {
    Json::Value object = holder("5", "uid");
    lazy_value<cu::string_value> uid;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            uid.get(object, "uid", nullptr);
            FAIL();
        } catch (const tvk::libs::core::exception& e) {
            EXPECT_EQ(e.get_string_error(), "\"uid\" is not a string!");
        }
    }
    // The JSON is read again after a failure...
    object["uid"] = "a";
    const std::string& first = uid.get(object, "uid", nullptr);
    EXPECT_EQ(first, "a");
    // ...but never after a success: the reference points into the cache.
    object["uid"] = "b";
    const std::string& second = uid.get(object, "uid", nullptr);
    EXPECT_EQ(second, "a");
    EXPECT_EQ(&first, &second);
}

TEST(lazy_value, a_copy_carries_the_cache) {
    Json::Value object = holder("3");
    lazy_value<cu::int_value> original;
    EXPECT_EQ(original.get(object, "x", nullptr), 3);
    const lazy_value<cu::int_value> copy = original;
    object["x"] = "not a number";
    EXPECT_EQ(copy.get(object, "x", nullptr), 3);
}

TEST(lazy_value, optional_fields_give_nothing_for_missing_or_mistyped_values) {
    for (const char* text : {"", "null", "5", "{}"}) {
        lazy_value<cu::optional_value<cu::string_value>> value;
        EXPECT_FALSE(value.get(holder(text), "x", nullptr)) << text;
    }
    for (const char* text : {"0", "1", "\"true\""}) {
        lazy_value<cu::optional_value<cu::bool_value>> value;
        EXPECT_FALSE(value.get(holder(text), "x", nullptr)) << text;
    }
    for (const char* text : {"7.5", "3000000000", "\"7\""}) {
        lazy_value<cu::optional_value<cu::int_value>> value;
        EXPECT_FALSE(value.get(holder(text), "x", nullptr)) << text;
    }
    lazy_value<cu::optional_value<cu::uint_value>> present;
    EXPECT_EQ(present.get(holder("12"), "x", nullptr), boost::make_optional(12u));
}

TEST(lazy_value, an_absent_optional_is_cached) {
    Json::Value object = holder("5");
    lazy_value<cu::optional_value<cu::string_value>> value;
    EXPECT_FALSE(value.get(object, "x", nullptr));
    object["x"] = "now a string";
    EXPECT_FALSE(value.get(object, "x", nullptr));

    lazy_value<cu::optional_value<cu::string_value>> present;
    const auto text = present.get(object, "x", nullptr);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "now a string");
    EXPECT_EQ(&*text, &*present.get(object, "x", nullptr));
}

TEST(lazy_value, arrays_keep_the_elements_their_policy_accepts) {
    lazy_value<strings_value> sorted;
    EXPECT_EQ(sorted.get(holder("[\"b\", 3, \"a\", \"b\", null]"), "x", nullptr),
              (std::vector<std::string>{"a", "b", "b"}));
    lazy_value<strings_value> empty;
    EXPECT_TRUE(empty.get(holder("[]"), "x", nullptr).empty());
    lazy_value<strings_value> all_dropped;
    EXPECT_TRUE(all_dropped.get(holder("[1, {}, null]"), "x", nullptr).empty());

    lazy_value<cu::array_value<cu::string_value, cu::do_not_sort_values>> unsorted;
    EXPECT_EQ(unsorted.get(holder("[\"b\", \"a\"]"), "x", nullptr),
              (std::vector<std::string>{"b", "a"}));

    lazy_value<cu::optional_value<strings_value>> optional;
    EXPECT_FALSE(optional.get(holder("{}"), "x", nullptr));
}

TEST(lazy_value, nested_objects_are_views_into_the_owning_json) {
    const Json::Value object = holder("[{\"x\": 1}, 5, {}]");
    lazy_value<points_value> points;
    const auto& views = points.get(object, "x", nullptr);
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(&views[0].json_value(), &object["x"][0]);
    EXPECT_EQ(&views[1].json_value(), &object["x"][2]);
    EXPECT_EQ(views[0].get_x(), 1);
    // The second element fails only when its own field is read.
    try {
        views[1].get_x();
        FAIL();
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "\"positions.x\" is not a number!");
    }

    const Json::Value nested = holder("{\"x\": 4}");
    lazy_value<point_value> one;
    const point& view = one.get(nested, "x", nullptr);
    EXPECT_EQ(&view.json_value(), &nested["x"]);
    EXPECT_EQ(view.get_x(), 4);

    lazy_value<cu::optional_value<point_value>> maybe;
    EXPECT_FALSE(maybe.get(holder("null"), "x", nullptr));
    lazy_value<cu::optional_value<point_value>> present;
    const auto found = present.get(nested, "x", nullptr);
    ASSERT_TRUE(found);
    EXPECT_EQ(&found->json_value(), &nested["x"]);
}

TEST(lazy_value, times_are_parsed_from_iso_text) {
    lazy_value<cu::timestamp_value> time;
    EXPECT_EQ(time.get(holder("\"2024-05-06T07:08:09.123Z\"", "updated_at"), "updated_at", nullptr),
              cu::timestamp("2024-05-06 07:08:09.123"));

    EXPECT_EQ(error_of<cu::timestamp_value>(holder("5", "updated_at"), "updated_at"),
              "\"updated_at\" is not a string!");
    EXPECT_EQ(error_of<cu::timestamp_value>(holder("\"yesterday\"", "updated_at"), "updated_at"),
              "failed to parse timestamp: \"updated_at\"");
    EXPECT_EQ(error_of<cu::timestamp_value>(holder("\"yesterday\""), "x", "entered.time"),
              "failed to parse timestamp: \"entered.time\"");

    const auto parsed = cu::timestamp_value::try_convert(Json::Value("1970-01-01T00:00:01Z"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, cu::timestamp(1, 0));
    EXPECT_FALSE(cu::timestamp_value::try_convert(Json::Value("yesterday")));
    EXPECT_FALSE(cu::timestamp_value::try_convert(Json::Value(5)));
}

TEST(lazy_value, a_holder_that_is_not_an_object_raises_for_every_field) {
    const Json::Value text("a string");
    lazy_value<cu::string_value> required;
    EXPECT_THROW(required.get(text, "uid", nullptr), Json::LogicError);
    lazy_value<cu::optional_value<cu::string_value>> optional;
    EXPECT_THROW(optional.get(text, "uid", nullptr), Json::LogicError);
    // A null holder is an object without fields.
    lazy_value<cu::optional_value<cu::string_value>> from_null;
    EXPECT_FALSE(from_null.get(Json::Value(), "uid", nullptr));
}

TEST(lazy_value, make_exception_builds_without_throwing) {
    const auto e = cu::utils::make_exception("uid", nullptr, "a string");
    EXPECT_EQ(e.get_string_error(), "\"uid\" is not a string!");
    EXPECT_EQ(cu::utils::make_exception("x", "entered.x", "a number").get_string_error(),
              "\"entered.x\" is not a number!");
}
