#include "context/context.hpp"

#include "core/exception.hpp"

namespace tvk {
namespace context {

context::context() = default;

context::~context() = default;

const context::trackable_objects& context::get_trackable_objects() const {
    // Readers run only after the managers have loaded; a missing one is a wiring fault that
    // must not turn into a null dereference.
    if (!m_trackable_objects) {
        TVK_THROW("Trackable objects are not loaded");
    }
    return m_trackable_objects->get_objects();
}

const context::trackable_objects_manager::skipped_elements& context::get_skipped_trackable_objects()
    const {
    if (!m_trackable_objects) {
        TVK_THROW("Trackable objects are not loaded");
    }
    return m_trackable_objects->get_skipped_at_load();
}

const context::zones& context::get_zones() const {
    if (!m_zones) {
        TVK_THROW("Zones are not loaded");
    }
    return m_zones->get_objects();
}

void context::set_trackable_objects(trackable_objects_ptr _trackable_objects) {
    m_trackable_objects = std::move(_trackable_objects);
}

void context::set_zones(zones_ptr _zones) {
    m_zones = std::move(_zones);
}

writable_context::~writable_context() = default;

}  // namespace context
}  // namespace tvk
