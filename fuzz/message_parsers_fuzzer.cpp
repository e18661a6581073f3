// The context library's message parsers: the input is JSON text, read by every parser both
// as a REST element and as a notification (its "plist" and envelope), and every getter is
// called, lists read to their end.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/exception.hpp"
#include "core/json.hpp"
#include "fuzz_support.hpp"
#include "parsers/alarm_impl.hpp"
#include "parsers/pos_impl.hpp"
#include "parsers/trackable_object_association_impl.hpp"
#include "parsers/trackable_object_groups_impl.hpp"
#include "parsers/trackable_object_impl.hpp"
#include "parsers/zone_impl.hpp"

namespace {

namespace parsers = tvk::libs::context_utils::parsers;
using envelope = boost::optional<const Json::Value&>;

const char* const entry = "the message parsers";

// A parser's own error for a missing or mistyped field: "context-utils: ..." or
// "context-utils::group_impl: ...".
bool parser_error(const std::exception& _e) {
    return dynamic_cast<const std::logic_error*>(&_e) != nullptr &&
           std::strncmp(_e.what(), "context-utils", 13) == 0;
}

// Runs _read, letting pass what a parser may report for bad input: its own error, the
// position parser's core exception, and jsoncpp's own errors for a holder that is not an
// object or a number out of range.
template <class Read>
void guarded(Read&& _read) {
    fuzz::reporting_unexpected(entry, _read, parser_error);
}

template <class List>
void read_list(const List& _list) {
    for (const std::string& item : _list) {
        (void)item.size();
    }
}

void read_zone(const Json::Value& _json, const envelope& _notify) {
    guarded([&] {
        parsers::zone_impl zone(_json, _notify);
        guarded([&] { (void)zone.get_uid(); });
        guarded([&] { (void)zone.get_project_uid(); });
        guarded([&] { (void)zone.get_name(); });
        guarded([&] { (void)zone.get_sublocation_uid(); });
        guarded([&] { (void)zone.get_active(); });
        guarded([&] { (void)zone.get_shape(); });
        guarded([&] { (void)zone.get_zone_type_name(); });
        guarded([&] { (void)zone.get_zone_alarm_level(); });
        guarded([&] { (void)zone.get_default_allowed(); });
        guarded([&] { (void)zone.get_priority(); });
        guarded([&] { (void)zone.get_ts(); });
        guarded([&] { (void)zone.get_ms(); });
        guarded([&] { (void)zone.get_trackable_object_uid(); });
        guarded([&] { (void)zone.get_radius(); });
        guarded([&] { read_list(zone.get_zone_exceptions()); });
        guarded([&] { read_list(zone.get_zone_exceptions_groups()); });
        guarded([&] {
            zone.for_each_point([](parsers::zone::point& _point) {
                guarded([&] { (void)_point.get_x(); });
                guarded([&] { (void)_point.get_y(); });
                return true;
            });
        });
        guarded([&] {
            zone.for_each_trackable_in_zone([](parsers::zone::trackable_in_zone& _trackable) {
                guarded([&] { (void)_trackable.get_uid(); });
                guarded([&] { (void)_trackable.get_x(); });
                guarded([&] { (void)_trackable.get_y(); });
                guarded([&] { (void)_trackable.get_z(); });
                guarded([&] { (void)_trackable.get_time(); });
                return true;
            });
        });
    });
}

void read_trackable_object(const Json::Value& _json, const envelope& _notify) {
    guarded([&] {
        parsers::trackable_object_impl tag(_json, _notify);
        guarded([&] { (void)tag.get_uid(); });
        guarded([&] { (void)tag.get_name(); });
        guarded([&] { (void)tag.get_responsive(); });
        guarded([&] { (void)tag.get_mac_address(); });
        guarded([&] { (void)tag.get_project_uid(); });
        guarded([&] { (void)tag.get_sublocation_uid(); });
        guarded([&] { (void)tag.get_x(); });
        guarded([&] { (void)tag.get_y(); });
        guarded([&] { (void)tag.get_z(); });
        guarded([&] { (void)tag.get_ts(); });
        guarded([&] { (void)tag.get_ms(); });
        guarded([&] { (void)tag.get_self_zone_uid(); });
        guarded([&] {
            const auto groups = tag.get_groups();
            if (groups) {
                read_list(*groups);
            }
        });
        guarded([&] { (void)tag.get_default_height(); });
        guarded([&] { (void)tag.get_type(); });
        guarded([&] { (void)tag.get_category(); });
        guarded([&] {
            auto& config = tag.get_tag_config();
            guarded([&] { (void)config.get_stationary(); });
            guarded([&] {
                const auto no_alarm = config.get_t2t_no_alarm();
                if (no_alarm) {
                    read_list(*no_alarm);
                }
            });
            guarded([&] {
                const auto cfg = config.get_t2t_cfg();
                if (!cfg) {
                    return;
                }
                guarded([&] { (void)cfg->get_role(); });
                guarded([&] { (void)cfg->get_alarm_back(); });
                guarded([&] { (void)cfg->get_distance(); });
                guarded([&] { (void)cfg->get_angle(); });
                guarded([&] { (void)cfg->get_delay(); });
                guarded([&] { (void)cfg->get_pin(); });
                guarded([&] { (void)cfg->get_alert_distance(); });
                guarded([&] { (void)cfg->get_safe_distance(); });
                guarded([&] { (void)cfg->get_buzzer(); });
                guarded([&] { (void)cfg->get_haptic(); });
            });
        });
    });
}

void read_alarm(const Json::Value& _json, const envelope& _notify) {
    guarded([&] {
        parsers::alarm_impl alarm(_json, _notify);
        guarded([&] { (void)alarm.get_uid(); });
        guarded([&] { (void)alarm.get_mac_address(); });
        guarded([&] { (void)alarm.get_alarm_name(); });
        guarded([&] { (void)alarm.get_text(); });
        guarded([&] { (void)alarm.get_zone_alarm_level(); });
        guarded([&] { (void)alarm.get_zone_violation_type(); });
        guarded([&] { (void)alarm.get_zone_uid(); });
        guarded([&] { (void)alarm.get_ts(); });
        guarded([&] { (void)alarm.get_ms(); });
        guarded([&] { (void)alarm.get_sublocation_uid(); });
        guarded([&] { (void)alarm.get_x(); });
        guarded([&] { (void)alarm.get_y(); });
        guarded([&] { (void)alarm.get_z(); });
        guarded([&] { (void)alarm.get_obj_uid(); });
    });
}

void read_notice_only(const Json::Value& _plist, const Json::Value& _notify) {
    guarded([&] {
        parsers::trackable_object_association_impl association(_plist, _notify);
        guarded([&] { (void)association.get_ts(); });
        guarded([&] { (void)association.get_project_uid(); });
        guarded([&] { (void)association.get_mac_address(); });
        guarded([&] { (void)association.get_trackable_object_uid(); });
        guarded([&] { (void)association.get_created_at(); });
        guarded([&] { (void)association.get_removed_at(); });
    });
    guarded([&] {
        parsers::trackable_object_groups_impl groups(_plist, _notify);
        guarded([&] { (void)groups.get_ts(); });
        guarded([&] { (void)groups.get_project_uid(); });
        const auto read_group = [](parsers::trackable_object_groups::group& _group) {
            guarded([&] { (void)_group.get_uid(); });
            guarded([&] { (void)_group.get_trackable_object_uid(); });
            return true;
        };
        guarded([&] { groups.for_each_added_group(read_group); });
        guarded([&] { groups.for_each_removed_group(read_group); });
    });
}

void read_position(const Json::Value& _json) {
    guarded([&] {
        parsers::pos_impl pos(_json);
        guarded([&] { (void)pos.get_trackable_uid(); });
        guarded([&] { (void)pos.get_ts(); });
        guarded([&] { (void)pos.get_x(); });
        guarded([&] { (void)pos.get_y(); });
        guarded([&] { (void)pos.get_z(); });
        guarded([&] { (void)pos.get_type(); });
        guarded([&] { (void)pos.get_sublocation_uid(); });
        guarded([&] { (void)pos.get_fom(); });
        guarded([&] { (void)pos.get_mac(); });
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* _data, std::size_t _size) {
    const auto parsed = tvk::libs::core::json::try_parse(fuzz::text_of(_data, _size));
    if (!parsed.ok) {
        return 0;
    }
    const Json::Value& json = parsed.result;
    read_zone(json, boost::none);
    read_trackable_object(json, boost::none);
    read_alarm(json, boost::none);
    read_position(json);
    guarded([&] {
        const Json::Value& plist = json["plist"];
        read_zone(plist, json);
        read_trackable_object(plist, json);
        read_alarm(plist, json);
        read_notice_only(plist, json);
    });
    return 0;
}
