#pragma once

// Stand-ins of the message stream and the HTTP client for the parts that read messages and
// post frames: no sockets.
#include <boost/utility/string_view.hpp>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/http/client.hpp"
#include "core/message_stream.hpp"

namespace service_test {

namespace http = tvk::libs::core::http;

// Keeps the callbacks by topic as the real stream does: only while their handle lives.
class fake_stream : public tvk::libs::core::message_stream {
public:
    subscription::ptr subscribe(boost::string_view _channel, callback _callback) override {
        auto shared = std::make_shared<callback>(std::move(_callback));
        m_topics.push_back(std::string(_channel));
        m_callbacks.emplace_back(std::string(_channel), shared);
        return std::make_unique<handle>(std::move(shared));
    }

    void deliver(const std::string& _topic, const std::string& _text) {
        for (const auto& entry : m_callbacks) {
            const auto callback = entry.second.lock();
            if (entry.first == _topic && callback) {
                (*callback)(_text);
            }
        }
    }

    std::size_t live_subscriptions() const {
        std::size_t count = 0;
        for (const auto& entry : m_callbacks) {
            count += entry.second.expired() ? 0 : 1;
        }
        return count;
    }

    std::vector<std::string> m_topics;

private:
    struct handle : subscription {
        explicit handle(std::shared_ptr<callback> _callback) : m_callback(std::move(_callback)) {}
        std::shared_ptr<callback> m_callback;
    };
    std::vector<std::pair<std::string, std::weak_ptr<callback>>> m_callbacks;
};

// Records blocking requests and answers each with m_answer.
class fake_client : public http::client {
public:
    struct request {
        http::method method;
        std::string address;
        std::string body;
    };

    http::result perform_request(http::method _method, boost::string_view _address) override {
        return perform_request(_method, _address, boost::string_view());
    }
    http::result perform_request(http::method _method, boost::string_view _address,
                                 boost::string_view _body) override {
        m_requests.push_back({_method, std::string(_address), std::string(_body)});
        return m_answer;
    }
    handle::ptr perform_async_request(http::method, std::string, handle::callback) override {
        throw std::logic_error("blocking requests only");
    }
    handle::ptr perform_async_request(http::method, std::string, std::string,
                                      handle::callback) override {
        throw std::logic_error("blocking requests only");
    }
    handle::ptr perform_async_request(http::method, std::string, std::string) override {
        throw std::logic_error("blocking requests only");
    }

    // The hex frames posted so far.
    std::vector<std::string> frames() const {
        std::vector<std::string> result;
        for (const auto& r : m_requests) {
            const std::string prefix = "{\"data\":{\"hex\":\"";
            result.push_back(
                r.body.substr(prefix.size(), r.body.find('"', prefix.size()) - prefix.size()));
        }
        return result;
    }

    std::vector<request> m_requests;
    http::result m_answer{"", 200};
};

}  // namespace service_test
