#include "context/zone_event.hpp"

#include <utility>

namespace tvk {
namespace context {

zone_event::zone_event(std::string _uid, timestamp _ts, std::string _obj_uid, std::string _zone_uid,
                       std::string _zone_type, unsigned int _zone_id)
    : m_uid(std::move(_uid))
    , m_ts(_ts)
    , m_obj_uid(std::move(_obj_uid))
    , m_zone_uid(std::move(_zone_uid))
    , m_zone_id(_zone_id)
    , m_zone_type(std::move(_zone_type)) {}

std::string zone_event::make_uid(const std::string& _obj_uid, const std::string& _zone_uid) {
    return _obj_uid + ":" + _zone_uid;
}

}  // namespace context
}  // namespace tvk
