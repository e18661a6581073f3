#include "context_initializer.hpp"

#include <thread>
#include <utility>

#include "core/exception.hpp"
#include "core/json.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

namespace {
std::string not_an_array(const std::string& _key) {
    return "\"" + _key + "\" is not an array!";
}

std::string parse_error(const core::json::parse_result& _parsed) {
    return "parse error: " + _parsed.error;
}

bool holds_list(const Json::Value& _answer, const object_info& _info) {
    return _answer.isObject() && _answer[_info.m_rest_json_name].isArray();
}
}  // namespace

std::string context_initializer::refused_answer(const object_info& _info,
                                                const std::string& _reason) {
    return "Refused the answer of " + _info.m_rest_endpoint + ": " + _reason;
}

context_initializer::context_initializer(core::http::client& _http_client,
                                         core::events_loop& _events_loop,
                                         const core::component_logger& _logger,
                                         std::chrono::milliseconds _retry_period)
    : m_http_client(_http_client)
    , m_events_loop(_events_loop)
    , m_logger(_logger)
    , m_retry_period(_retry_period) {}

void context_initializer::initialize() {
    const std::pair<const object_info*, const callback*> kinds[] = {
        {&object_infos::trackable_object, &m_trackable_object_creating_callback},
        {&object_infos::zone, &m_zone_creating_callback},
        {&object_infos::sublocation, &m_sublocation_creating_callback},
        {&object_infos::node, &m_node_creating_callback},
    };
    for (const auto& kind : kinds) {
        const callback& slot = *kind.second;
        if (!slot) {
            continue;
        }
        // Each element goes to what the slot holds when its turn comes, called through a copy:
        // a callback may replace or empty its own slot while it runs.
        for_each_object_on_server(*kind.first, [&slot](const json_object& _object) {
            if (slot) {
                const callback current = slot;
                current(_object);
            }
            return true;
        });
    }
}

void context_initializer::on_zone_creating(callback _callback) {
    m_zone_creating_callback = std::move(_callback);
}

void context_initializer::on_trackable_object_creating(callback _callback) {
    m_trackable_object_creating_callback = std::move(_callback);
}

void context_initializer::on_sublocation_creating(callback _callback) {
    m_sublocation_creating_callback = std::move(_callback);
}

void context_initializer::on_node_creating(callback _callback) {
    m_node_creating_callback = std::move(_callback);
}

bool context_initializer::for_each_object_on_server(const object_info& _info,
                                                    const bool_callback& _callback) {
    return for_each_object(_info, perform_get_request(_info), _callback);
}

core::async_operation_handle<core::http::result>::ptr context_initializer::get_objects_async(
    const object_info& _info, answer_callback _callback) const {
    return m_http_client.perform_async_request(
        core::http::method::get, _info.m_rest_endpoint,
        [this, life = get_life_token(), &_info,
         callback = std::move(_callback)](core::http::result _result) {
            if (life.expired()) {
                return;
            }
            if (const auto& body = _result.data()) {
                auto parsed = core::json::try_parse(*body);
                if (!parsed.ok) {
                    TVK_THROW(refused_answer(_info, parse_error(parsed)));
                }
                callback(json_answer(std::move(parsed.result)));
                return;
            }
            log_failure(_result, _info.m_rest_endpoint);
            callback(boost::none);
        });
}

bool context_initializer::for_each_object(const object_info& _info, const json_answer& _answer,
                                          const bool_callback& _callback) const {
    if (!holds_list(_answer.get_json(), _info)) {
        TVK_THROW(refused_answer(_info, not_an_array(_info.m_rest_json_name)));
    }
    for (const Json::Value& object : _answer.get_json()[_info.m_rest_json_name]) {
        if (!_callback(json_object(object))) {
            return false;
        }
    }
    return true;
}

json_answer context_initializer::perform_get_request(const object_info& _info) {
    for (;;) {
        if (m_events_loop.is_stopped()) {
            TVK_THROW("Interrupted");
        }
        const auto result =
            m_http_client.perform_request(core::http::method::get, _info.m_rest_endpoint);
        if (!result.ok()) {
            log_failure(result, _info.m_rest_endpoint);
        } else {
            // A success that does not hold the list (an error page, a cut body) is a failed
            // attempt too: nothing can be loaded from it, and the next one may do.
            auto parsed = core::json::try_parse(*result.data());
            if (!parsed.ok) {
                log_failure(result.status_code(), _info.m_rest_endpoint, parse_error(parsed));
            } else if (!holds_list(parsed.result, _info)) {
                log_failure(result.status_code(), _info.m_rest_endpoint,
                            not_an_array(_info.m_rest_json_name));
            } else {
                return json_answer(std::move(parsed.result));
            }
        }
        std::this_thread::sleep_for(m_retry_period);
    }
}

void context_initializer::log_failure(const core::http::result& _result,
                                      const std::string& _address) const {
    const auto error = _result.error();
    log_failure(_result.status_code(), _address, error ? *error : std::string("{NONE}"));
}

void context_initializer::log_failure(const boost::optional<int>& _code,
                                      const std::string& _address,
                                      const std::string& _response) const {
    m_logger.error("Request failed with code: %1%, addr: %2%, response %3%")
            .location(TVK_SOURCE_LOCATION) %
        (_code ? *_code : -1) % _address % core::cut_for_log(_response);
}

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
