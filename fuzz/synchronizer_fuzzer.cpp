// The context synchroniser applying "notify" messages to the repositories of its managers, as
// the service's context updater hands them on: each line of the input is one message. The
// managers start from small REST lists served by a stand-in HTTP client; after every message
// each repository must still hold each of its objects under the object's own uid.
#include <json/json.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "context_utils/context_synchronizer.hpp"
#include "context_utils/objects/node.hpp"
#include "context_utils/objects/sublocation.hpp"
#include "context_utils/objects/trackable_object.hpp"
#include "context_utils/objects/win_anchor.hpp"
#include "context_utils/objects/zone.hpp"
#include "core/core.hpp"
#include "fuzz_support.hpp"
#include "stream_and_client_stand_ins.hpp"

namespace {

namespace cu = tvk::libs::context_utils;
using tvk::libs::core::timestamp;
using namespace std::chrono_literals;

const char* const entry = "tvk::libs::context_utils::context_synchronizer";

// One answer for every list: each manager reads its own key.
const char* const lists = R"({
    "zones": [{"uid": "zone-1", "zone_id": 12, "zone_type_name": "danger",
               "updated_at": "2024-05-06T07:08:09.123Z"}],
    "trackableObjects": [{"uid": "tag-1", "node": {"mac_address": "00:11:22:33:44:55"},
                          "updated_at": "2024-05-06T07:08:09.123Z"}],
    "win_anchors": [{"uid": "anchor-1", "updated_at": "2024-05-06T07:08:09.123Z"}],
    "sublocations": [{"uid": "subloc-1", "updated_at": "2024-05-06T07:08:09.123Z"}],
    "nodes": [{"uid": "node-1", "mac_address": "00:11:22:33:44:55",
               "updated_at": "2024-05-06T07:08:09.123Z"}]
})";

// Tells of every change, checking that a created or updated object is the one held under
// its uid and that a deleted one is still held while the observers hear of it.
template <class T>
class checking_observer : public cu::objects_repository<T>::observer {
public:
    explicit checking_observer(const cu::objects_repository<T>& _objects) : m_objects(_objects) {}

    void after_creating(const T& _object, timestamp) override { check_held(_object); }
    void after_updating(const T& _object, timestamp) override { check_held(_object); }
    void before_deleting(const T& _object, timestamp) override { check_held(_object); }

private:
    void check_held(const T& _object) const {
        const auto held = m_objects.try_get(_object.get_uid());
        if (!held || &*held != &_object) {
            fuzz::property_failed(entry, "an object told of is not the one held under its uid");
        }
    }

    const cu::objects_repository<T>& m_objects;
};

// Every object must be held under the uid it reads.
template <class T>
void check_keys(const cu::objects_repository<T>& _objects) {
    _objects.for_each([&](const T& _object) {
        const auto held = _objects.try_get(_object.get_uid());
        if (!held || &*held != &_object) {
            fuzz::property_failed(entry, "an object held under another uid than its own");
        }
        return true;
    });
}

// A manager of one kind with its checking observer.
template <class T>
struct watched {
    explicit watched(std::unique_ptr<cu::objects_repository_manager<T>> _manager)
        : manager(std::move(_manager))
        , observer(manager->get_objects())
        , subscription(manager->get_objects().subscribe(observer)) {}

    std::unique_ptr<cu::objects_repository_manager<T>> manager;
    checking_observer<T> observer;
    typename cu::objects_repository<T>::subscription_handle subscription;
};

tvk::libs::core::events_loop& loop() {
    static const auto core = tvk::libs::core::core::create(fuzz::quiet_logger());
    static const auto events_loop = core->create_events_loop("fuzz loop");
    return *events_loop;
}

// Builds the managers over the lists, then hands them each message in turn.
void handle(const std::string& _messages) {
    service_test::fake_client client;
    client.m_answer = tvk::libs::core::http::result(lists, 200);
    const auto synchronizer =
        cu::context_synchronizer::create(client, loop(), fuzz::quiet_logger());
    namespace objects = cu::objects;
    const watched<objects::zone> zones(synchronizer->make_zones(3h));
    const watched<objects::trackable_object> tags(synchronizer->make_trackable_objects(3h));
    const watched<objects::win_anchor> anchors(synchronizer->make_win_anchors(3h));
    const watched<objects::sublocation> sublocations(synchronizer->make_sublocations(3h));
    const watched<objects::node> nodes(synchronizer->make_nodes(3h));

    std::istringstream lines(_messages);
    std::string message;
    while (std::getline(lines, message)) {
        // Not JSON, no string "object" or "action", or an object without a readable uid: the
        // events loop logs what is raised.
        fuzz::reporting_unexpected(entry, [&] { synchronizer->handle_notify(message); });
        check_keys(zones.manager->get_objects());
        check_keys(tags.manager->get_objects());
        check_keys(anchors.manager->get_objects());
        check_keys(sublocations.manager->get_objects());
        check_keys(nodes.manager->get_objects());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    handle(fuzz::text_of(_data, _size));
    // The refresh timers of the managers, cancelled as they went, complete here, so that
    // nothing piles up in a loop that never runs.
    // Running out of work stops the loop, which a load takes for a stop: make it runnable.
    auto& io_context = loop().get_io_context();
    io_context.poll();
    io_context.restart();
    return 0;
}
