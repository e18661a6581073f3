#include "devices.hpp"

#include "hex_frame.hpp"

namespace quillmere_sim {

namespace {
// The code a full device refuses with; the service reads any code as "full".
constexpr unsigned int full_error_code = 1;
}  // namespace

void devices::add(const std::string& _uid, const std::string& _mac) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices[_uid].mac = _mac;
}

std::string devices::mac(const std::string& _uid) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices.at(_uid).mac;
}

void devices::plan(const std::string& _uid, reply _reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.at(_uid).plan.push_back(_reply);
}

std::string devices::register_tag(const std::string& _uid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& found = m_devices.at(_uid);
    found.own_seq_no = (found.own_seq_no + 1) & 0xFFu;
    return register_tag_frame(found.own_seq_no);
}

handled_frame devices::take(const std::string& _uid, const std::string& _hex) {
    handled_frame handled;
    handled.device = _uid;
    handled.hex = _hex;
    handled.frame = decode(_hex);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_devices.find(_uid);
    handled.known_device = found != m_devices.end();
    const bool notice = handled.frame.valid && (handled.frame.type == tvk::ZONE_ENTER_EVENT ||
                                                handled.frame.type == tvk::ZONE_LEAVE_EVENT);
    if (!handled.known_device || !notice) {
        return handled;
    }
    auto& target = found->second;
    if (!target.plan.empty()) {
        handled.answer = target.plan.front();
        target.plan.pop_front();
    }
    const auto kind = std::make_pair(handled.frame.type, handled.frame.zone_id());
    const auto previous = target.answered.find(kind);
    handled.resend = previous != target.answered.end() && !previous->second;
    handled.answered = handled.answer != reply::ignore;
    target.answered[kind] = handled.answered;
    switch (handled.answer) {
        case reply::ack:
            handled.answer_hex = ack_frame(handled.frame.seq_no);
            break;
        case reply::refuse:
            handled.answer_hex = nack_frame(handled.frame.seq_no, full_error_code);
            break;
        case reply::ignore:
            break;
    }
    return handled;
}

}  // namespace quillmere_sim
