#include "context_utils/objects_repository.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace cu = tvk::libs::context_utils;
using cu::timestamp;
using log_lines = std::vector<std::string>;

namespace {

timestamp at(long _ms) {
    return timestamp(std::chrono::milliseconds(_ms));
}

// A value kind.
struct item {
    std::string m_uid;
    int m_value;
    const std::string& get_uid() const { return m_uid; }
};
std::string describe(const item& _item) {
    return _item.m_uid + "=" + std::to_string(_item.m_value);
}

// An abstract kind; the implementation writes its destruction into a log.
struct shape {
    virtual ~shape() = default;
    virtual const std::string& get_uid() const = 0;
    virtual int get_size() const = 0;
};
std::string describe(const shape& _shape) {
    return _shape.get_uid() + "=" + std::to_string(_shape.get_size());
}

class shape_impl : public shape {
public:
    shape_impl(std::string _uid, int _size, log_lines& _log)
        : m_uid(std::move(_uid)), m_size(_size), m_log(_log) {}
    ~shape_impl() override { m_log.push_back("destroyed " + describe(*this)); }
    const std::string& get_uid() const override { return m_uid; }
    int get_size() const override { return m_size; }

private:
    std::string m_uid;
    int m_size;
    log_lines& m_log;
};

// Writes "<name> <event> <uid>=<value> @<ms>" for every call, then runs the hook of the event.
template <class T>
class recorder : public cu::objects_repository<T>::observer {
public:
    using hook = std::function<void(const T&, timestamp)>;

    recorder(std::string _name, log_lines& _log) : m_name(std::move(_name)), m_log(_log) {}

    void after_creating(const T& _object, timestamp _ts) override {
        record("created", _object, _ts, on_creating);
    }
    void after_updating(const T& _object, timestamp _ts) override {
        record("updated", _object, _ts, on_updating);
    }
    void before_deleting(const T& _object, timestamp _ts) override {
        record("deleting", _object, _ts, on_deleting);
    }

    hook on_creating, on_updating, on_deleting;

private:
    void record(const char* _event, const T& _object, timestamp _ts, const hook& _hook) {
        m_log.push_back(m_name + " " + _event + " " + describe(_object) + " @" +
                        std::to_string(_ts.get_time_since_epoch().count()));
        if (_hook) {
            _hook(_object, _ts);
        }
    }

    std::string m_name;
    log_lines& m_log;
};

// Raises _text: for an observer hook.
template <class T>
std::function<void(const T&, timestamp)> raise(const std::string& _text) {
    return [_text](const T&, timestamp) { throw std::runtime_error(_text); };
}

class items : public ::testing::Test {
protected:
    using repository = cu::objects_repository<item>;

    // Writes _uid, asks for its removal meanwhile, and gives what the release raised.
    std::string write_and_remove(const char* _uid, long _write_ms, long _remove_ms) {
        try {
            auto writable = repo.try_get(_uid, at(_write_ms));
            repo.remove(_uid, at(_remove_ms));
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    }

    log_lines log;
    repository repo;
    recorder<item> a{"A", log};
    recorder<item> b{"B", log};
    boost::optional<repository::subscription_handle> handle_a{repo.subscribe(a)};
    boost::optional<repository::subscription_handle> handle_b{repo.subscribe(b)};
};

class shapes : public ::testing::Test {
protected:
    using repository = cu::objects_repository<shape>;

    std::unique_ptr<shape> make(const std::string& _uid, int _size) {
        return std::make_unique<shape_impl>(_uid, _size, log);
    }

