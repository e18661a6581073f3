// The notify router and every getter of every object view. The input is JSON text, taken
// three ways: as a "notify" message routed to views of the five kinds, as one REST element
// of each kind, and as a REST answer whose lists are walked element by element. Each getter
// is called twice; a field read once must read the same again.
#include <json/json.h>

#include <boost/optional.hpp>
#include <boost/optional/optional_io.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "context_updater.hpp"
#include "core/exception.hpp"
#include "core/json.hpp"
#include "fuzz_support.hpp"
#include "json_value.hpp"
#include "object_infos.hpp"
#include "objects/node_impl.hpp"
#include "objects/sublocation_impl.hpp"
#include "objects/trackable_object_impl.hpp"
#include "objects/win_anchor_impl.hpp"
#include "objects/zone_impl.hpp"

namespace {

namespace cu = tvk::libs::context_utils;
namespace objects = tvk::libs::context_utils::objects;

const char* const entry = "the location object views";

// Runs _read, letting pass the failures a getter may report: the core exception of a
// missing or mistyped field, and jsoncpp's own of a holder that is not an object.
template <class Read>
void guarded(Read&& _read) {
    fuzz::reporting_unexpected(entry, _read);
}

// An optional text as a value of its own, comparable after the view is gone.
boost::optional<std::string> copied(const boost::optional<const std::string&>& _text) {
    return _text ? boost::optional<std::string>(*_text) : boost::none;
}

// Reads a field twice: it must fail both times or give the same value both times.
template <class Get>
void same_twice(const char* _name, Get&& _get) {
    using value_type = std::decay_t<decltype(_get())>;
    boost::optional<value_type> first;
    guarded([&] { first = _get(); });
    boost::optional<value_type> second;
    guarded([&] { second = _get(); });
    if (first != second) {
        fuzz::property_failed(entry, std::string(_name) + " reads differently the second time");
    }
}

// Getters whose results are references to nested views: reading them twice must give the
// same view, or none both times.
template <class Get>
void same_view_twice(const char* _name, Get&& _get) {
    const void* first = nullptr;
    bool first_failed = true;
    guarded([&] {
        const auto view = _get();
        first = view ? &*view : nullptr;
        first_failed = false;
    });
    const void* second = nullptr;
    bool second_failed = true;
    guarded([&] {
        const auto view = _get();
        second = view ? &*view : nullptr;
        second_failed = false;
    });
    if (first != second || first_failed != second_failed) {
        fuzz::property_failed(entry, std::string(_name) + " gives another view the second time");
    }
}

// A nested view that may be absent: the same view both times, and _read of it when present.
template <class Get, class Read>
void read_nested(const char* _name, Get&& _get, Read&& _read) {
    same_view_twice(_name, _get);
    guarded([&] {
        const auto view = _get();
        if (view) {
            _read(*view);
        }
    });
}

void read_all(const objects::zone& _zone) {
    same_twice("zone uid", [&] { return _zone.get_uid(); });
    same_twice("zone project_uid", [&] { return _zone.get_project_uid(); });
    same_twice("zone zone_id", [&] { return _zone.get_zone_id(); });
    same_twice("zone name", [&] { return _zone.get_name(); });
    same_twice("zone sublocation_uid", [&] { return copied(_zone.get_sublocation_uid()); });
    same_twice("zone active", [&] { return _zone.get_active(); });
    same_twice("zone shape", [&] { return _zone.get_shape(); });
    same_twice("zone zone_type_name", [&] { return _zone.get_zone_type_name(); });
    same_twice("zone zone_alarm_level", [&] { return _zone.get_zone_alarm_level(); });
    same_twice("zone sublocation_id", [&] { return _zone.get_sublocation_id(); });
    same_twice("zone zone_type_id", [&] { return _zone.get_zone_type_id(); });
    same_twice("zone default_allowed", [&] { return _zone.get_default_allowed(); });
    same_twice("zone priority", [&] { return _zone.get_priority(); });
    same_twice("zone updated_at", [&] { return _zone.get_updated_at(); });
    same_twice("zone trackable_object_uid",
               [&] { return copied(_zone.get_trackable_object_uid()); });
    same_twice("zone zone_exceptions", [&] { return _zone.get_zone_exceptions(); });
    same_twice("zone zone_exceptions_groups", [&] { return _zone.get_zone_exceptions_groups(); });
    read_nested(
        "zone user_params", [&] { return _zone.get_user_params(); },
        [](const auto& _params) {
            same_twice("zone max_occupancy", [&] { return _params.get_max_occupancy(); });
        });
    guarded([&] {
        const auto& geometry = _zone.get_zone_geometry();
        same_twice("zone radius", [&] { return geometry.get_radius(); });
        guarded([&] {
            geometry.for_each_point([](const objects::zone::point& _point) {
                same_twice("point x", [&] { return _point.get_x(); });
                same_twice("point y", [&] { return _point.get_y(); });
                return true;
            });
        });
    });
    guarded([&] {
        _zone.for_each_trackable_in_zone([](const objects::zone::trackable_in_zone& _trackable) {
            same_twice("trackable uid", [&] { return _trackable.get_uid(); });
            same_twice("trackable x", [&] { return _trackable.get_x(); });
            same_twice("trackable y", [&] { return _trackable.get_y(); });
            same_twice("trackable z", [&] { return _trackable.get_z(); });
            same_twice("trackable time", [&] { return _trackable.get_time(); });
            return true;
        });
    });
}

void read_all(const objects::trackable_object& _object) {
    same_twice("tag uid", [&] { return _object.get_uid(); });
    same_twice("tag name", [&] { return _object.get_name(); });
    same_twice("tag project_uid", [&] { return _object.get_project_uid(); });
    same_twice("tag company_uid", [&] { return _object.get_company_uid(); });
    same_twice("tag updated_at", [&] { return _object.get_updated_at(); });
    same_twice("tag self_zone_uid", [&] { return copied(_object.get_self_zone_uid()); });
    same_twice("tag groups", [&] {
        const auto groups = _object.get_groups();
        return groups ? *groups : std::vector<std::string>{"(none)"};
    });
    same_twice("tag default_height", [&] { return _object.get_default_height(); });
    same_twice("tag type", [&] { return _object.get_type(); });
    same_twice("tag category", [&] { return _object.get_category(); });
    same_twice("tag has_malformed_node", [&] { return _object.has_malformed_node(); });
    // A malformed node is never read as a node.
    guarded([&] {
        if (_object.has_malformed_node() && _object.get_node()) {
            fuzz::property_failed(entry, "a malformed node read as a node");
        }
    });
    read_nested(
        "tag node", [&] { return _object.get_node(); },
        [](const auto& _node) {
            same_twice("tag node responsive", [&] { return _node.get_responsive(); });
            same_twice("tag node mac_address", [&] { return _node.get_mac_address(); });
        });
    read_nested(
        "tag position", [&] { return _object.get_position(); },
        [](const auto& _position) {
            same_twice("tag position x", [&] { return _position.get_x(); });
            same_twice("tag position y", [&] { return _position.get_y(); });
            same_twice("tag position z", [&] { return _position.get_z(); });
            same_twice("tag position sl_id", [&] { return _position.get_sl_id(); });
        });
    guarded([&] {
        const auto& config = _object.get_tag_config();
        same_twice("tag stationary", [&] { return config.get_stationary(); });
        guarded([&] {
            config.for_each_t2t_no_alarm_item(
                [](const objects::trackable_object::tag_config::t2t_no_alarm_item& _item) {
                    same_twice("tag t2t_no_alarm mac", [&] { return _item.get_mac(); });
                    return true;
                });
        });
        read_nested(
            "tag t2t_cfg", [&] { return config.get_t2t_cfg(); },
            [](const auto& _cfg) {
                same_twice("t2t role", [&] { return copied(_cfg.get_role()); });
                same_twice("t2t alarm_back", [&] { return _cfg.get_alarm_back(); });
                same_twice("t2t distance", [&] { return _cfg.get_distance(); });
                same_twice("t2t angle", [&] { return _cfg.get_angle(); });
                same_twice("t2t delay", [&] { return _cfg.get_delay(); });
                same_twice("t2t pin", [&] { return copied(_cfg.get_pin()); });
                same_twice("t2t alert_distance", [&] { return _cfg.get_alert_distance(); });
                same_twice("t2t safe_distance", [&] { return _cfg.get_safe_distance(); });
                same_twice("t2t buzzer", [&] { return _cfg.get_buzzer(); });
                same_twice("t2t haptic", [&] { return _cfg.get_haptic(); });
            });
    });
}

void read_all(const objects::sublocation& _sublocation) {
    same_twice("sublocation uid", [&] { return _sublocation.get_uid(); });
    same_twice("sublocation updated_at", [&] { return _sublocation.get_updated_at(); });
    same_twice("sublocation name", [&] { return copied(_sublocation.get_name()); });
    same_twice("sublocation project_name", [&] { return copied(_sublocation.get_project_name()); });
    same_twice("sublocation project_uid", [&] { return copied(_sublocation.get_project_uid()); });
    same_twice("sublocation company_uid", [&] { return copied(_sublocation.get_company_uid()); });
    same_twice("sublocation location_uid", [&] { return copied(_sublocation.get_location_uid()); });
    same_twice("sublocation id", [&] { return _sublocation.get_id(); });
    same_twice("sublocation offset_x", [&] { return _sublocation.get_offset_x(); });
    same_twice("sublocation offset_y", [&] { return _sublocation.get_offset_y(); });
    same_twice("sublocation offset_z", [&] { return _sublocation.get_offset_z(); });
}

void read_all(const objects::win_anchor& _anchor) {
    same_twice("anchor uid", [&] { return _anchor.get_uid(); });
    same_twice("anchor name", [&] { return _anchor.get_name(); });
    same_twice("anchor sublocation_uid", [&] { return _anchor.get_sublocation_uid(); });
    same_twice("anchor project_uid", [&] { return _anchor.get_project_uid(); });
    same_twice("anchor company_uid", [&] { return _anchor.get_company_uid(); });
    same_twice("anchor updated_at", [&] { return _anchor.get_updated_at(); });
    read_nested(
        "anchor node", [&] { return _anchor.get_node(); },
        [](const auto& _node) {
            same_twice("anchor node responsive", [&] { return _node.get_responsive(); });
            same_twice("anchor node mac_address", [&] { return _node.get_mac_address(); });
            same_twice("anchor node node_id", [&] { return _node.get_node_id(); });
        });
    read_nested(
        "anchor position", [&] { return _anchor.get_position(); },
        [](const auto& _position) {
            same_twice("anchor position x", [&] { return _position.get_x(); });
            same_twice("anchor position y", [&] { return _position.get_y(); });
            same_twice("anchor position z", [&] { return _position.get_z(); });
        });
}

void read_all(const objects::node& _node) {
    same_twice("node uid", [&] { return _node.get_uid(); });
    same_twice("node mac_address", [&] { return _node.get_mac_address(); });
    same_twice("node updated_at", [&] { return _node.get_updated_at(); });
    read_nested(
        "node status", [&] { return _node.get_status(); },
        [](const auto& _status) {
            same_twice("node ext_pow", [&] { return _status.get_ext_pow(); });
        });
}

// Builds the view of one kind from _json (a REST element or a notification) and reads it.
template <class View, class Json>
void read_view(const Json& _json) {
    guarded([&] {
        const View view(_json);
        read_all(view);
    });
}

template <class Json>
void read_every_kind(const Json& _json) {
    read_view<objects::zone_impl>(_json);
    read_view<objects::trackable_object_impl>(_json);
    read_view<objects::sublocation_impl>(_json);
    read_view<objects::win_anchor_impl>(_json);
    read_view<objects::node_impl>(_json);
}

// A router with a view reader in every slot of the five kinds; each call must bring the
// whole message.
void route(const std::string& _text, const Json::Value& _parsed) {
    cu::context_updater router;
    const auto reader = [&_parsed](auto _read) {
        return [&_parsed, _read](const cu::json_notify& _notify) {
            if (!(_notify.get_json() == _parsed)) {
                fuzz::property_failed(entry, "a routed message that is not the one received");
            }
            _read(_notify);
        };
    };
    for (const cu::object_info* info :
         {&cu::object_infos::zone, &cu::object_infos::trackable_object,
          &cu::object_infos::sublocation, &cu::object_infos::win_anchor, &cu::object_infos::node,
          &cu::object_infos::alarm}) {
        const auto read = reader([info](const cu::json_notify& _notify) {
            switch (info->m_type) {
                case cu::object_type::zone:
                    return read_view<objects::zone_impl>(_notify);
                case cu::object_type::trackable_object:
                    return read_view<objects::trackable_object_impl>(_notify);
                case cu::object_type::sublocation:
                    return read_view<objects::sublocation_impl>(_notify);
                case cu::object_type::win_anchor:
                    return read_view<objects::win_anchor_impl>(_notify);
                case cu::object_type::node:
                    return read_view<objects::node_impl>(_notify);
                default:
                    fuzz::property_failed(entry, "a message routed to a kind without routes");
            }
        });
        router.on_creating(*info, read);
        router.on_updating(*info, read);
        router.on_deleting(*info, read);
    }
    const auto whole = reader([](const cu::json_notify&) {});
    router.on_pos(whole);
    router.on_trackable_object_association_creating(whole);
    router.on_trackable_object_association_updating(whole);
    router.on_trackable_object_groups_updating(whole);
    // Not JSON, no string "object" or "action", or a top-level value that is not an object:
    // the events loop logs what is raised.
    fuzz::reporting_unexpected("tvk::libs::context_utils::context_updater",
                               [&] { router.handle_notify(_text); });
    fuzz::reporting_unexpected("tvk::libs::context_utils::context_updater",
                               [&] { router.handle_pos(_text); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    const std::string text = fuzz::text_of(_data, _size);
    const auto parsed = tvk::libs::core::json::try_parse(text);
    route(text, parsed.result);
    if (!parsed.ok) {
        return 0;
    }
    read_every_kind(cu::json_object(parsed.result));
    read_every_kind(cu::json_notify(parsed.result));
    if (!parsed.result.isObject()) {
        return 0;
    }
    // A REST answer: each list's elements, as the loader hands them on.
    for (const cu::object_info* info :
         {&cu::object_infos::zone, &cu::object_infos::trackable_object,
          &cu::object_infos::sublocation, &cu::object_infos::win_anchor, &cu::object_infos::node}) {
        const Json::Value& list = parsed.result[info->m_rest_json_name];
        if (!list.isArray()) {
            continue;
        }
        for (const auto& element : list) {
            read_every_kind(cu::json_object(element));
        }
    }
    return 0;
}
