// The "zone_event" handler against a small context: each line of the input is one message,
// handled in order against two zones and the configured types "restricted" and "hazard".
// Every change that the zone-event repository reports is checked against the context.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "context/context.hpp"
#include "context/zone_event.hpp"
#include "context_updater.hpp"
#include "core/exception.hpp"
#include "fake_location_objects.hpp"
#include "fuzz_support.hpp"

namespace {

namespace objects = tvk::libs::context_utils::objects;
using tvk::context::zone_event;
using tvk::libs::core::timestamp;

const char* const entry = "tvk::context_updater::handle_zone_event";

const std::set<std::string>& zone_types() {
    static const std::set<std::string> types{"restricted", "hazard"};
    return types;
}

// What the repository tells its observers must agree with the context it belongs to.
class checking_observer : public tvk::context::context::zone_events::observer {
public:
    explicit checking_observer(const tvk::context::context& _context) : m_context(_context) {}

    void after_creating(const zone_event& _event, timestamp) override { check_held(_event); }
    void after_updating(const zone_event& _event, timestamp) override { check_held(_event); }
    void before_deleting(const zone_event& _event, timestamp) override {
        if (!m_context.get_zone_events().try_get(_event.get_uid())) {
            fuzz::property_failed(entry, "deleting an event not held: " + _event.get_uid());
        }
    }

private:
    void check_held(const zone_event& _event) const {
        if (_event.get_uid() != zone_event::make_uid(_event.get_obj_uid(), _event.get_zone_uid())) {
            fuzz::property_failed(entry, "an event whose key is not its pair: " + _event.get_uid());
        }
        if (zone_types().count(_event.get_zone_type()) == 0) {
            fuzz::property_failed(
                entry, "an event of a zone type not configured: " + _event.get_zone_type());
        }
        const auto zone = m_context.get_zones().try_get(_event.get_zone_uid());
        if (!zone) {
            fuzz::property_failed(entry, "an event of an unknown zone: " + _event.get_zone_uid());
        }
        if (zone->get_zone_id().value_or(0) != _event.get_zone_id()) {
            fuzz::property_failed(entry, "an event with another zone id: " + _event.get_uid());
        }
    }

    const tvk::context::context& m_context;
};

// A zone with an id and one without.
std::unique_ptr<service_test::fake_manager<objects::zone>> make_zones() {
    auto zones = std::make_unique<service_test::fake_manager<objects::zone>>();
    service_test::zone_fields with_id;
    with_id.uid = "Z1";
    with_id.zone_id = 7u;
    zones->objects().add(std::make_unique<service_test::fake_zone>(with_id), timestamp());
    service_test::zone_fields without_id;
    without_id.uid = "Z2";
    zones->objects().add(std::make_unique<service_test::fake_zone>(without_id), timestamp());
    return zones;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    auto& logger = fuzz::quiet_logger();
    tvk::context::writable_context context;
    context.set_zones(make_zones());
    checking_observer observer(context);
    const auto subscription = context.take_zone_events().subscribe(observer);

    std::istringstream lines(fuzz::text_of(_data, _size));
    std::string message;
    while (std::getline(lines, message)) {
        // Not JSON, or a top-level value that is not an object: the events loop logs it.
        fuzz::reporting_unexpected(entry, [&] {
            tvk::context_updater::handle_zone_event(context, zone_types(), logger, message);
        });
    }
    return 0;
}
