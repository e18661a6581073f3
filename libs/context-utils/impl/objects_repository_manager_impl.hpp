#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "context_initializer.hpp"
#include "context_updater.hpp"
#include "context_utils/objects_repository_manager.hpp"
#include "context_utils/timestamp.hpp"
#include "core/async_operation_handle.hpp"
#include "core/exception.hpp"
#include "core/http/result.hpp"
#include "core/logger.hpp"
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
// The timers manager must outlive the manager. The initializer and the updater may go first:
// the updater's callbacks never reach a destroyed manager, and a manager whose initializer is
// gone no longer refreshes and drops a refresh answer in flight.
template <class ObjectInterface, class ObjectImplementation>
class objects_repository_manager_impl : public objects_repository_manager<ObjectInterface> {
public:
    typedef typename objects_repository_manager<ObjectInterface>::objects objects;
    typedef ObjectImplementation object_implementation;
    typedef typename objects_repository_manager<ObjectInterface>::skipped_elements skipped_elements;

    // Blocks until the server's list of the kind has been loaded; raises what the load
    // raises. An element that cannot be read is logged and left out.
    objects_repository_manager_impl(const object_info& _info,
                                    context_initializer& _context_initializer,
                                    context_updater& _context_updater,
                                    core::timers_manager& _timers)
        : m_info(_info)
        , m_context_initializer(_context_initializer)
        , m_initializer_life(_context_initializer.get_life_token()) {
        std::size_t index = 0;
        _context_initializer.for_each_object_on_server(_info,
                                                       [this, &index](const json_object& _object) {
                                                           load(_object, index++);
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

    const skipped_elements& get_skipped_at_load() const override { return m_skipped_at_load; }

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

    typedef std::set<std::string, std::less<>> uids;

    // The object of one element of the list with its uid read, and its update time too when
    // _timed; or, when they cannot be read, none and why, with the uid if that was read.
    struct element {
        std::unique_ptr<ObjectImplementation> object;
        std::string reason;
        boost::optional<std::string> uid;
    };

    static element read(const json_object& _json, bool _timed) {
        element result;
        if (!_json.get_json().isObject()) {
            result.reason = "not an object";
            return result;
        }
        auto object = std::make_unique<ObjectImplementation>(_json);
        try {
            result.uid = object->get_uid();
            if (_timed) {
                object->get_updated_at();
            }
        } catch (const core::exception& e) {
            result.reason = e.get_string_error();
            return result;
        }
        result.object = std::move(object);
        return result;
    }

    // The first load leaves an unreadable element out, so that it cannot keep the others
    // from being loaded.
    void load(const json_object& _json, std::size_t _index) {
        element read_element = read(_json, true);
        if (!read_element.object) {
            m_context_initializer.get_logger()
                    .error("Skipped element %1% of %2%: %3%")
                    .location(TVK_SOURCE_LOCATION) %
                _index % m_info.m_rest_endpoint % read_element.reason;
            // Its object is not known to be gone: the users of the repository can tell.
            if (read_element.uid) {
                m_skipped_at_load.uids.insert(*read_element.uid);
            } else {
                m_skipped_at_load.unknown_uids = true;
            }
            return;
        }
        const timestamp ts = read_element.object->get_updated_at();
        m_objects.update_or_add(std::move(read_element.object), ts);
    }

    // The time is read before the repository is touched, so a bad message changes nothing.
    void update(const json_notify& _message) {
        std::unique_ptr<ObjectImplementation> object =
            std::make_unique<ObjectImplementation>(_message);
        const timestamp ts = object->get_updated_at();
        note_change(object->get_uid());
        m_objects.update_or_add(std::move(object), ts);
    }

    void remove(const json_notify& _message) {
        const ObjectImplementation object(_message);
        const timestamp ts = object.get_updated_at();
        note_change(object.get_uid());
        m_objects.remove(object.get_uid(), ts);
    }

    // A notice handled while a refresh is in flight is newer than that refresh's answer.
    void note_change(const std::string& _uid) {
        if (m_changed_since_request) {
            m_changed_since_request->insert(_uid);
        }
    }

    // Replacing the handle abandons a refresh that has not been answered yet.
    void refresh() {
        if (m_initializer_life.expired()) {
            return;
        }
        m_changed_since_request.emplace();
        m_request = m_context_initializer.get_objects_async(
            m_info, [this](boost::optional<json_answer> _answer) { apply(_answer); });
    }

    // Every listed object is updated or added, in answer order, then every stored object that
    // is no longer listed is removed; all with one time. A uid that a notice changed since the
    // request was sent is left as the notice made it. A failed request changes nothing, and
    // neither does an answer without the list or with an element whose uid cannot be read: it
    // raises before the repository is touched, instead of leaving a refresh half-applied.
    void apply(const boost::optional<json_answer>& _answer) {
        const uids changed = m_changed_since_request ? std::move(*m_changed_since_request) : uids();
        m_changed_since_request.reset();
        if (!_answer) {
            return;
        }
        std::vector<std::unique_ptr<ObjectImplementation>> listed;
        m_context_initializer.for_each_object(
            m_info, *_answer, [this, &listed](const json_object& _object) {
                element read_element = read(_object, false);
                if (!read_element.object) {
                    TVK_THROW(context_initializer::refused_answer(
                        m_info,
                        "element " + std::to_string(listed.size()) + ": " + read_element.reason));
                }
                listed.push_back(std::move(read_element.object));
                return true;
            });
        uids seen;
        const timestamp now = timestamp::current_time();
        for (auto& object : listed) {
            const std::string& uid = object->get_uid();
            seen.insert(uid);
            if (changed.count(uid) == 0) {
                m_objects.update_or_add(std::move(object), now);
            }
        }
        m_objects.for_each([this, &seen, &changed, now](const ObjectInterface& _object) {
            const std::string& uid = _object.get_uid();
            if (seen.count(uid) == 0 && changed.count(uid) == 0) {
                m_objects.remove(uid, now);
            }
            return true;
        });
    }

    const object_info& m_info;
    context_initializer& m_context_initializer;
    // Expired once the initializer, and the synchroniser that owns it, are gone.
    std::weak_ptr<const bool> m_initializer_life;
    objects m_objects;
    skipped_elements m_skipped_at_load;
    core::periodic_timer::ptr m_timer;
    request_handle m_request;
    // Engaged while a refresh is in flight: the uids that notices changed since it was sent.
    boost::optional<uids> m_changed_since_request;
    // Last, so that it expires first when the manager is destroyed.
    std::shared_ptr<const bool> m_life_token = std::make_shared<const bool>(true);
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
