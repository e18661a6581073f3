#pragma once

#include <algorithm>
#include <boost/noncopyable.hpp>
#include <boost/optional.hpp>
#include <boost/utility/string_view.hpp>
#include <cstddef>
#include <exception>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "context_utils/timestamp.hpp"
#include "core/exception.hpp"
#include "core/stl.hpp"

namespace tvk {
namespace libs {
namespace context_utils {

// Objects of one kind keyed by uid; every subscribed observer hears of each creation, update
// and deletion synchronously, in subscription order. Abstract kinds are stored behind a
// unique pointer, value kinds by value. Single-threaded: no lock.
template <class _ObjectType>
class objects_repository {
public:
    typedef _ObjectType T;
    typedef std::function<bool(const T&)> callback;
    typedef std::conditional_t<std::is_abstract<T>::value, std::unique_ptr<T>, T> storage_type;

    // The entry of a value kind.
    struct object_holder {
        explicit object_holder(T&& _object) : m_object(std::move(_object)) {}
        object_holder(object_holder&&) = default;

        T& get_object() { return m_object; }
        const T& get_object() const { return m_object; }

        T m_object;
        // True while a writable_object is bound to the entry.
        bool m_dispatching_events = false;
        // The time of a removal asked for while the entry was dispatching.
        boost::optional<timestamp> m_should_be_deleted;
        // True while the observers hear before_deleting; the entry cannot be erased meanwhile.
        bool m_being_deleted = false;
        // The add and update walks over the entry now running; a removal waits for them.
        unsigned int m_notifying = 0;
    };

    // The entry of an abstract kind.
    struct abstract_object_holder {
        explicit abstract_object_holder(std::unique_ptr<T>&& _object)
            : m_object(std::move(_object)) {}
        abstract_object_holder(abstract_object_holder&&) = default;

        T& get_object() { return *m_object; }
        const T& get_object() const { return *m_object; }

        std::unique_ptr<T> m_object;
        bool m_dispatching_events = false;
        boost::optional<timestamp> m_should_be_deleted;
        bool m_being_deleted = false;
        unsigned int m_notifying = 0;
    };

    typedef std::conditional_t<std::is_abstract<T>::value, abstract_object_holder, object_holder>
        map_storage_type;

    class observer {
    public:
        virtual ~observer() {}
        virtual void after_creating(const T& _object, timestamp _ts) = 0;
        virtual void after_updating(const T& _object, timestamp _ts) = 0;
        virtual void before_deleting(const T& _object, timestamp _ts) = 0;
    };

    // The subscribed observers in subscription order. While a notification walks them, an
    // unsubscribed observer leaves a gap instead of shifting the others, so the walk neither
    // skips nor calls a gone observer; gaps are closed when the outermost walk ends.
    class observers_container : boost::noncopyable {
    public:
        observers_container() = default;

        void push_back(observer& _observer) { m_items.push_back(&_observer); }

        // Removes every occurrence of _observer.
        void erase_all(const observer& _observer) noexcept { erase(_observer, false); }
        // Removes the first occurrence of _observer.
        void erase_one(const observer& _observer) noexcept { erase(_observer, true); }

        // Calls _call with each observer subscribed when the walk starts and still subscribed
        // when its turn comes.
        template <class F>
        void for_each_observer(F&& _call) {
            walk_guard guard(*this);
            const std::size_t count = m_items.size();
            for (std::size_t i = 0; i < count; ++i) {
                if (observer* current = m_items[i]) {
                    _call(*current);
                }
            }
        }

    private:
        struct walk_guard {
            explicit walk_guard(observers_container& _container) : m_container(_container) {
                ++m_container.m_walks;
            }
            ~walk_guard() {
                if (--m_container.m_walks == 0) {
                    m_container.close_gaps();
                }
            }
            observers_container& m_container;
        };

        void erase(const observer& _observer, bool _only_first) noexcept {
            for (auto& item : m_items) {
                if (item == &_observer) {
                    item = nullptr;
                    m_has_gaps = true;
                    if (_only_first) {
                        break;
                    }
                }
            }
            if (m_walks == 0) {
                close_gaps();
            }
        }

        void close_gaps() noexcept {
            if (m_has_gaps) {
                m_items.erase(std::remove(m_items.begin(), m_items.end(), nullptr), m_items.end());
                m_has_gaps = false;
            }
        }

        std::vector<observer*> m_items;
        unsigned int m_walks = 0;
        bool m_has_gaps = false;
    };

    // Keeps an observer subscribed while it lives.
    class subscription_handle {
    public:
        typedef typename objects_repository::observers_container observers_container;

