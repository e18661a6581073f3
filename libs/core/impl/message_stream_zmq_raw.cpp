#include "message_stream_zmq_raw.hpp"

#include <zmq.h>

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <exception>
#include <iterator>
#include <utility>

namespace tvk {
namespace libs {
namespace core {

namespace {

class subscription_impl : public message_stream::subscription {
public:
    explicit subscription_impl(std::shared_ptr<message_stream::callback> _callback)
        : m_callback(std::move(_callback)) {}

private:
    // The only strong owner: the stream's map holds weak pointers.
    std::shared_ptr<message_stream::callback> m_callback;
};

// The first key, in byte-wise order, that _frame starts with.
message_stream_zmq_raw::callbacks_vector* find_callbacks(
    message_stream_zmq_raw::callbacks_map& _callbacks, boost::string_view _frame) {
    for (auto& entry : _callbacks) {
        if (_frame.starts_with(entry.first)) {
            return &entry.second;
        }
    }
    return nullptr;
}

// What one callback throws does not keep the frame from the callbacks after it.
std::vector<std::exception_ptr> call_callbacks(
    const message_stream_zmq_raw::callbacks_vector& _callbacks, boost::string_view _frame) {
    std::vector<std::exception_ptr> errors;
    // By index over the entries present now: a callback may subscribe (the vector may grow
    // and move) or drop handles while it runs; those subscribed now get the next frame.
    const std::size_t count = _callbacks.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (const auto callback = _callbacks[i].lock()) {
            try {
                (*callback)(_frame);
            } catch (...) {
                errors.push_back(std::current_exception());
            }
        }
    }
    return errors;
}

// The loop logs what the callbacks threw as it logs any exception that escapes a handler: the
// first leaves this handler, each further one a handler of its own.
void raise_to_loop(boost::asio::io_context& _io_context,
                   const std::vector<std::exception_ptr>& _errors) {
    if (_errors.empty()) {
        return;
    }
    for (auto error = std::next(_errors.begin()); error != _errors.end(); ++error) {
        boost::asio::post(_io_context, [raised = *error] { std::rethrow_exception(raised); });
    }
    std::rethrow_exception(_errors.front());
}

void remove_expired_callbacks(message_stream_zmq_raw::callbacks_vector& _callbacks) {
    _callbacks.erase(std::remove_if(_callbacks.begin(), _callbacks.end(),
                                    [](const std::weak_ptr<message_stream::callback>& _callback) {
                                        return _callback.expired();
                                    }),
                     _callbacks.end());
}

}  // namespace

message_stream_zmq_raw::message_stream_zmq_raw(boost::asio::io_context& _io_context,
                                               const component_logger& _logger,
                                               const std::string& _address)
    : m_callbacks(std::make_shared<callbacks_map>())
    , m_socket(_io_context, ZMQ_SUB)
    , m_logger(_logger) {
    m_socket.connect(_address);
    setup_receive();
}

message_stream_zmq_raw::~message_stream_zmq_raw() {
    boost::system::error_code ec;
    m_socket.cancel(ec);
    if (ec) {
        m_logger.log_error(ec, TVK_SOURCE_LOCATION);
    }
}

message_stream::subscription::ptr message_stream_zmq_raw::subscribe(boost::string_view _channel,
                                                                    callback _callback) {
    std::string topic(_channel);
    auto found = m_callbacks->find(topic);
    if (found == m_callbacks->end()) {
        // The key is recorded only once the socket has taken the subscription, so a failed
        // topic is subscribed again by its next subscribe.
        m_socket.subscribe(topic);
        found = m_callbacks->emplace(std::move(topic), callbacks_vector()).first;
    }
    auto shared_callback = std::make_shared<callback>(std::move(_callback));
    found->second.push_back(shared_callback);
    return std::make_unique<subscription_impl>(std::move(shared_callback));
}

std::chrono::steady_clock::time_point message_stream_zmq_raw::read_until() {
    // A frame is taken only once the one before it is being handed on, so the socket found
    // empty means that every frame before then has been handed on, or is by the running
    // handler. Once a receive failed, no frame waits to be read: none will be.
    return m_receive_failed ? std::chrono::steady_clock::now() : m_socket.emptied_at();
}

std::vector<std::exception_ptr> message_stream_zmq_raw::process_message(callbacks_map& _callbacks,
                                                                        boost::string_view _frame) {
    callbacks_vector* callbacks = find_callbacks(_callbacks, _frame);
    if (callbacks == nullptr) {
        return {};
    }
    auto errors = call_callbacks(*callbacks, _frame);
    remove_expired_callbacks(*callbacks);
    return errors;
}

void message_stream_zmq_raw::setup_receive() {
    m_socket.async_receive([weak_callbacks = std::weak_ptr<callbacks_map>(m_callbacks),
                            &logger = m_logger,
                            this](const boost::system::error_code& _ec, zmq::message _frame) {
        if (_ec) {
            if (_ec != boost::asio::error::operation_aborted) {
                logger.log_error(_ec, TVK_SOURCE_LOCATION);
                if (weak_callbacks.lock()) {
                    m_receive_failed = true;
                }
            }
            return;
        }
        const auto callbacks = weak_callbacks.lock();
        if (!callbacks) {
            return;
        }
        // Armed before any callback runs, so a throwing callback does not end the stream.
        // The frame belongs to this handler and the map is held, so a callback that destroys
        // the stream leaves both intact until the frame is done.
        setup_receive();
        // Taken before the callbacks, one of which may destroy the stream.
        auto& io_context = m_socket.get_io_context();
        raise_to_loop(io_context, process_message(*callbacks, _frame.string_view()));
    });
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
