#pragma once

#include <boost/system/error_code.hpp>

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

// The category of libzmq's error numbers: the values are errno values (EAGAIN is 11) or
// libzmq's own ones above ZMQ_HAUSNUMERO; the messages are zmq_strerror's.
const boost::system::error_category& error_category() noexcept;

// _value in the category above.
boost::system::error_code make_error_code(int _value) noexcept;

// zmq_errno() of the calling thread in the category above.
boost::system::error_code last_error() noexcept;

// Raises boost::system::system_error with _ec and _what when _ec holds an error.
void throw_on_error(const boost::system::error_code& _ec, const char* _what);

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