        subscription_handle(observers_container& _observers, observer& _observer)
            : m_observers(_observers), m_observer(_observer) {}
        subscription_handle(subscription_handle&& _other) noexcept
            : m_observers(_other.m_observers), m_observer(_other.m_observer) {
            _other.m_observers = boost::none;
        }
        // Unsubscribes the observer this handle held before.
        subscription_handle& operator=(subscription_handle&& _other) noexcept {
            if (this != &_other) {
                if (m_observers) {
                    // `h = repo.subscribe(o)` while h holds o: keep the new subscription.
                    if (_other.m_observers && &*_other.m_observers == &*m_observers &&
                        &_other.m_observer.get() == &m_observer.get()) {
                        m_observers->erase_one(m_observer.get());
                    } else {
                        m_observers->erase_all(m_observer.get());
                    }
                }
                m_observers = _other.m_observers;
                m_observer = _other.m_observer;
                _other.m_observers = boost::none;
            }
            return *this;
        }
        subscription_handle(const subscription_handle&) = delete;
        subscription_handle& operator=(const subscription_handle&) = delete;

        // Unsubscribes every occurrence of the observer.
        ~subscription_handle() {
            if (m_observers) {
                m_observers->erase_all(m_observer.get());
            }
        }

    private:
        boost::optional<observers_container&> m_observers;
        std::reference_wrapper<observer> m_observer;
    };

    // Write access to one stored object. While it is bound the entry is dispatching and a
    // removal of it is deferred; its release tells every observer after_updating, then
    // performs the deferred removal. The release may throw: it is the one destructor here
    // that does.
    class writable_object : boost::noncopyable {
    public:
        // Raises when the entry is already being written or deleted.
        writable_object(map_storage_type& _object, objects_repository& _repo, timestamp _timestamp)
            : m_object(_object)
            , m_repositiory(_repo)
            , m_timestamp(_timestamp)
            , m_uncaught_exceptions(std::uncaught_exceptions()) {
            if (_object.m_being_deleted) {
                TVK_THROW("Object with uid: " + _object.get_object().get_uid() +
                          " is being deleted");
            }
            if (_object.m_dispatching_events) {
                TVK_THROW("Object with uid: " + _object.get_object().get_uid() +
                          " is already being written");
            }
            _object.m_dispatching_events = true;
        }
        // Takes over the binding; the source is left unbound and its release does nothing.
        writable_object(writable_object&& _writable_object)
            : boost::noncopyable()
            , m_object(_writable_object.m_object)
            , m_repositiory(_writable_object.m_repositiory)
            , m_timestamp(_writable_object.m_timestamp)
            , m_uncaught_exceptions(std::uncaught_exceptions()) {
            _writable_object.m_repositiory = boost::none;
        }
        ~writable_object() noexcept(false) { release(); }

        // Raise once the access has ended (released or moved from): the object may be gone,
        // and a change made then would reach no observer.
        T* operator->() { return &object(); }
        T& operator*() { return object(); }

        // Ends the write access now (the destructor does it otherwise). An observer's
        // exception leaves it after the deferred removal, unless another exception was
        // already propagating when the release began: then it is swallowed. Of two
        // exceptions the first is kept.
        void release() {
            if (!m_repositiory) {
                return;
            }
            objects_repository& repository = *m_repositiory;
            m_repositiory = boost::none;
            const bool unwinding = std::uncaught_exceptions() > m_uncaught_exceptions;
            std::exception_ptr failure;
            try {
                repository.notify([this](observer& _observer) {
                    _observer.after_updating(m_object.get_object(), m_timestamp);
                });
            } catch (...) {
                if (!unwinding) {
                    failure = std::current_exception();
                }
            }
            m_object.m_dispatching_events = false;
            if (m_object.m_should_be_deleted) {
                const timestamp removal_time = *m_object.m_should_be_deleted;
                m_object.m_should_be_deleted = boost::none;
                try {
                    repository.remove(m_object.get_object().get_uid(), removal_time);
                } catch (...) {
                    if (!unwinding && !failure) {
                        failure = std::current_exception();
                    }
                }
            }
            if (failure) {
                std::rethrow_exception(failure);
            }
        }

    private:
        T& object() {
            if (!m_repositiory) {
                TVK_THROW("The write access has ended: it was released or moved");
            }
            return m_object.get_object();
        }

        map_storage_type& m_object;
        boost::optional<objects_repository&> m_repositiory;
        timestamp m_timestamp;
        // Exceptions in flight when this object was made: more at the release means the
        // release runs during unwinding.
        int m_uncaught_exceptions;
    };