    log_lines log;
    repository repo;
    recorder<shape> a{"A", log};
    recorder<shape> b{"B", log};
    repository::subscription_handle handle_a{repo.subscribe(a)};
    repository::subscription_handle handle_b{repo.subscribe(b)};
};

}  // namespace

TEST_F(items, add_tells_every_observer_in_subscription_order) {
    const item& stored = repo.add(item{"a", 1}, at(10));
    EXPECT_EQ(&stored, &repo.get("a"));
    EXPECT_TRUE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A created a=1 @10", "B created a=1 @10"}));
}

TEST_F(items, add_of_a_stored_uid_keeps_the_stored_object) {
    const item& first = repo.add(item{"a", 1}, at(10));
    const item& second = repo.add(item{"a", 2}, at(20));
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(repo.get("a").m_value, 1);
    EXPECT_EQ(log, (log_lines{"A created a=1 @10", "B created a=1 @10", "A created a=1 @20",
                              "B created a=1 @20"}));
}

TEST_F(shapes, update_or_add_destroys_the_old_object_before_the_observers_run) {
    repo.update_or_add(make("s", 1), at(10));
    a.on_updating = [this](const shape& _new, timestamp) {
        EXPECT_EQ(&_new, &repo.get("s"));
        EXPECT_EQ(log.end()[-2], "destroyed s=1");
    };
    repo.update_or_add(make("s", 2), at(20));
    EXPECT_EQ(log, (log_lines{"A created s=1 @10", "B created s=1 @10", "destroyed s=1",
                              "A updated s=2 @20", "B updated s=2 @20"}));
    EXPECT_EQ(repo.get("s").get_size(), 2);
}

TEST_F(shapes, add_of_a_stored_uid_drops_the_new_object) {
    repo.add(make("s", 1), at(10));
    const shape& kept = repo.add(make("s", 2), at(20));
    EXPECT_EQ(kept.get_size(), 1);
    EXPECT_EQ(log, (log_lines{"A created s=1 @10", "B created s=1 @10", "destroyed s=2",
                              "A created s=1 @20", "B created s=1 @20"}));
}

TEST_F(shapes, remove_tells_before_erasing) {
    repo.remove("absent", at(5));
    EXPECT_TRUE(log.empty());
    repo.add(make("s", 1), at(10));
    b.on_deleting = [this](const shape& _object, timestamp) {
        EXPECT_EQ(&_object, &repo.get("s"));
    };
    repo.remove("s", at(20));
    EXPECT_FALSE(repo.is_exists("s"));
    EXPECT_EQ(log, (log_lines{"A created s=1 @10", "B created s=1 @10", "A deleting s=1 @20",
                              "B deleting s=1 @20", "destroyed s=1"}));
}

TEST_F(shapes, remove_may_be_given_the_uid_of_the_object_it_erases) {
    repo.add(make("s", 1), at(10));
    repo.remove(repo.get("s").get_uid(), at(20));
    EXPECT_FALSE(repo.is_exists("s"));
    EXPECT_EQ(log.back(), "destroyed s=1");
}

TEST_F(items, get_of_an_absent_uid_raises) {
    try {
        repo.get("nope");
        FAIL();
    } catch (const tvk::libs::core::exception& e) {
        EXPECT_EQ(e.get_string_error(), "Cannot get object with uid: nope");
        EXPECT_EQ(e.get_source_location().short_file(),
                  "/libs/context-utils/include/context_utils/objects_repository.hpp");
    }
    EXPECT_FALSE(repo.try_get("nope"));
    EXPECT_FALSE(repo.try_get("nope", at(1)));
    EXPECT_FALSE(repo.is_exists("nope"));
}

TEST_F(items, release_tells_after_updating_even_without_a_change) {
    repo.add(item{"a", 1}, at(10));
    log.clear();
    {
        auto writable = repo.try_get("a", at(20));
        ASSERT_TRUE(writable);
        EXPECT_TRUE(log.empty());
    }
    {
        auto writable = repo.try_get("a", at(30));
        (*writable)->m_value = 5;
        EXPECT_EQ((**writable).m_value, 5);
    }
    EXPECT_EQ(log, (log_lines{"A updated a=1 @20", "B updated a=1 @20", "A updated a=5 @30",
                              "B updated a=5 @30"}));
}

TEST_F(items, removal_during_write_access_is_deferred_to_the_release) {
    repo.add(item{"a", 1}, at(10));
    log.clear();
    {
        auto writable = repo.try_get("a", at(20));
        repo.remove("a", at(30));
        repo.remove("a", at(40));
        EXPECT_TRUE(log.empty());
        EXPECT_TRUE(repo.is_exists("a"));
    }
    EXPECT_FALSE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A updated a=1 @20", "B updated a=1 @20", "A deleting a=1 @40",
                              "B deleting a=1 @40"}));
}

