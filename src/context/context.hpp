#pragma once

#include <memory>
#include <utility>

#include "context/device.hpp"
#include "context/zone_event.hpp"
#include "context_utils/context_synchronizer.hpp"
#include "context_utils/objects/trackable_object.hpp"
#include "context_utils/objects/zone.hpp"
#include "context_utils/objects_repository.hpp"
#include "context_utils/objects_repository_manager.hpp"

namespace tvk {
namespace context {

// The service's picture of the world: the server's trackable objects and zones, kept by their
// repository managers, and the service's own zone events and devices. Single-threaded.
class context {
public:
    typedef tvk::libs::context_utils::objects_repository<zone_event> zone_events;
    typedef tvk::libs::context_utils::objects_repository<device> devices;
    typedef tvk::libs::context_utils::context_synchronizer::trackable_objects_ptr
        trackable_objects_ptr;
    typedef tvk::libs::context_utils::context_synchronizer::zones_ptr zones_ptr;
    typedef tvk::libs::context_utils::objects_repository_manager<
        tvk::libs::context_utils::objects::trackable_object>
        trackable_objects_manager;
    typedef tvk::libs::context_utils::objects_repository_manager<
        tvk::libs::context_utils::objects::zone>
        zones_manager;
    typedef trackable_objects_manager::objects trackable_objects;
    typedef zones_manager::objects zones;

    // Both managers and both repositories empty.
    context();
    context(const context&) = delete;
    context& operator=(const context&) = delete;
    virtual ~context();

    // The repository of the trackable-object manager; raises while no manager is set.
    const trackable_objects& get_trackable_objects() const;
    // The repository of the zone manager; raises while no manager is set.
    const zones& get_zones() const;
    // The tags that the trackable-object manager's first load left out; raises while no
    // manager is set.
    const trackable_objects_manager::skipped_elements& get_skipped_trackable_objects() const;

    const zone_events& get_zone_events() const { return m_zone_events; }
    zone_events& take_zone_events() { return m_zone_events; }

    const devices& get_devices() const { return m_devices; }
    devices& take_devices() { return m_devices; }

protected:
    // Each takes ownership; the manager set before is destroyed.
    void set_trackable_objects(trackable_objects_ptr _trackable_objects);
    void set_zones(zones_ptr _zones);

private:
    // Destroyed in reverse order: devices, zone events, zones, trackable objects.
    trackable_objects_ptr m_trackable_objects;
    zones_ptr m_zones;
    zone_events m_zone_events;
    devices m_devices;
};

// The context as built by the application and handed to the components that fill it.
class writable_context : public context {
public:
    writable_context() = default;
    ~writable_context() override;

    void set_trackable_objects(trackable_objects_ptr _trackable_objects) {
        context::set_trackable_objects(std::move(_trackable_objects));
    }
    void set_zones(zones_ptr _zones) { context::set_zones(std::move(_zones)); }

    zone_events& take_zone_events() { return context::take_zone_events(); }
    devices& take_devices() { return context::take_devices(); }
};

}  // namespace context
}  // namespace tvk
