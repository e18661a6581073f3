#include "core/zmq/error.hpp"

#include <zmq.h>

#include <boost/system/system_error.hpp>
#include <string>

namespace tvk {
namespace libs {
namespace core {
namespace zmq {

namespace {

class zmq_category final : public boost::system::error_category {
public:
    const char* name() const noexcept override { return "zmq"; }

    std::string message(int _value) const override { return zmq_strerror(_value); }

    // Plain errno values compare equal to the portable conditions (EAGAIN to
    // errc::resource_unavailable_try_again); libzmq's own numbers have no portable match.
    boost::system::error_condition default_error_condition(int _value) const noexcept override {
        if (_value > 0 && _value < ZMQ_HAUSNUMERO) {
            return boost::system::error_condition(_value, boost::system::generic_category());
        }
        return boost::system::error_condition(_value, *this);
    }
};

}  // namespace

const boost::system::error_category& error_category() noexcept {
    static const zmq_category category;
    return category;
}

boost::system::error_code make_error_code(int _value) noexcept {
    return boost::system::error_code(_value, error_category());
}

boost::system::error_code last_error() noexcept {
    return make_error_code(zmq_errno());
}

void throw_on_error(const boost::system::error_code& _ec, const char* _what) {
    if (_ec) {
        throw boost::system::system_error(_ec, _what);
    }
}

}  // namespace zmq
}  // namespace core
}  // namespace libs
}  // namespace tvk
