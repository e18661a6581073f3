#include <gtest/gtest.h>
#include <json/value.h>

#include <boost/optional/optional_io.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config_parser/config.hpp"
#include "load.hpp"

using config_parser_tests::load;
using tvk::libs::config::array;
using tvk::libs::config::config;
using tvk::libs::config::dictionary;
using tvk::libs::config::type;
using tvk::libs::config::value;

namespace {
// The text of the runtime_error that loading _text raises; "" when it loads.
std::string load_error(const std::string& _text) {
    try {
        load(_text);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return std::string();
}
}  // namespace

TEST(config_tree, accessors_accept_exactly_their_kinds) {
    const auto document = load(R"({
        "int": 8080, "real_int": 8080.0, "exp": 8.08e3, "half": 8080.5, "text": "8080",
        "t": true, "f": false, "one": 1, "zero": 0, "text_true": "true", "null": null,
        "object": {"k": 1}, "list": [1, 2]
    })");
    struct {
        const char* key;
        boost::optional<int> as_int;
        boost::optional<bool> as_bool;
        boost::optional<std::string> as_string;
        boost::optional<double> as_double;
    } cases[] = {
        {"int", 8080, boost::none, boost::none, 8080.0},
        {"real_int", 8080, boost::none, boost::none, 8080.0},
        {"exp", 8080, boost::none, boost::none, 8080.0},
        {"half", boost::none, boost::none, boost::none, 8080.5},
        {"text", boost::none, boost::none, std::string("8080"), boost::none},
        {"t", boost::none, true, boost::none, boost::none},
        {"f", boost::none, false, boost::none, boost::none},
        {"one", 1, boost::none, boost::none, 1.0},
        {"zero", 0, boost::none, boost::none, 0.0},
        {"text_true", boost::none, boost::none, std::string("true"), boost::none},
        {"null", boost::none, boost::none, boost::none, boost::none},
        {"object", boost::none, boost::none, boost::none, boost::none},
        {"list", boost::none, boost::none, boost::none, boost::none},
        {"missing", boost::none, boost::none, boost::none, boost::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(document->get<int>(c.key), c.as_int);
        EXPECT_EQ(document->get<bool>(c.key), c.as_bool);
        EXPECT_EQ(document->get<std::string>(c.key), c.as_string);
        const auto entry = document->get<const dictionary&>(c.key);
        EXPECT_EQ(static_cast<bool>(entry), std::string(c.key) == "object");
        EXPECT_EQ(static_cast<bool>(document->get<array>(c.key)), std::string(c.key) == "list");
    }
    // as_double has no typed form: reach it through the root's entries.
    const auto numbers = load(R"({"a": {"int": 5, "real": 2.5, "text": "5", "null": null}})");
    const auto& root = *numbers->get<const dictionary&>("a");
    EXPECT_EQ(root.get_value("int")->as_double(), 5.0);
    EXPECT_EQ(root.get_value("real")->as_double(), 2.5);
    EXPECT_EQ(root.get_value("text")->as_double(), boost::none);
    EXPECT_EQ(root.get_value("null")->as_double(), boost::none);
    EXPECT_FALSE(root.get_value("missing"));
}

TEST(config_tree, whole_number_outside_int_range_raises_from_as_int) {
    const auto document = load(R"({"o": {"big": 3000000000, "small": -3000000000, "real": 3e9}})");
    const auto& section = *document->get<const dictionary&>("o");
    for (const char* key : {"big", "small", "real"}) {
        SCOPED_TRACE(key);
        EXPECT_THROW(section.get_value(key)->as_int(), Json::LogicError);
        EXPECT_THROW(section.get<int>(key), Json::LogicError);
        EXPECT_TRUE(section.get_value(key)->as_double());
    }
}

TEST(config_tree, nested_objects_and_arrays_keep_document_order) {
    const auto document = load(R"({
        "list": [{"name": "a"}, {"name": "b"}, [1, [2, 3]], "x", null]
    })");
    const auto list = document->get<array>("list");
    ASSERT_TRUE(list);
    std::vector<std::string> kinds;
    for (int pass = 0; pass < 2; ++pass) {
        kinds.clear();
        for (const value& entry : *list) {
            if (const auto object = entry.get<const dictionary&>()) {
                kinds.push_back("object " + *object->get<std::string>("name"));
            } else if (const auto inner = entry.get<array>()) {
                std::string text = "array";
                for (const value& element : *inner) {
                    if (const auto number = element.get<int>()) {
                        text += " " + std::to_string(*number);
                    } else if (const auto deeper = element.get<array>()) {
                        text += " [";
                        for (const value& leaf : *deeper) {
                            text += std::to_string(*leaf.get<int>());
                        }
                        text += "]";
                    }
                }
                kinds.push_back(text);
            } else if (const auto text = entry.get<std::string>()) {
                kinds.push_back("string " + *text);
            } else {
                kinds.push_back("nothing");
            }
        }
        EXPECT_EQ(kinds, (std::vector<std::string>{"object a", "object b", "array 1 [23]",
                                                   "string x", "nothing"}));
    }
}

