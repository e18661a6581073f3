#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/json.hpp"
#include "core/scope_guard.hpp"
#include "core/stl.hpp"

namespace json = tvk::libs::core::json;
using tvk::libs::core::execute_on_scope_exit;
using tvk::libs::core::lookup;

TEST(json, try_parse_reports_errors_without_raising) {
    for (const char* text : {"", "{", "[1,", "{\"a\":}"}) {
        const auto parsed = json::try_parse(text);
        EXPECT_FALSE(parsed.ok) << text;
        EXPECT_TRUE(parsed.result.isNull()) << text;
        EXPECT_FALSE(parsed.error.empty()) << text;
    }
    const auto parsed = json::try_parse("{\"a\": 1 /* comment */}");
    EXPECT_TRUE(parsed.ok);
    EXPECT_TRUE(parsed.error.empty());
    EXPECT_EQ(parsed.result["a"].asInt(), 1);
}

TEST(json, text_nested_beyond_the_readers_limit_is_a_failed_parse) {
    const std::string arrays = std::string(5000, '[') + std::string(5000, ']');
    std::string objects;
    for (int i = 0; i < 5000; ++i) {
        objects += "{\"a\":";
    }
    objects += "1" + std::string(5000, '}');
    for (const std::string& text : {arrays, objects}) {
        const auto parsed = json::try_parse(text);
        EXPECT_FALSE(parsed.ok);
        EXPECT_TRUE(parsed.result.isNull());
        EXPECT_EQ(parsed.error, "Exceeded stackLimit in readValue().");
        try {
            json::parse(text, TVK_SOURCE_LOCATION);
            FAIL();
        } catch (const tvk::libs::core::exception& e) {
            EXPECT_EQ(e.get_string_error(), "parse error: Exceeded stackLimit in readValue().");
        }
    }
}

TEST(json, try_parse_reads_exactly_the_view) {
    const std::string text = "{\"a\":1}{{{";
    const auto parsed = json::try_parse(boost::string_view(text.data(), 7));
    EXPECT_TRUE(parsed.ok) << parsed.error;
    EXPECT_FALSE(json::try_parse(boost::string_view(text.data(), 6)).ok);
}

TEST(json, parse_raises_at_callers_location) {
    try {
        json::parse("{", TVK_SOURCE_LOCATION);
        FAIL();
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error().rfind("parse error: ", 0), 0u) << e.get_string_error();
        EXPECT_EQ(e.get_source_location().short_file(), "/libs/core/tests/helpers_test.cpp");
    }
    EXPECT_EQ(json::parse("[1]", TVK_SOURCE_LOCATION)[0].asInt(), 1);
}

TEST(json, to_string_is_compact) {
    Json::Value value;
    value["a"] = 1;
    value["b"] = "x";
    EXPECT_EQ(json::to_string(value), "{\"a\":1,\"b\":\"x\"}");
}

TEST(json, as_string_view_of_strings_only) {
    EXPECT_TRUE(json::as_string_view(Json::Value(5)).empty());
    EXPECT_TRUE(json::as_string_view(Json::Value()).empty());
    EXPECT_TRUE(json::as_string_view(Json::Value(Json::objectValue)).empty());
    EXPECT_EQ(json::as_string_view(Json::Value("ab")), "ab");
    const Json::Value with_nul(std::string("a\0b", 3));
    EXPECT_EQ(json::as_string_view(with_nul).size(), 3u);
}

TEST(lookup, finds_by_reference_and_heterogeneous_key) {
    std::map<std::string, int, std::less<>> map{{"a", 1}};
    EXPECT_FALSE(lookup(map, std::string("b")));
    auto found = lookup(map, boost::string_view("a"));
    ASSERT_TRUE(found);
    *found = 5;
    EXPECT_EQ(map["a"], 5);
    const auto& constant = map;
    auto const_found = lookup(constant, std::string("a"));
    static_assert(std::is_same<decltype(const_found), boost::optional<const int&>>::value, "");
    EXPECT_EQ(*const_found, 5);
}

TEST(scope_guard, runs_once_when_last_owner_lets_go) {
    int calls = 0;
    {
        auto guard = execute_on_scope_exit([&calls] { ++calls; });
        auto moved = std::move(guard);
        EXPECT_EQ(calls, 0);
        guard.reset();
        EXPECT_EQ(calls, 0);
    }
    EXPECT_EQ(calls, 1);
}