TEST_F(items, an_observer_may_remove_the_object_it_hears_of_during_a_release) {
    repo.add(item{"a", 1}, at(10));
    log.clear();
    a.on_updating = [this](const item& _object, timestamp _ts) { repo.remove(_object.m_uid, _ts); };
    repo.try_get("a", at(20));
    EXPECT_FALSE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A updated a=1 @20", "B updated a=1 @20", "A deleting a=1 @20",
                              "B deleting a=1 @20"}));
}

TEST_F(items, a_moved_writable_object_is_released_once_by_its_destination) {
    repo.add(item{"a", 1}, at(10));
    log.clear();
    auto writable = repo.try_get("a", at(20));
    {
        auto holder = std::move(writable);
        EXPECT_FALSE(writable);
        repository::writable_object destination(std::move(*holder));
        holder.reset();
        EXPECT_TRUE(log.empty());
    }
    EXPECT_EQ(log, (log_lines{"A updated a=1 @20", "B updated a=1 @20"}));
    writable.reset();
    EXPECT_EQ(log.size(), 2u);
}

TEST_F(items, a_throwing_release_reaches_the_caller_after_the_deferred_removal) {
    repo.add(item{"a", 1}, at(10));
    log.clear();
    a.on_updating = raise<item>("mirror failed");
    EXPECT_EQ(write_and_remove("a", 20, 30), "mirror failed");
    EXPECT_FALSE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A updated a=1 @20", "A deleting a=1 @30", "B deleting a=1 @30"}));
}

TEST_F(items, a_release_during_unwinding_keeps_the_exception_in_flight) {
    repo.add(item{"a", 1}, at(10));
    repo.add(item{"b", 2}, at(10));
    log.clear();
    a.on_updating = raise<item>("second");
    try {
        auto writable = repo.try_get("a", at(20));
        throw std::logic_error("first");
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "first");
    }
    EXPECT_EQ(log, (log_lines{"A updated a=1 @20"}));
    // The dispatching state has ended: the entry may be written and removed at once.
    a.on_updating = nullptr;
    EXPECT_NO_THROW(repo.try_get("a", at(30)));
    repo.remove("a", at(40));
    EXPECT_FALSE(repo.is_exists("a"));
}

TEST_F(items, a_deferred_removal_that_throws_keeps_the_first_exception) {
    repo.add(item{"a", 1}, at(10));
    b.on_deleting = raise<item>("deleting failed");
    // Alone, its exception reaches the caller and the entry stays, no longer dispatching.
    EXPECT_EQ(write_and_remove("a", 20, 30), "deleting failed");
    EXPECT_TRUE(repo.is_exists("a"));
    // After a failed updating observer, the first exception wins.
    a.on_updating = raise<item>("updating failed");
    EXPECT_EQ(write_and_remove("a", 40, 50), "updating failed");
    EXPECT_TRUE(repo.is_exists("a"));
    // During unwinding both are swallowed and the exception in flight goes on.
    try {
        auto writable = repo.try_get("a", at(60));
        repo.remove("a", at(70));
        throw std::logic_error("in flight");
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "in flight");
    }
    // Removal succeeds once the observers do.
    a.on_updating = nullptr;
    b.on_deleting = nullptr;
    repo.remove("a", at(80));
    EXPECT_FALSE(repo.is_exists("a"));
}

TEST_F(items, a_write_access_made_during_unwinding_may_still_throw) {
    repo.add(item{"a", 1}, at(10));
    a.on_updating = raise<item>("mirror failed");
    std::string caught;
    struct cleanup {
        repository& m_repo;
        std::string& m_caught;
        ~cleanup() {
            try {
                auto writable = m_repo.try_get("a", at(20));
            } catch (const std::runtime_error& e) {
                m_caught = e.what();
            }
        }
    };
    try {
        cleanup on_exit{repo, caught};
        throw std::logic_error("unwinding");
    } catch (const std::logic_error&) {
    }
    EXPECT_EQ(caught, "mirror failed");
}

