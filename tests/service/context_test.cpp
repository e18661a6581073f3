#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "context/context.hpp"
#include "context/device.hpp"
#include "context/zone_event.hpp"
#include "core/exception.hpp"

using tvk::context::device;
using tvk::context::writable_context;
using tvk::context::zone_event;
using tvk::libs::context_utils::objects_repository;
using tvk::libs::context_utils::objects_repository_manager;
using tvk::libs::context_utils::timestamp;
namespace objects = tvk::libs::context_utils::objects;

namespace {

// A repository manager over a plain repository that records its own destruction.
template <class T>
class fake_manager : public objects_repository_manager<T> {
public:
    fake_manager(std::string _name, std::vector<std::string>& _destroyed)
        : m_name(std::move(_name)), m_destroyed(_destroyed) {}
    ~fake_manager() override { m_destroyed.push_back(m_name); }

    const objects_repository<T>& get_objects() const override { return m_objects; }
    void disable_timer() override {}
    void set_update_period(std::chrono::nanoseconds) override {}

private:
    objects_repository<T> m_objects;
    std::string m_name;
    std::vector<std::string>& m_destroyed;
};

const timestamp t1(1700000000, 250);
const timestamp t2(1700000100, 0);

TEST(zone_event, key_is_tag_uid_colon_zone_uid) {
    struct row {
        std::string obj_uid, zone_uid, key;
    };
    for (const row& r : std::vector<row>{{"T1", "Z9", "T1:Z9"},
                                         {"T1", "Z10", "T1:Z10"},
                                         {"", "", ":"},
                                         // Uids are not escaped: these two pairs share a key.
                                         {"a:b", "c", "a:b:c"},
                                         {"a", "b:c", "a:b:c"}}) {
        EXPECT_EQ(zone_event::make_uid(r.obj_uid, r.zone_uid), r.key)
            << r.obj_uid << " / " << r.zone_uid;
    }
}

TEST(zone_event, constructor_takes_the_zone_type_before_the_zone_id) {
    const zone_event event("T1:Z9", t1, "T1", "Z9", "kitchen", 42);
    EXPECT_EQ(event.get_uid(), "T1:Z9");
    EXPECT_EQ(event.get_ts(), t1);
    EXPECT_EQ(event.get_obj_uid(), "T1");
    EXPECT_EQ(event.get_zone_uid(), "Z9");
    EXPECT_EQ(event.get_zone_type(), "kitchen");
    EXPECT_EQ(event.get_zone_id(), 42u);
}

TEST(zone_event, setters_change_all_but_the_key_and_moves_keep_every_field) {
    zone_event event("T1:Z9", t1, "T1", "Z9", "kitchen", 42);
    event.set_ts(t2);
    event.set_obj_uid("T2");
    event.set_zone_uid("Z8");
    event.set_zone_type("hall");
    event.set_zone_id(7);
    const zone_event moved(std::move(event));
    EXPECT_EQ(moved.get_uid(), "T1:Z9");
    EXPECT_EQ(moved.get_ts(), t2);
    EXPECT_EQ(moved.get_obj_uid(), "T2");
    EXPECT_EQ(moved.get_zone_uid(), "Z8");
    EXPECT_EQ(moved.get_zone_type(), "hall");
    EXPECT_EQ(moved.get_zone_id(), 7u);
}

TEST(device, a_new_device_is_not_full_and_moves_keep_the_flag) {
    device d("T1", t1, "AA:BB:CC");
    EXPECT_FALSE(d.is_full());
    EXPECT_EQ(d.get_uid(), "T1");
    EXPECT_EQ(d.get_ts(), t1);
    EXPECT_EQ(d.get_mac(), "AA:BB:CC");

    d.set_full(true);
    d.set_ts(t2);
    d.set_mac("DD:EE");
    const device copied(d);
    const device moved(std::move(d));
    for (const device* each : {&copied, &moved}) {
        EXPECT_TRUE(each->is_full());
        EXPECT_EQ(each->get_uid(), "T1");
        EXPECT_EQ(each->get_ts(), t2);
        EXPECT_EQ(each->get_mac(), "DD:EE");
    }
}

TEST(context, starts_empty_and_refuses_the_server_objects_until_the_managers_are_set) {
    writable_context context;
    EXPECT_TRUE(context.get_zone_events().for_each([](const zone_event&) { return false; }));
    EXPECT_TRUE(context.get_devices().for_each([](const device&) { return false; }));
    EXPECT_THROW(context.get_zones(), tvk::libs::core::exception);
    EXPECT_THROW(context.get_trackable_objects(), tvk::libs::core::exception);
}

TEST(context, hands_out_the_managers_repositories_and_destroys_a_replaced_manager) {
    std::vector<std::string> destroyed;
    {
        writable_context context;
        auto tags = std::make_unique<fake_manager<objects::trackable_object>>("tags", destroyed);
        auto zones = std::make_unique<fake_manager<objects::zone>>("zones 1", destroyed);
        const auto* tags_repository = &tags->get_objects();
        context.set_trackable_objects(std::move(tags));
        context.set_zones(std::move(zones));
        EXPECT_EQ(&context.get_trackable_objects(), tags_repository);

        auto other_zones = std::make_unique<fake_manager<objects::zone>>("zones 2", destroyed);
        const auto* zones_repository = &other_zones->get_objects();
        context.set_zones(std::move(other_zones));
        EXPECT_EQ(destroyed, std::vector<std::string>{"zones 1"});
        EXPECT_EQ(&context.get_zones(), zones_repository);
    }
    // The zone manager goes before the trackable-object manager.
    EXPECT_EQ(destroyed, (std::vector<std::string>{"zones 1", "zones 2", "tags"}));
}

// Records what a repository tells its observers.
template <class T>
class recorder : public objects_repository<T>::observer {
public:
    void after_creating(const T& _object, timestamp) override {
        calls.push_back("create " + _object.get_uid());
    }
    void after_updating(const T& _object, timestamp) override {
        calls.push_back("update " + _object.get_uid());
    }
    void before_deleting(const T& _object, timestamp) override {
        calls.push_back("delete " + _object.get_uid());
    }
    std::vector<std::string> calls;
};

TEST(context, changes_through_the_writable_repositories_reach_their_observers) {
    writable_context context;
    recorder<zone_event> events_observer;
    recorder<device> devices_observer;
    const auto events_subscription = context.get_zone_events().subscribe(events_observer);
    const auto devices_subscription = context.get_devices().subscribe(devices_observer);

    context.take_zone_events().add(zone_event("T1:Z9", t1, "T1", "Z9", "kitchen", 42), t1);
    {
        auto event = context.take_zone_events().try_get("T1:Z9", t2);
        ASSERT_TRUE(event);
        (*event)->set_zone_id(43);
    }
    context.take_devices().add(device("T1", t1, "AA"), t1);
    context.take_devices().remove("T1", t2);

    EXPECT_EQ(context.get_zone_events().get("T1:Z9").get_zone_id(), 43u);
    EXPECT_FALSE(context.get_devices().is_exists("T1"));
    EXPECT_EQ(events_observer.calls, (std::vector<std::string>{"create T1:Z9", "update T1:Z9"}));
    EXPECT_EQ(devices_observer.calls, (std::vector<std::string>{"create T1", "delete T1"}));
}

}  // namespace
