#include <gtest/gtest.h>
#include <json/value.h>

#include <boost/optional/optional_io.hpp>

#include <boost/optional/bad_optional_access.hpp>
#include <sstream>
#include <string>
#include <tuple>

#include "config_parser/config.hpp"
#include "config_parser/result.hpp"
#include "load.hpp"

using config_parser_tests::load;
using tvk::libs::config::array;
using tvk::libs::config::config;
using tvk::libs::config::error_reason;
using tvk::libs::config::get_type_name;
using tvk::libs::config::result;
using tvk::libs::config::type;

namespace {
const char* const document_text = R"({
    "a": {"b": {"x": 1, "real": 8080.0, "n": null, "s": "text"}, "str": "not an object"},
    "port": "7", "flag": true, "list": [1], "dotted.key": {"in.ner": 5}, "n": "7"
})";
}  // namespace

TEST(config_lookup, path_failures_name_the_first_missing_step) {
    const auto document = load(document_text);
    struct {
        result<std::string> looked_up;
        std::string reason;
    } string_cases[] = {
        {document->get_by_path<std::string>({"a", "b", "s"}), ""},
        {document->get_by_path<std::string>({"a", "b", "c"}), "Can not find field <string>: a.b.c"},
        {document->get_by_path<std::string>({"a", "q", "z"}),
         "Can not find object <object>: a.q, path: a.q.z"},
        {document->get_by_path<std::string>({"s", "k"}),
         "Can not find object <object>: s, path: s.k"},
        // A section of another kind reads like a missing one.
        {document->get_by_path<std::string>({"a", "str", "k"}),
         "Can not find object <object>: a.str, path: a.str.k"},
        {document->get_by_path<std::string>({"port", "k"}),
         "Can not find object <object>: port, path: port.k"},
        // null reads like a missing key.
        {document->get_by_path<std::string>({"a", "b", "n"}), "Can not find field <string>: a.b.n"},
        {document->get_by_path<std::string>({"a", "b", "real"}),
         "Can not find field <string>: a.b.real"},
        // The walk stops at the first failure: later keys are not looked at.
        {document->get_by_path<std::string>({"a", "x", "b", "c"}),
         "Can not find object <object>: a.x, path: a.x.b.c"},
        {document->get_by_path<std::string>({"a", "b", "x", "c"}),
         "Can not find object <object>: a.b.x, path: a.b.x.c"},
        {document->get_by_path<std::string>({}), "Can not find field <string>: "},
    };
    for (const auto& c : string_cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(c.looked_up.ok(), c.reason.empty());
        EXPECT_EQ(c.looked_up.reason(), c.reason);
    }
    EXPECT_EQ(document->get_by_path<std::string>({"a", "b", "s"}).value(), "text");
    EXPECT_EQ(document->get_by_path<int>({"a", "b", "real"}).value(), 8080);
    EXPECT_EQ(document->get_by_path<int>({"port"}).reason(), "Can not find field <int>: port");
    EXPECT_EQ(document->get_by_path<int>({"n"}).reason(), "Can not find field <int>: n");
    EXPECT_EQ(document->get_by_path<bool>({"flag"}).value(), true);
    EXPECT_EQ(document->get_by_path<bool>({"list"}).reason(), "Can not find field <bool>: list");
    EXPECT_EQ(document->get_by_path<array>({"flag"}).reason(), "Can not find field <array>: flag");
    const auto list = document->get_by_path<array>({"list"});
    ASSERT_TRUE(list.ok());
    EXPECT_EQ(list.value().begin()->get<int>(), 1);
    // Keys holding "." are whole keys; only the texts join them.
    EXPECT_EQ(document->get_by_path<int>({"dotted.key", "in.ner"}).value(), 5);
    EXPECT_EQ(document->get_by_path<int>({"dotted", "key"}).reason(),
              "Can not find object <object>: dotted, path: dotted.key");
}

TEST(config_lookup, int_outside_range_raises_naming_the_path) {
    const auto document = load(R"({"server": {"timeout": 3000000000}, "port": -3000000000})");
    struct {
        std::initializer_list<std::string> path;
        std::string suffix;
    } cases[] = {{{"server", "timeout"}, ", path: server.timeout"}, {{"port"}, ", path: port"}};
    for (const auto& c : cases) {
        try {
            document->get_by_path<int>(c.path);
            ADD_FAILURE() << "no exception for" << c.suffix;
        } catch (const Json::LogicError& e) {
            const std::string text = e.what();
            ASSERT_GT(text.size(), c.suffix.size());
            EXPECT_EQ(text.substr(text.size() - c.suffix.size()), c.suffix);
            EXPECT_NE(text.find("out of Int range"), std::string::npos) << text;
        }
    }
    // Read as another kind, the same number is only a mismatch.
    EXPECT_FALSE(document->get_by_path<std::string>({"server", "timeout"}).ok());
}

TEST(config_lookup, results_and_their_join) {
    const result<int> good(5);
    const result<int> bad(error_reason{"bad"});
    EXPECT_TRUE(good.ok());
    EXPECT_EQ(good.reason(), "");
    EXPECT_EQ(good.try_get(), 5);
    EXPECT_FALSE(bad.ok());
    EXPECT_EQ(bad.try_get(), boost::none);
    EXPECT_THROW(bad.value(), boost::bad_optional_access);

    const result<std::string> text(std::string("t"));
    const result<bool> flag(true);
    const auto all = good + text + flag;
    static_assert(
        std::is_same<decltype(all), const result<std::tuple<int, std::string, bool>>>::value,
        "each step appends one element");
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(all.reason(), "");
    EXPECT_EQ(all.value(), std::make_tuple(5, std::string("t"), true));

    EXPECT_EQ((good + text + bad).reason(), "bad");
    EXPECT_EQ((bad + text + flag).reason(), "bad");
    EXPECT_EQ((bad + good + result<bool>(error_reason{"second"})).reason(), "bad\nsecond");
    EXPECT_FALSE((bad + good).try_get());

    EXPECT_EQ(get_type_name<std::string>(), "string");
    EXPECT_EQ(get_type_name<array>(), "array");
    EXPECT_EQ(get_type_name<bool>(), "bool");
    EXPECT_EQ(get_type_name<int>(), "int");
}

TEST(config_lookup, chain_lists_failures_in_order) {
    const auto document = load(R"({"a": {"b": {"x": 1}}})");
    const auto chain = document->get_by_path<int>({"a", "b", "x"}) +
                       document->get_by_path<std::string>({"a", "b", "c"}) +
                       document->get_by_path<bool>({"a", "q", "z"});
    EXPECT_FALSE(chain.ok());
    EXPECT_EQ(chain.reason(),
              "Can not find field <string>: a.b.c\nCan not find object <object>: a.q, path: a.q.z");
}