TEST_F(items, an_explicit_release_may_throw_and_leaves_nothing_to_do) {
    repo.add(item{"a", 1}, at(10));
    log.clear();
    b.on_updating = raise<item>("mirror failed");
    auto writable = repo.try_get("a", at(20));
    EXPECT_THROW(writable->release(), std::runtime_error);
    b.on_updating = nullptr;
    writable.reset();
    EXPECT_EQ(log, (log_lines{"A updated a=1 @20", "B updated a=1 @20"}));
}

TEST_F(items, a_second_write_access_is_refused) {
    repo.add(item{"a", 1}, at(10));
    {
        auto first = repo.try_get("a", at(20));
        try {
            repo.try_get("a", at(30));
            FAIL();
        } catch (const tvk::libs::core::exception& e) {
            EXPECT_EQ(e.get_string_error(), "Object with uid: a is already being written");
        }
    }
    // While the observers hear that it goes, it cannot be written either.
    std::string refused;
    a.on_deleting = [&](const item& _object, timestamp _ts) {
        try {
            repo.try_get(_object.m_uid, _ts);
        } catch (const tvk::libs::core::exception& e) {
            refused = e.get_string_error();
        }
    };
    EXPECT_NO_THROW(repo.try_get("a", at(40)));
    repo.remove("a", at(50));
    EXPECT_EQ(refused, "Object with uid: a is being deleted");
    EXPECT_FALSE(repo.is_exists("a"));
}

TEST_F(items, an_observer_exception_leaves_the_operation_at_once) {
    a.on_creating = raise<item>("created");
    EXPECT_THROW(repo.add(item{"a", 1}, at(10)), std::runtime_error);
    EXPECT_TRUE(repo.is_exists("a"));
    a.on_deleting = raise<item>("deleting");
    EXPECT_THROW(repo.remove("a", at(20)), std::runtime_error);
    EXPECT_TRUE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A created a=1 @10", "A deleting a=1 @20"}));
    // The failed removal left no mark behind.
    a.on_deleting = nullptr;
    repo.remove("a", at(30));
    EXPECT_FALSE(repo.is_exists("a"));
}

TEST_F(items, a_nested_removal_of_the_same_uid_changes_nothing) {
    repo.add(item{"a", 1}, at(10));
    log.clear();
    a.on_deleting = [this](const item& _object, timestamp) { repo.remove(_object.m_uid, at(99)); };
    repo.remove("a", at(20));
    EXPECT_FALSE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A deleting a=1 @20", "B deleting a=1 @20"}));
}

TEST_F(items, the_same_observer_subscribed_twice_hears_twice_until_either_handle_goes) {
    auto again = boost::make_optional(repo.subscribe(a));
    repo.add(item{"a", 1}, at(10));
    EXPECT_EQ(log, (log_lines{"A created a=1 @10", "B created a=1 @10", "A created a=1 @10"}));
    log.clear();
    again = boost::none;
    repo.add(item{"b", 2}, at(20));
    EXPECT_EQ(log, (log_lines{"B created b=2 @20"}));
}

TEST_F(items, move_assigning_a_handle_unsubscribes_its_old_observer) {
    recorder<item> c{"C", log};
    *handle_a = repo.subscribe(c);
    repo.add(item{"a", 1}, at(10));
    EXPECT_EQ(log, (log_lines{"B created a=1 @10", "C created a=1 @10"}));
    log.clear();

    // Subscribing the observer a handle already holds leaves it subscribed once.
    *handle_b = repo.subscribe(b);
    repo.add(item{"b", 2}, at(20));
    EXPECT_EQ(log, (log_lines{"C created b=2 @20", "B created b=2 @20"}));
    log.clear();

    // A moved-from handle unsubscribes nothing.
    { auto moved = std::move(*handle_b); }
    handle_b = boost::none;
    repo.add(item{"c", 3}, at(30));
    EXPECT_EQ(log, (log_lines{"C created c=3 @30"}));
}

