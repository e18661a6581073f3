#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "context_initializer.hpp"
#include "context_updater.hpp"
#include "context_utils/objects_repository_manager.hpp"
#include "context_utils/timestamp.hpp"
#include "core/async_operation_handle.hpp"
#include "core/http/result.hpp"
#include "core/periodic_timer.hpp"
#include "core/source_location.hpp"
#include "core/timers_manager.hpp"
#include "json_value.hpp"
#include "object_infos.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

// The repository manager of one kind. ObjectImplementation derives from ObjectInterface and
// is built from a json_object (a REST element) or a json_notify (a whole "notify" message).
// The initializer, the updater and the timers manager must outlive the manager's refreshes;
// the updater may go first: its callbacks never reach a destroyed manager.
template <class ObjectInterface, class ObjectImplementation>
class objects_repository_manager_impl : public objects_repository_manager<ObjectInterface> {
public:
    typedef typename objects_repository_manager<ObjectInterface>::objects objects;
    typedef ObjectImplementation object_implementation;

    // Blocks until the server's list of the kind has been loaded; raises what the load or an
    // element raises.
    objects_repository_manager_impl(const object_info& _info,
                                    context_initializer& _context_initializer,
                                    context_updater& _context_updater,
                                    core::timers_manager& _timers)
        : m_info(_info), m_context_initializer(_context_initializer) {
        _context_initializer.for_each_object_on_server(_info, [this](const json_object& _object) {
            update(_object);
            return true;
        });
        _context_updater.on_creating(
            _info, guarded([this](const json_notify& _message) { update(_message); }));
        _context_updater.on_updating(
            _info, guarded([this](const json_notify& _message) { update(_message); }));
        _context_updater.on_deleting(
            _info, guarded([this](const json_notify& _message) { remove(_message); }));
        m_timer = _timers.create_periodic_timer(
            std::chrono::minutes(30), "context_utils: zones updater",
            [this](core::timer::time_point) { refresh(); }, core::source_location());
    }

    objects_repository_manager_impl(const objects_repository_manager_impl&) = delete;
    objects_repository_manager_impl& operator=(const objects_repository_manager_impl&) = delete;

    const objects& get_objects() const override { return m_objects; }

    void disable_timer() override { m_timer->stop(); }

    void set_update_period(std::chrono::nanoseconds _period) override { m_timer->reset(_period); }

private:
    typedef core::async_operation_handle<core::http::result>::ptr request_handle;

    // The router keeps its callbacks after the manager is gone (and may itself be gone by
    // then, so they cannot be withdrawn): each one checks the manager's life token first.
    template <class F>
    context_updater::callback guarded(F _f) const {
        return [token = std::weak_ptr<const bool>(m_life_token),
                f = std::move(_f)](const json_notify& _message) {
            if (!token.expired()) {
                f(_message);
            }
        };
    }

    // The time is read before the repository is touched, so a bad source changes nothing.
    template <class Source>
    void update(const Source& _source) {
        std::unique_ptr<ObjectImplementation> object =
            std::make_unique<ObjectImplementation>(_source);
        const timestamp ts = object->get_updated_at();
        m_objects.update_or_add(std::move(object), ts);
    }

    void remove(const json_notify& _message) {
        const ObjectImplementation object(_message);
        const timestamp ts = object.get_updated_at();
        m_objects.remove(object.get_uid(), ts);
    }

    // Replacing the handle abandons a refresh that has not been answered yet.
    void refresh() {
        m_request = m_context_initializer.get_objects_async(
            m_info, [this](boost::optional<json_answer> _answer) { apply(_answer); });
    }

    // Every listed object is updated or added, in answer order, then every stored object that
    // is no longer listed is removed; all with one time. A failed request changes nothing.
    void apply(const boost::optional<json_answer>& _answer) {
        if (!_answer) {
            return;
        }
        std::set<std::string, std::less<>> seen;
        const timestamp now = timestamp::current_time();
        m_context_initializer.for_each_object(
            m_info, *_answer, [this, &seen, now](const json_object& _object) {
                std::unique_ptr<ObjectImplementation> object =
                    std::make_unique<ObjectImplementation>(_object);
                seen.insert(object->get_uid());
                m_objects.update_or_add(std::move(object), now);
                return true;
            });
        m_objects.for_each([this, &seen, now](const ObjectInterface& _object) {
            if (seen.count(_object.get_uid()) == 0) {
                m_objects.remove(_object.get_uid(), now);
            }
            return true;
        });
    }

    const object_info& m_info;
    context_initializer& m_context_initializer;
    objects m_objects;
    core::periodic_timer::ptr m_timer;
    request_handle m_request;
    // Last, so that it expires first when the manager is destroyed.
    std::shared_ptr<const bool> m_life_token = std::make_shared<const bool>(true);
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
