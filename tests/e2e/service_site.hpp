#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support/debug_socket_collector.hpp"
#include "test_support/eventually.hpp"
#include "test_support/location_site.hpp"
#include "test_support/process.hpp"
#include "test_support/redis_data.hpp"
#include "test_support/service_process.hpp"

// The service binary against a location site of the test's own; its log is read from the
// debug socket, so these tests need no syslog and run in parallel.
namespace e2e {

using namespace std::chrono_literals;

// A bounded wait for something that the service does within a few of its own periods.
constexpr std::chrono::milliseconds deadline = 10s;

// "01" for 1: one byte in upper-case hexadecimal.
inline std::string byte(unsigned int _value) {
    char text[8];
    std::snprintf(text, sizeof(text), "%02X", _value & 0xFFu);
    return text;
}

inline std::string word(unsigned int _value) {
    char text[8];
    std::snprintf(text, sizeof(text), "%04X", _value & 0xFFFFu);
    return text;
}

// The enter frame of a zone made by site::zone: sublocation 3, zone type 2, alarm level 1, no
// custom variable, shape 2 and no vertices.
inline std::string enter_frame(unsigned int _seq_no, unsigned int _zone_id) {
    return "0401000C" + byte(_seq_no) + "01" + "09" + "0003" + word(_zone_id) + "0201" + "00" +
           "02" + "00";
}

inline std::string leave_frame(unsigned int _seq_no, unsigned int _zone_id) {
    return "04020005" + byte(_seq_no) + "0202" + word(_zone_id);
}

inline std::string ack_frame(unsigned int _seq_no) {
    return "04000001" + byte(_seq_no);
}

// Each frame as "<uid> <hex>".
inline std::vector<std::string> frame_texts(
    const std::vector<test_support::posted_frame>& _frames) {
    std::vector<std::string> texts;
    for (const auto& frame : _frames) {
        texts.push_back(frame.uid + " " + frame.hex);
    }
    return texts;
}

inline bool contains(const std::string& _line, const std::string& _text) {
    return _line.find(_text) != std::string::npos;
}

// The log lines that contain _text.
inline std::vector<std::string> lines_containing(const test_support::debug_socket_collector& _log,
                                                 const std::string& _text) {
    std::vector<std::string> found;
    for (const auto& line : _log.lines()) {
        if (contains(line, _text)) {
            found.push_back(line);
        }
    }
    return found;
}

// Index of the first line that contains _text, or -1.
inline long index_of(const std::vector<std::string>& _lines, const std::string& _text) {
    const auto found = std::find_if(_lines.begin(), _lines.end(), [&](const std::string& _line) {
        return contains(_line, _text);
    });
    return found == _lines.end() ? -1 : static_cast<long>(found - _lines.begin());
}

inline bool wait_for_count(const test_support::debug_socket_collector& _log,
                           const std::string& _text, std::size_t _count,
                           std::chrono::milliseconds _timeout = deadline) {
    return _log.wait_for(
        [&](const std::vector<std::string>& _lines) {
            return static_cast<std::size_t>(std::count_if(
                       _lines.begin(), _lines.end(),
                       [&](const std::string& _line) { return contains(_line, _text); })) >= _count;
        },
        _timeout);
}

using test_support::eventually;

// Redis content as the service writes it.
const std::string zone_events_set = "quillmere:zone_events:set";
const std::string devices_set = "quillmere:devices:set";

inline bool has_member(const test_support::redis_server& _redis, const std::string& _set,
                       const std::string& _member) {
    return test_support::redis_set(_redis, _set).count(_member) > 0;
}

inline std::string zone_event_key(const std::string& _uid) {
    return "quillmere:zone_events:" + _uid + ":fields";
}

inline std::string device_key(const std::string& _uid) {
    return "quillmere:devices:" + _uid + ":fields";
}

// Stores a device the way the service does, as a previous run would have left it.
inline void store_device(const test_support::redis_server& _redis, const std::string& _uid,
                         const std::string& _mac, const std::string& _time) {
    _redis.command({"HSET", "quillmere:constants", "version", "1.3.0"});
    _redis.command({"SADD", "quillmere:devices:set", _uid});
    _redis.command({"HSET", device_key(_uid), "uid", _uid, "mac_address", _mac, "create_time",
                    _time, "is_full", "false"});
}

// A site with one restricted zone Z1 (zone id 17) and the tags T1 and T2, each with a node.
inline void one_zone_two_tags(test_support::location_site& _site) {
    namespace site = test_support::site;
    _site.set_trackable_objects(site::list({site::tag("T1", "AA:01"), site::tag("T2", "AA:02")}));
    _site.set_zones(site::list({site::zone("Z1", 17, "restricted")}));
}

// One test's world: a site, a debug-socket collector and a temporary directory, with the
// service's configuration for them.
struct service_site {
    test_support::location_site site;
    test_support::debug_socket_collector log;
    test_support::temporary_directory directory;
    Json::Value config;

    explicit service_site(const std::vector<std::string>& _zone_types = {"restricted"})
        : config(test_support::service_config(site, directory, log.endpoint(), _zone_types)) {}

    std::unique_ptr<test_support::service_process> start() {
        return std::make_unique<test_support::service_process>(QUILLMERE_BINARY, directory, config);
    }

    // Starts the service and waits until its dispatcher has started, one second after the
    // loop began to run.
    std::unique_ptr<test_support::service_process> start_and_wait_until_initialized() {
        const auto before = lines_containing(log, "initializing...").size();
        auto service = start();
        EXPECT_TRUE(wait_for_count(log, "initializing...", before + 1))
            << "the service did not start";
        EXPECT_TRUE(wait_for_count(log, ": called", before + 1));
        return service;
    }
};

}  // namespace e2e
