#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "core/async_operation_handle.hpp"
#include "core/events_loop.hpp"
#include "core/http/client.hpp"
#include "core/http/result.hpp"
#include "core/logger.hpp"
#include "json_value.hpp"
#include "object_infos.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

// Loads the location server's lists of objects over its REST interface.
class context_initializer {
public:
    typedef std::function<void(const json_object&)> callback;
    // A false result stops a walk.
    typedef std::function<bool(const json_object&)> bool_callback;
    typedef std::function<void(boost::optional<json_answer>)> answer_callback;

    // _retry_period is the pause between the attempts of a blocking load.
    context_initializer(core::http::client& _http_client, core::events_loop& _events_loop,
                        const core::component_logger& _logger,
                        std::chrono::milliseconds _retry_period = std::chrono::seconds(5));
    context_initializer(const context_initializer&) = delete;
    context_initializer& operator=(const context_initializer&) = delete;

    // Loads, in the order trackable objects, zones, sublocations, nodes, every kind whose
    // creating callback is set, and hands each element to it.
    void initialize();

    // Each replaces the kind's creating callback; an empty function empties the slot.
    void on_zone_creating(callback _callback);
    void on_trackable_object_creating(callback _callback);
    void on_sublocation_creating(callback _callback);
    void on_node_creating(callback _callback);

    // Blocking load of _info's list, then for_each_object over it.
    bool for_each_object_on_server(const object_info& _info, const bool_callback& _callback);
    // One asynchronous GET of _info's list; _callback, run on the client's events loop while
    // the handle is held, gets the parsed answer, or none when the request failed. A success
    // that is not JSON raises there instead. An answer that arrives after this initializer is
    // gone is dropped unlogged.
    core::async_operation_handle<core::http::result>::ptr get_objects_async(
        const object_info& _info, answer_callback _callback) const;
    // Calls _callback with each element of _answer's list for _info, in order, until it
    // returns false; false when it did. Raises core::exception, naming the list's path, when
    // the answer holds no such list.
    bool for_each_object(const object_info& _info, const json_answer& _answer,
                         const bool_callback& _callback) const;

    // Expires when this initializer is destroyed.
    std::weak_ptr<const bool> get_life_token() const { return m_life_token; }

    // The logger of the load failures, for what the callers of a load find in its elements.
    const core::component_logger& get_logger() const { return m_logger; }

    // The text of an error that refuses a whole answer of _info's list for _reason.
    static std::string refused_answer(const object_info& _info, const std::string& _reason);

private:
    // Repeats the GET of _info's list every retry period until a success holds the list;
    // raises "Interrupted" once the events loop has been stopped.
    json_answer perform_get_request(const object_info& _info);
    void log_failure(const core::http::result& _result, const std::string& _address) const;
    void log_failure(const boost::optional<int>& _code, const std::string& _address,
                     const std::string& _response) const;

    core::http::client& m_http_client;
    core::events_loop& m_events_loop;
    const core::component_logger& m_logger;
    callback m_zone_creating_callback;
    callback m_trackable_object_creating_callback;
    callback m_sublocation_creating_callback;
    callback m_node_creating_callback;
    const std::chrono::milliseconds m_retry_period;
    // Last, so that it expires first when the initializer is destroyed.
    std::shared_ptr<const bool> m_life_token = std::make_shared<const bool>(true);
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
