#pragma once

#include <string>
#include <utility>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace context {

// One tag inside one zone of a configured type since a given time; stored under
// make_uid(obj_uid, zone_uid).
class zone_event {
public:
    typedef tvk::libs::context_utils::timestamp timestamp;

    // The zone type comes before the zone id, unlike the fields.
    zone_event(std::string _uid, timestamp _ts, std::string _obj_uid, std::string _zone_uid,
               std::string _zone_type, unsigned int _zone_id);

    // obj_uid, ":" and zone_uid, unescaped: a colon inside a uid stays as it is.
    static std::string make_uid(const std::string& _obj_uid, const std::string& _zone_uid);

    const std::string& get_uid() const { return m_uid; }

    timestamp get_ts() const { return m_ts; }
    void set_ts(timestamp _ts) { m_ts = _ts; }

    const std::string& get_obj_uid() const { return m_obj_uid; }
    void set_obj_uid(std::string _obj_uid) { m_obj_uid = std::move(_obj_uid); }

    const std::string& get_zone_uid() const { return m_zone_uid; }
    void set_zone_uid(std::string _zone_uid) { m_zone_uid = std::move(_zone_uid); }

    const std::string& get_zone_type() const { return m_zone_type; }
    void set_zone_type(std::string _zone_type) { m_zone_type = std::move(_zone_type); }

    unsigned int get_zone_id() const { return m_zone_id; }
    void set_zone_id(unsigned int _zone_id) { m_zone_id = _zone_id; }

private:
    std::string m_uid;
    timestamp m_ts;
    std::string m_obj_uid;
    std::string m_zone_uid;
    unsigned int m_zone_id;
    std::string m_zone_type;
};

}  // namespace context
}  // namespace tvk
