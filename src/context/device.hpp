#pragma once

#include <string>
#include <utility>

#include "context_utils/timestamp.hpp"

namespace tvk {
namespace context {

// The registered receiving device of one tag, stored under the tag's uid.
class device {
public:
    typedef tvk::libs::context_utils::timestamp timestamp;

    // Not full.
    device(std::string _uid, timestamp _ts, std::string _mac)
        : m_uid(std::move(_uid)), m_ts(_ts), m_mac(std::move(_mac)) {}

    const std::string& get_uid() const { return m_uid; }

    timestamp get_ts() const { return m_ts; }
    void set_ts(timestamp _ts) { m_ts = _ts; }

    const std::string& get_mac() const { return m_mac; }
    void set_mac(std::string _mac) { m_mac = std::move(_mac); }

    // True once the device has refused an enter notice as full.
    bool is_full() const { return m_full; }
    void set_full(bool _full) { m_full = _full; }

private:
    std::string m_uid;
    timestamp m_ts;
    std::string m_mac;
    bool m_full = false;
};

}  // namespace context
}  // namespace tvk
