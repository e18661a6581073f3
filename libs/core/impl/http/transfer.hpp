#pragma once

#include <curl/curl.h>

#include <boost/utility/string_view.hpp>
#include <chrono>

#include "core/http/method.hpp"
#include "core/http/result.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace http {

// Makes sure curl_global_init has run; the library calls it while the process starts, before
// any thread of its own exists.
void ensure_curl_global_init();

// What a client fixes for all of its requests.
struct transfer_settings {
    boost::string_view base_address;  // the request URL is base_address + address
    std::chrono::seconds timeout;     // the whole transfer
    CURLSH* share = nullptr;          // the calling thread's share handle
};

// Performs one request on the calling thread: _method on base_address + _address, with
// _body as a JSON body unless it is empty. A _disabled method sends nothing and answers 200
// with an empty body. Raises check_failed_exception when no easy handle can be made and
// tvk::libs::core::exception for a method without a name. The transfer uses _easy, whose
// options are reset first (its connections and caches stay), or, without one, an easy
// handle of its own.
result perform_transfer(const transfer_settings& _settings, method _method,
                        boost::string_view _address, boost::string_view _body, bool _disabled,
                        CURL* _easy = nullptr);

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
