#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace tvk {
namespace libs {
namespace core {
namespace detail {

class scope_guard {
public:
    virtual ~scope_guard() = default;
};

template <class F>
class scope_guard_impl : public scope_guard {
public:
    explicit scope_guard_impl(F&& _callback) : m_callback(std::move(_callback)) {}
    explicit scope_guard_impl(const F& _callback) : m_callback(_callback) {}
    ~scope_guard_impl() override {
        if (m_should_execute) {
            m_callback();
        }
    }

private:
    bool m_should_execute = true;
    F m_callback;
};

}  // namespace detail

// Runs its callable once when the last owner lets it go. The callable must not throw.
using scope_guard = std::unique_ptr<detail::scope_guard>;

template <class F>
scope_guard execute_on_scope_exit(F&& _callback) {
    return std::make_unique<detail::scope_guard_impl<std::decay_t<F>>>(std::forward<F>(_callback));
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
