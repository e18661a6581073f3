#include "test_support/redis_data.hpp"

#include <cstddef>
#include <stdexcept>
#include <string>

namespace test_support {

namespace {
class reply_reader {
public:
    explicit reply_reader(const std::string& _text) : m_text(_text) {}

    redis_reply read() {
        redis_reply reply;
        reply.type = next_char();
        const std::string line = read_line();
        switch (reply.type) {
            case '+':
            case '-':
            case ':':
                reply.text = line;
                break;
            case '$': {
                const long long length = std::stoll(line);
                if (length < 0) {
                    reply.nil = true;
                    break;
                }
                reply.text = take(static_cast<std::size_t>(length));
                read_line();
                break;
            }
            case '*': {
                const long long count = std::stoll(line);
                if (count < 0) {
                    reply.nil = true;
                    break;
                }
                for (long long i = 0; i < count; ++i) {
                    reply.elements.push_back(read());
                }
                break;
            }
            default:
                throw std::runtime_error("not a RESP reply: " + shown());
        }
        return reply;
    }

private:
    char next_char() { return take(1)[0]; }

    std::string take(std::size_t _count) {
        if (m_position + _count > m_text.size()) {
            throw std::runtime_error("RESP reply cut short: " + shown());
        }
        const std::string part = m_text.substr(m_position, _count);
        m_position += _count;
        return part;
    }

    std::string read_line() {
        const auto end = m_text.find("\r\n", m_position);
        if (end == std::string::npos) {
            throw std::runtime_error("RESP reply cut short: " + shown());
        }
        const std::string line = m_text.substr(m_position, end - m_position);
        m_position = end + 2;
        return line;
    }

    // The start of the text, enough to recognise it; a reply may be megabytes long.
    std::string shown() const {
        constexpr std::size_t shown_size = 200;
        return m_text.size() <= shown_size ? m_text
                                           : m_text.substr(0, shown_size) + "... (" +
                                                 std::to_string(m_text.size()) + " bytes)";
    }

    const std::string& m_text;
    std::size_t m_position = 0;
};

std::vector<std::string> texts(const redis_reply& _reply) {
    if (_reply.type != '*') {
        throw std::runtime_error("not an array reply: " + _reply.text);
    }
    std::vector<std::string> result;
    for (const auto& element : _reply.elements) {
        result.push_back(element.text);
    }
    return result;
}
}  // namespace

redis_reply parse_redis_reply(const std::string& _text) {
    return reply_reader(_text).read();
}

std::map<std::string, std::string> redis_hash(const redis_server& _server,
                                              const std::string& _key) {
    const auto fields = texts(parse_redis_reply(_server.command({"HGETALL", _key})));
    std::map<std::string, std::string> hash;
    for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
        hash[fields[i]] = fields[i + 1];
    }
    return hash;
}

std::set<std::string> redis_set(const redis_server& _server, const std::string& _key) {
    const auto members = texts(parse_redis_reply(_server.command({"SMEMBERS", _key})));
    return std::set<std::string>(members.begin(), members.end());
}

std::set<std::string> redis_keys(const redis_server& _server, const std::string& _pattern) {
    const auto keys = texts(parse_redis_reply(_server.command({"KEYS", _pattern})));
    return std::set<std::string>(keys.begin(), keys.end());
}

void store_zone_events(const redis_server& _server, std::size_t _count) {
    const std::string reply = _server.command(
        {"EVAL",
         "for i = 1, tonumber(ARGV[1]) do "
         "local uid = 'T' .. i .. ':Z1'; "
         "redis.call('HSET', 'quillmere:zone_events:' .. uid .. ':fields', 'uid', uid, "
         "'obj_uid', 'T' .. i, 'zone_uid', 'Z1', 'zone_type', 'restricted'); "
         "redis.call('SADD', 'quillmere:zone_events:set', uid) end",
         "0", std::to_string(_count)});
    if (parse_redis_reply(reply).type == '-') {
        throw std::runtime_error("store_zone_events: " + reply);
    }
}

}  // namespace test_support