TEST_F(items, observers_may_subscribe_and_unsubscribe_during_a_walk) {
    auto c = std::make_unique<recorder<item>>("C", log);
    auto handle_c = boost::make_optional(repo.subscribe(*c));
    recorder<item> d{"D", log};
    boost::optional<repository::subscription_handle> handle_d;
    a.on_creating = [&](const item& _object, timestamp) {
        if (_object.m_uid == "a") {
            handle_a = boost::none;  // itself
            handle_c = boost::none;  // a later one, which then goes away
            c.reset();
            handle_d = repo.subscribe(d);
        }
    };
    repo.add(item{"a", 1}, at(10));
    EXPECT_EQ(log, (log_lines{"A created a=1 @10", "B created a=1 @10"}));
    log.clear();
    repo.add(item{"b", 2}, at(20));
    EXPECT_EQ(log, (log_lines{"B created b=2 @20", "D created b=2 @20"}));
}

TEST_F(items, unsubscribing_inside_a_nested_notification) {
    recorder<item> c{"C", log};
    repository::subscription_handle handle_c = repo.subscribe(c);
    a.on_creating = [this](const item& _object, timestamp _ts) {
        if (_object.m_uid == "a") {
            repo.add(item{"b", 2}, _ts);
        }
    };
    b.on_creating = [this](const item& _object, timestamp) {
        if (_object.m_uid == "b") {
            handle_b = boost::none;
        }
    };
    repo.add(item{"a", 1}, at(10));
    EXPECT_EQ(log, (log_lines{"A created a=1 @10", "A created b=2 @10", "B created b=2 @10",
                              "C created b=2 @10", "C created a=1 @10"}));
    log.clear();
    a.on_creating = nullptr;
    repo.add(item{"c", 3}, at(20));
    EXPECT_EQ(log, (log_lines{"A created c=3 @20", "C created c=3 @20"}));
}

TEST_F(items, for_each_walks_in_uid_order_and_may_stop) {
    int calls = 0;
    EXPECT_TRUE(repo.for_each([&](const item&) { return ++calls, true; }));
    EXPECT_EQ(calls, 0);
    for (const char* uid : {"c", "a", "b"}) {
        repo.add(item{uid, 0}, at(1));
    }
    std::string seen;
    EXPECT_TRUE(repo.for_each([&](const item& _object) { return seen += _object.m_uid, true; }));
    EXPECT_EQ(seen, "abc");
    seen.clear();
    EXPECT_FALSE(repo.for_each([&](const item& _object) {
        seen += _object.m_uid;
        return _object.m_uid != "b";
    }));
    EXPECT_EQ(seen, "ab");
}

TEST_F(items, for_each_callbacks_may_remove_the_current_or_the_next_entry) {
    for (const char* uid : {"a", "b", "c", "d", "e"}) {
        repo.add(item{uid, 0}, at(1));
    }
    std::string seen;
    EXPECT_TRUE(repo.for_each([&](const item& _object) {
        const std::string uid = _object.m_uid;  // _object goes with its removal
        seen += uid;
        if (uid == "a") {
            repo.remove("a", at(2));
            repo.remove("b", at(2));
        }
        if (uid == "c") {
            // A nested walk removes the entry that the outer one would go to next.
            repo.for_each([&](const item& _inner) {
                if (_inner.m_uid == "d") {
                    repo.remove("d", at(3));
                }
                return true;
            });
        }
        return true;
    }));
    EXPECT_EQ(seen, "ace");
    EXPECT_FALSE(repo.is_exists("b"));
    EXPECT_FALSE(repo.is_exists("d"));
}

namespace {
// What an operation raised as the repository's own exception; empty when it raised nothing.
template <class F>
std::string core_error(F&& _operation) {
    try {
        _operation();
    } catch (const tvk::libs::core::exception& e) {
        return e.get_string_error();
    }
    return "";
}
}  // namespace

TEST_F(items, a_removal_during_the_creation_walk_waits_until_every_observer_heard) {
    // A writes the new object and asks for its removal; its release must not erase the entry
    // while B has yet to hear of the creation.
    a.on_creating = [this](const item& _object, timestamp) {
        auto writable = repo.try_get(_object.m_uid, at(15));
        repo.remove(_object.m_uid, at(16));
    };
    EXPECT_EQ(core_error([this] {
                  repo.add(item{"a", 1}, at(10));
              }),
              "Object with uid: a was removed while it was being added");
    EXPECT_FALSE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A created a=1 @10", "A updated a=1 @15", "B updated a=1 @15",
                              "B created a=1 @10", "A deleting a=1 @16", "B deleting a=1 @16"}));
}

