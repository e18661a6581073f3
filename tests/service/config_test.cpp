#include <gtest/gtest.h>
#include <json/json.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "config.hpp"
#include "core/exception.hpp"

namespace {
// A file that the service accepts; each case below breaks it in one way.
Json::Value valid_document() {
    Json::Value document;
    document["system"]["pidfile"] = "/run/quillmere.pid";
    document["system"]["debug_port"] = "tcp://127.0.0.1:5560";
    document["system"]["local_debug"] = true;
    document["proxy"]["output_port"] = "tcp://127.0.0.1:5561";
    document["server"]["url"] = "http://server:8080";
    document["server"]["timeout"] = 15;
    document["redis"]["address"] = "redis.local";
    document["redis"]["port"] = 6380;
    document["zone_types"].append("b");
    document["zone_types"].append("a");
    document["zone_types"].append("b");
    document["debug"]["modify_server_state"] = false;
    return document;
}

tvk::config read(const Json::Value& _document) {
    std::istringstream stream(Json::writeString(Json::StreamWriterBuilder(), _document));
    return tvk::config(stream);
}

// The text of the exception that reading _document raises; "" when it reads.
std::string read_error(const Json::Value& _document) {
    try {
        read(_document);
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_source_location().short_file(), "/src/config.cpp");
        return e.get_string_error();
    }
    return std::string();
}
}  // namespace

TEST(service_config, valid_file_fills_every_field) {
    const auto settings = read(valid_document());
    EXPECT_EQ(settings.system.pidfile, "/run/quillmere.pid");
    EXPECT_EQ(settings.system.debug_port, "tcp://127.0.0.1:5560");
    EXPECT_TRUE(settings.system.local_debug);
    EXPECT_EQ(settings.proxy.output_port, "tcp://127.0.0.1:5561");
    EXPECT_EQ(settings.server.url, "http://server:8080");
    EXPECT_EQ(settings.server.timeout, 15);
    EXPECT_EQ(settings.redis.address, "redis.local");
    EXPECT_EQ(settings.redis.port, 6380);
    EXPECT_FALSE(settings.modify_server_state);
    EXPECT_EQ(settings.zone_types, (std::set<std::string>{"a", "b"}));
}