    // What try_get(_uid, _ts) gives: an optional writable_object whose release, unlike that
    // of boost::optional, may throw.
    class optional_writable_object {
    public:
        optional_writable_object() = default;
        optional_writable_object(optional_writable_object&& _other) {
            if (_other.m_value) {
                m_value.emplace(std::move(*_other.m_value));
                _other.m_value = boost::none;
            }
        }
        optional_writable_object& operator=(optional_writable_object&&) = delete;
        ~optional_writable_object() noexcept(false) { reset(); }

        explicit operator bool() const { return m_value.has_value(); }
        bool operator!() const { return !m_value; }
        bool has_value() const { return m_value.has_value(); }
        bool is_initialized() const { return m_value.has_value(); }

        // Raise boost::bad_optional_access when empty.
        writable_object& get() { return m_value.value(); }
        writable_object& operator*() { return m_value.value(); }
        writable_object* operator->() { return &m_value.value(); }

        // Releases the write access now, if any.
        void reset() {
            if (m_value) {
                m_value->release();
                m_value = boost::none;
            }
        }

    private:
        friend class objects_repository;

        optional_writable_object(map_storage_type& _object, objects_repository& _repo,
                                 timestamp _timestamp) {
            m_value.emplace(_object, _repo, _timestamp);
        }

        boost::optional<writable_object> m_value;
    };

    objects_repository() = default;
    objects_repository(const objects_repository&) = delete;
    objects_repository& operator=(const objects_repository&) = delete;

    // Calls _callback with every object in ascending uid order until it returns false; returns
    // whether it never did. The callback may remove any entry.
    bool for_each(callback _callback) const {
        walk_cursor cursor(*this);
        while (cursor.m_next != m_objects.end()) {
            const auto current = cursor.m_next++;
            if (!_callback(current->second.get_object())) {
                return false;
            }
        }
        return true;
    }

    // Raises when no object has _uid.
    const T& get(boost::string_view _uid) const {
        const auto entry = tvk::libs::core::lookup(m_objects, _uid);
        if (!entry) {
            TVK_THROW("Cannot get object with uid: " + std::string(_uid.data(), _uid.size()));
        }
        return entry->get_object();
    }

    boost::optional<const T&> try_get(boost::string_view _uid) const {
        const auto entry = tvk::libs::core::lookup(m_objects, _uid);
        if (!entry) {
            return boost::none;
        }
        return entry->get_object();
    }

    bool is_exists(boost::string_view _uid) const { return static_cast<bool>(try_get(_uid)); }

    // Stores the object and tells after_creating. Under a uid already stored the stored object
    // stays, the new one is dropped and the observers hear of the stored one. A removal asked
    // for by an observer meanwhile is performed once every observer has heard of the object;
    // then this raises, since there is no object left to return.
    const T& add(storage_type _object, timestamp _ts) {
        const auto found = store(std::move(_object));
        if (const auto gone = tell_created(found, _ts)) {
            TVK_THROW("Object with uid: " + *gone + " was removed while it was being added");
        }
        return found->second.get_object();
    }

    // Replaces the object of the same uid, destroying the old one before after_updating is
    // told, or adds it (after_creating). A removal asked for meanwhile waits for the walk.
    void update_or_add(storage_type _object, timestamp _ts) {
        map_storage_type entry(std::move(_object));
        const auto found = m_objects.find(entry.get_object().get_uid());
        if (found == m_objects.end()) {
            tell_created(store(std::move(entry.m_object)), _ts);
            return;
        }
        map_storage_type& stored = found->second;
        stored.m_object = std::move(entry.m_object);
        tell_observers(found, [&stored, _ts](observer& _observer) {
            _observer.after_updating(stored.get_object(), _ts);
        });
    }

    // Write access to the object under _uid, or nothing. Raises when the object is already
    // being written or deleted.
    optional_writable_object try_get(boost::string_view _uid, timestamp _ts) {
        const auto entry = tvk::libs::core::lookup(m_objects, _uid);
        if (!entry) {
            return optional_writable_object();
        }
        return optional_writable_object(*entry, *this, _ts);
    }

    // Tells before_deleting and erases; while the entry is dispatching, or its observers hear
    // of its creation or update, only records the removal, which is performed when that ends.
    // _uid may refer into the object itself.
    void remove(const std::string& _uid, timestamp _ts) {
        const auto found = m_objects.find(_uid);
        if (found == m_objects.end()) {
            return;
        }
        map_storage_type& entry = found->second;
        if (entry.m_being_deleted) {
            // Asked again by an observer of this very removal.
            return;
        }
        if (entry.m_dispatching_events || entry.m_notifying != 0) {
            entry.m_should_be_deleted = _ts;
            return;
        }
        erase(found, _ts);
    }

