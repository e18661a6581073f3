#pragma once

#include <boost/utility/string_view.hpp>
#include <memory>
#include <string>

#include "core/async_operation_handle.hpp"
#include "core/http/method.hpp"
#include "core/http/result.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace http {

// Requests against one base URL: the request URL is the base followed directly by the
// address. A body, when not empty, goes out as JSON. Made by the events loop.
class client {
public:
    using ptr = std::unique_ptr<client>;
    using handle = async_operation_handle<result>;

    virtual ~client() = default;

    // Blocking: performed on the calling thread. A transfer error or an HTTP error status is
    // reported in the result; a method without a name raises tvk::libs::core::exception.
    virtual result perform_request(method _method, boost::string_view _address) = 0;
    virtual result perform_request(method _method, boost::string_view _address,
                                   boost::string_view _body) = 0;

    // Asynchronous: performed on a worker thread; the result reaches the callback on the loop
    // that made the client, unless every owner of the handle has let it go by then (a handle
    // dropped before a worker takes the request also saves the transfer). Call on that loop's
    // thread.
    virtual handle::ptr perform_async_request(method _method, std::string _address,
                                              handle::callback _callback) = 0;
    virtual handle::ptr perform_async_request(method _method, std::string _address,
                                              std::string _body, handle::callback _callback) = 0;
    // Without a callback: attach one with set_callback before the loop runs again.
    virtual handle::ptr perform_async_request(method _method, std::string _address,
                                              std::string _body) = 0;
};

}  // namespace http
}  // namespace core
}  // namespace libs
}  // namespace tvk
