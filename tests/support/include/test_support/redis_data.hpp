#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "test_support/redis_server.hpp"

namespace test_support {

// One RESP reply as redis-server writes it.
struct redis_reply {
    char type = 0;                      // '+', '-', ':', '$' or '*'
    bool nil = false;                   // a null bulk string or array
    std::string text;                   // of a status, an error, an integer or a bulk string
    std::vector<redis_reply> elements;  // of an array
};

// Reads one reply from _text; raises std::runtime_error for a text that is not one.
redis_reply parse_redis_reply(const std::string& _text);

// What _server holds, read with one command each; a missing key reads as empty.
std::map<std::string, std::string> redis_hash(const redis_server& _server, const std::string& _key);
std::set<std::string> redis_set(const redis_server& _server, const std::string& _key);
// The keys that match the glob-style _pattern.
std::set<std::string> redis_keys(const redis_server& _server, const std::string& _pattern);

// Stores _count zone events ("T<n>:Z1") as the service writes them, hash and set member, as an
// earlier run would have left them; in one script, so that a hundred thousand take a moment.
void store_zone_events(const redis_server& _server, std::size_t _count);

}  // namespace test_support