TEST(config_tree, many_nested_entries_stay_valid_while_the_document_lives) {
    // Enough siblings that the vectors and lists grow many times while they are filled.
    std::string text = R"({"outer": [)";
    for (int i = 0; i < 200; ++i) {
        text += (i == 0 ? "" : ",") + std::string(R"({"i": )") + std::to_string(i) + R"(, "l": [)" +
                std::to_string(i) + "]}";
    }
    text += "]}";
    const auto document = load(text);
    const auto outer = document->get<array>("outer");
    ASSERT_TRUE(outer);
    int expected = 0;
    for (const value& entry : *outer) {
        const auto& object = *entry.get<const dictionary&>();
        EXPECT_EQ(object.get<int>("i"), expected);
        const auto inner = object.get<array>("l");
        ASSERT_TRUE(inner);
        EXPECT_EQ(inner->begin()->get<int>(), expected);
        ++expected;
    }
    EXPECT_EQ(expected, 200);
}

TEST(config_tree, reader_leniencies_and_strictness) {
    // Comments of both forms, around values and members (jsoncpp refuses one between a key and
    // its colon).
    auto document = load(
        "// head\n{ /* a */ \"a\": /* b */ 1 /* c */, // tail\n \"b\": [2 /* d */] } // end\n");
    EXPECT_EQ(document->get<int>("a"), 1);
    const auto b = document->get<array>("b");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->begin()->get<int>(), 2);

    // Text after the root value is ignored.
    document = load(R"({"a": 1} {"a": 2, "b": 3} garbage)");
    EXPECT_EQ(document->get<int>("a"), 1);
    EXPECT_FALSE(document->get<int>("b"));

    // A repeated key keeps its last occurrence; objects are replaced whole, not merged.
    document = load(R"({"a": 1, "a": 2, "o": {"x": 1}, "o": {"y": 2}})");
    EXPECT_EQ(document->get<int>("a"), 2);
    const auto& o = *document->get<const dictionary&>("o");
    EXPECT_FALSE(o.get<int>("x"));
    EXPECT_EQ(o.get<int>("y"), 2);

    for (const char* bad :
         {R"({"a": 1,})", R"({"a": [1, 2,]})", "{'a': 1}", "{a: 1}", "{1: 1}", R"({"a": NaN})",
          R"({"a": Infinity})", "\xEF\xBB\xBF{\"a\": 1}", "{\"a\": ", "", "   "}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(load_error(bad).rfind("Cannot parse json: ", 0), 0u);
    }
}

TEST(config_tree, parse_failure_carries_reader_errors_verbatim) {
    EXPECT_EQ(load_error(""),
              "Cannot parse json: * Line 1, Column 1\n"
              "  Syntax error: value, object or array expected.\n");
    // A file stream that failed to open reads as empty.
    std::ifstream missing("/nonexistent/quillmere.json");
    try {
        config::create<type::json>(missing);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot parse json: * Line 1, Column 1\n"
                  "  Syntax error: value, object or array expected.\n");
    }
    const std::string second_line = load_error("{\n  \"a\": }");
    EXPECT_EQ(second_line.rfind("Cannot parse json: * Line 2, Column 8\n  ", 0), 0u) << second_line;
}

TEST(config_tree, deep_nesting_is_bounded_by_the_reader) {
    const std::string deep = std::string(2000, '[') + std::string(2000, ']');
    std::istringstream stream("{\"a\": " + deep + "}");
    EXPECT_THROW(config::create<type::json>(stream), Json::RuntimeError);
}

TEST(config_tree, scalar_and_array_roots) {
    for (const char* scalar : {"42", "\"text\"", "null", "true"}) {
        SCOPED_TRACE(scalar);
        const auto document = load(scalar);
        EXPECT_FALSE(document->get<int>(""));
        EXPECT_FALSE(document->get<std::string>(""));
        EXPECT_FALSE(document->get<int>("a"));
    }
    // Every element of an array root comes with the empty name; the first is kept.
    auto document = load("[7, 8]");
    EXPECT_EQ(document->get<int>(""), 7);
    document = load(R"([{"a": 1}, {"a": 2}])");
    const auto first = document->get<const dictionary&>("");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->get<int>("a"), 1);
    EXPECT_FALSE(load("[]")->get<int>(""));
}

TEST(config_tree, keys_are_listed_in_byte_order) {
    const auto document = load(R"({"o": {"b": 1, "a": 2, "B": 3, "a.b": 4}})");
    EXPECT_EQ(document->get<const dictionary&>("o")->get_keys(),
              (std::vector<std::string>{"B", "a", "a.b", "b"}));
}