    subscription_handle subscribe(observer& _observer) const {
        m_observers.push_back(_observer);
        return subscription_handle(m_observers, _observer);
    }

private:
    typedef std::map<std::string, map_storage_type, std::less<void>> objects_map;

    // The position of a running for_each; a removal moves it past the erased entry.
    struct walk_cursor {
        explicit walk_cursor(const objects_repository& _repository)
            : m_repository(_repository)
            , m_next(_repository.m_objects.begin())
            , m_outer(_repository.m_cursors) {
            m_repository.m_cursors = this;
        }
        ~walk_cursor() { m_repository.m_cursors = m_outer; }
        walk_cursor(const walk_cursor&) = delete;
        walk_cursor& operator=(const walk_cursor&) = delete;

        const objects_repository& m_repository;
        typename objects_map::const_iterator m_next;
        walk_cursor* m_outer;
    };

    // The entry under the object's uid: a new one, or the stored one, in which case the
    // object given is destroyed here, before any observer hears of the stored one.
    typename objects_map::iterator store(storage_type&& _object) {
        map_storage_type entry(std::move(_object));
        const std::string& uid = entry.get_object().get_uid();
        auto found = m_objects.lower_bound(uid);
        if (found == m_objects.end() || found->first != uid) {
            found = m_objects.emplace_hint(found, uid, std::move(entry));
        }
        return found;
    }

    // Tells after_creating; gives the uid when a removal asked for meanwhile erased the entry.
    boost::optional<std::string> tell_created(typename objects_map::iterator _found,
                                              timestamp _ts) {
        map_storage_type& stored = _found->second;
        return tell_observers(_found, [&stored, _ts](observer& _observer) {
            _observer.after_creating(stored.get_object(), _ts);
        });
    }

    // Walks the observers about one entry, which no removal may erase meanwhile: the observers
    // after the one that asks and the caller still use it. A removal asked for during the walk
    // is performed when the walk ends, also when an observer raised (whose exception then
    // wins). Gives the uid when that removal erased the entry.
    template <class F>
    boost::optional<std::string> tell_observers(typename objects_map::iterator _found, F&& _call) {
        map_storage_type& entry = _found->second;
        ++entry.m_notifying;
        try {
            notify(std::forward<F>(_call));
        } catch (...) {
            --entry.m_notifying;
            try {
                perform_waiting_removal(_found);
            } catch (...) {
            }
            throw;
        }
        --entry.m_notifying;
        return perform_waiting_removal(_found);
    }

    // Performs a removal that waited for the walks over the entry, unless one still runs or a
    // write access still holds the entry. Gives the uid when the entry was erased.
    boost::optional<std::string> perform_waiting_removal(typename objects_map::iterator _found) {
        map_storage_type& entry = _found->second;
        if (!entry.m_should_be_deleted || entry.m_notifying != 0 || entry.m_dispatching_events ||
            entry.m_being_deleted) {
            return boost::none;
        }
        const timestamp removal_time = *entry.m_should_be_deleted;
        entry.m_should_be_deleted = boost::none;
        std::string uid = _found->first;
        erase(_found, removal_time);
        return uid;
    }

    // Tells before_deleting, then erases the entry; an observer's exception leaves it stored.
    void erase(typename objects_map::iterator _found, timestamp _ts) {
        map_storage_type& entry = _found->second;
        entry.m_being_deleted = true;
        try {
            notify([&entry, _ts](observer& _observer) {
                _observer.before_deleting(entry.get_object(), _ts);
            });
        } catch (...) {
            entry.m_being_deleted = false;
            throw;
        }
        // The mark kept the entry from being erased by the observers, so `_found` is valid.
        for (walk_cursor* cursor = m_cursors; cursor != nullptr; cursor = cursor->m_outer) {
            if (cursor->m_next == _found) {
                ++cursor->m_next;
            }
        }
        m_objects.erase(_found);
    }

    template <class F>
    void notify(F&& _call) {
        m_observers.for_each_observer(std::forward<F>(_call));
    }

    // Members go in reverse order: the observer list before the entries, and no observer is
    // called on the way.
    objects_map m_objects;
    mutable observers_container m_observers;
    mutable walk_cursor* m_cursors = nullptr;
};

}  // namespace context_utils
}  // namespace libs
}  // namespace tvk