TEST(service_config, optional_and_unchecked_values) {
    struct {
        const char* name;
        std::function<void(Json::Value&)> change;
        std::function<void(const tvk::config&)> check;
    } cases[] = {
        {"no debug section", [](Json::Value& d) { d.removeMember("debug"); },
         [](const tvk::config& s) { EXPECT_TRUE(s.modify_server_state); }},
        {"modify_server_state as a string",
         [](Json::Value& d) { d["debug"]["modify_server_state"] = "false"; },
         [](const tvk::config& s) { EXPECT_TRUE(s.modify_server_state); }},
        {"debug not an object", [](Json::Value& d) { d["debug"] = "off"; },
         [](const tvk::config& s) { EXPECT_TRUE(s.modify_server_state); }},
        {"empty zone types",
         [](Json::Value& d) { d["zone_types"] = Json::Value(Json::arrayValue); },
         [](const tvk::config& s) { EXPECT_TRUE(s.zone_types.empty()); }},
        {"whole real number as int", [](Json::Value& d) { d["server"]["timeout"] = 30.0; },
         [](const tvk::config& s) { EXPECT_EQ(s.server.timeout, 30); }},
        {"values are not range-checked",
         [](Json::Value& d) {
             d["redis"]["port"] = 70000;
             d["server"]["timeout"] = -1;
             d["server"]["url"] = "";
         },
         [](const tvk::config& s) {
             EXPECT_EQ(s.redis.port, 70000);
             EXPECT_EQ(s.server.timeout, -1);
             EXPECT_EQ(s.server.url, "");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto document = valid_document();
        c.change(document);
        c.check(read(document));
    }
}

TEST(service_config, failures_are_reported_together_in_key_order) {
    const std::string prefix = "Config file is invalid: ";
    struct {
        const char* name;
        std::function<void(Json::Value&)> change;
        std::string reason;
    } cases[] = {
        {"time-out and port missing",
         [](Json::Value& d) {
             d["redis"].removeMember("port");
             d["server"].removeMember("timeout");
         },
         "Can not find field <int>: server.timeout\nCan not find field <int>: redis.port"},
        {"every section missing or mistyped",
         [](Json::Value& d) {
             d.removeMember("system");
             d["proxy"]["output_port"] = 5561;
             d["server"] = "http://server";
             d["redis"]["port"] = "6379";
             d["zone_types"] = "a";
         },
         "Can not find object <object>: system, path: system.pidfile\n"
         "Can not find object <object>: system, path: system.debug_port\n"
         "Can not find object <object>: system, path: system.local_debug\n"
         "Can not find field <string>: proxy.output_port\n"
         "Can not find object <object>: server, path: server.url\n"
         "Can not find object <object>: server, path: server.timeout\n"
         "Can not find field <int>: redis.port\n"
         "Can not find field <array>: zone_types"},
        {"booleans are only true and false", [](Json::Value& d) { d["system"]["local_debug"] = 1; },
         "Can not find field <bool>: system.local_debug"},
        {"null counts as missing", [](Json::Value& d) { d["redis"]["address"] = Json::Value(); },
         "Can not find field <string>: redis.address"},
        {"zone type not a string",
         [](Json::Value& d) {
             d["zone_types"] = Json::Value(Json::arrayValue);
             d["zone_types"].append("a");
             d["zone_types"].append(5);
             d["zone_types"].append(true);
         },
         "zone_types: not a zone type: 1"},
        {"zone types examined only once the keys are there",
         [](Json::Value& d) {
             d["system"].removeMember("pidfile");
             d["zone_types"].append(Json::Value(Json::objectValue));
         },
         "Can not find field <string>: system.pidfile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto document = valid_document();
        c.change(document);
        EXPECT_EQ(read_error(document), prefix + c.reason);
    }
}

TEST(service_config, int_outside_range_raises_naming_the_key) {
    struct {
        const char* section;
        const char* key;
        Json::Value number;
    } cases[] = {
        {"server", "timeout", Json::Value(Json::Int64(3000000000LL))},
        {"redis", "port", Json::Value(Json::Int64(-3000000000LL))},
        {"redis", "port", Json::Value(1e10)},
    };
    for (const auto& c : cases) {
        auto document = valid_document();
        document[c.section][c.key] = c.number;
        // Another failure does not hide it: the number raises before the report is made.
        document["system"].removeMember("pidfile");
        const std::string suffix = std::string(", path: ") + c.section + "." + c.key;
        try {
            read(document);
            ADD_FAILURE() << "no exception for" << suffix;
        } catch (const Json::LogicError& e) {
            const std::string text = e.what();
            ASSERT_GT(text.size(), suffix.size());
            EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix) << text;
        }
    }
}

TEST(service_config, text_that_is_not_json_raises_the_parse_error) {
    for (const char* text : {"", "{\"system\": ", "[1, 2,]"}) {
        SCOPED_TRACE(text);
        std::istringstream stream(text);
        try {
            tvk::config settings(stream);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot parse json: * Line 1, Column ", 0), 0u)
                << e.what();
        }
    }
}

TEST(service_config, sample_configuration_is_valid) {
    std::ifstream stream(QUILLMERE_SAMPLE_CONFIG);
    ASSERT_TRUE(stream.is_open()) << QUILLMERE_SAMPLE_CONFIG;
    const tvk::config settings(stream);
    EXPECT_FALSE(settings.system.pidfile.empty());
    EXPECT_FALSE(settings.zone_types.empty());
    EXPECT_TRUE(settings.modify_server_state);
}