TEST_F(shapes, a_removal_asked_for_by_an_observer_waits_for_the_walk_over_the_entry) {
    const auto remove_it = [this](const shape& _object, timestamp) {
        repo.remove(_object.get_uid(), at(99));
    };
    a.on_creating = remove_it;
    a.on_updating = remove_it;
    // add: every observer hears of the object, then it goes, and add says so.
    EXPECT_EQ(core_error([this] { repo.add(make("s", 1), at(10)); }),
              "Object with uid: s was removed while it was being added");
    // update_or_add of a new uid, then of a stored one (which B keeps stored once).
    repo.update_or_add(make("t", 2), at(20));
    a.on_creating = nullptr;
    repo.add(make("u", 3), at(30));
    repo.update_or_add(make("u", 4), at(40));
    EXPECT_TRUE(repo.for_each([](const shape&) { return false; }));
    EXPECT_EQ(log, (log_lines{"A created s=1 @10", "B created s=1 @10", "A deleting s=1 @99",
                              "B deleting s=1 @99", "destroyed s=1", "A created t=2 @20",
                              "B created t=2 @20", "A deleting t=2 @99", "B deleting t=2 @99",
                              "destroyed t=2", "A created u=3 @30", "B created u=3 @30",
                              "destroyed u=3", "A updated u=4 @40", "B updated u=4 @40",
                              "A deleting u=4 @99", "B deleting u=4 @99", "destroyed u=4"}));
}

TEST_F(items, a_removal_asked_for_before_an_observer_raised_is_still_performed) {
    a.on_creating = [this](const item& _object, timestamp) { repo.remove(_object.m_uid, at(20)); };
    b.on_creating = raise<item>("dispatch failed");
    EXPECT_THROW(repo.add(item{"a", 1}, at(10)), std::runtime_error);
    EXPECT_FALSE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A created a=1 @10", "B created a=1 @10", "A deleting a=1 @20",
                              "B deleting a=1 @20"}));
}

TEST_F(items, a_removal_waits_for_an_outer_write_access_too) {
    repo.add(item{"a", 1}, at(10));
    log.clear();
    a.on_creating = [this](const item& _object, timestamp) { repo.remove(_object.m_uid, at(30)); };
    {
        auto writable = repo.try_get("a", at(20));
        // Re-adding a stored uid tells after_creating of the stored object.
        repo.add(item{"a", 2}, at(25));
        EXPECT_TRUE(repo.is_exists("a"));
    }
    EXPECT_FALSE(repo.is_exists("a"));
    EXPECT_EQ(log, (log_lines{"A created a=1 @25", "B created a=1 @25", "A updated a=1 @20",
                              "B updated a=1 @20", "A deleting a=1 @30", "B deleting a=1 @30"}));
}

TEST_F(items, a_released_or_moved_writable_object_gives_no_access) {
    const std::string ended = "The write access has ended: it was released or moved";
    repo.add(item{"a", 1}, at(10));
    repo.add(item{"b", 2}, at(10));
    log.clear();
    // A plain release: a later write would reach no observer.
    auto writable = repo.try_get("a", at(20));
    writable->release();
    EXPECT_EQ(core_error([&] { (*writable)->m_value = 5; }), ended);
    EXPECT_EQ(core_error([&] { **writable; }), ended);
    EXPECT_EQ(repo.get("a").m_value, 1);
    // A release that performed a deferred removal: the object is gone.
    auto removed = repo.try_get("b", at(30));
    repo.remove("b", at(40));
    removed->release();
    EXPECT_FALSE(repo.is_exists("b"));
    EXPECT_EQ(core_error([&] { (*removed)->m_value = 5; }), ended);
    // A moved-from one.
    auto source = repo.try_get("a", at(50));
    repository::writable_object destination(std::move(*source));
    EXPECT_EQ(core_error([&] { (*source)->m_value = 5; }), ended);
    destination->m_value = 6;
    EXPECT_EQ(log, (log_lines{"A updated a=1 @20", "B updated a=1 @20", "A updated b=2 @30",
                              "B updated b=2 @30", "A deleting b=2 @40", "B deleting b=2 @40"}));
}
