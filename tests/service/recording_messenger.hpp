#pragma once

#include <boost/optional.hpp>
#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "messenger.hpp"

namespace service_test {

// A stand-in of the messenger: numbers and records the frames it is asked to send, and feeds
// the devices' answers back through the callbacks it was given.
class recording_messenger : public tvk::messenger {
public:
    struct frame {
        enum kind_t { enter, leave, ack } kind;
        std::string uid;
        unsigned int seq_no;
        // The zone id of a leave; the descriptor's zone id of an enter.
        unsigned int zone_id;
        zone_enter_event_t event;
        std::chrono::steady_clock::time_point sent_at;

        // "enter T1 17", "leave T1 17" or "ack T1 5".
        std::string text() const {
            static const char* const names[] = {"enter", "leave", "ack"};
            return std::string(names[kind]) + " " + uid + " " +
                   std::to_string(kind == ack ? seq_no : zone_id);
        }
    };

    void set_on_reboot(on_reboot_callback _callback) override {
        m_on_reboot = std::move(_callback);
    }
    void set_on_heartbeat(on_heartbeat_callback _callback) override {
        m_on_heartbeat = std::move(_callback);
    }
    void set_on_ack(on_ack_callback _callback) override { m_on_ack = std::move(_callback); }
    void set_on_nack(on_nack_callback _callback) override { m_on_nack = std::move(_callback); }
    void set_on_register_tag(on_register_tag_callback _callback) override {
        m_on_register_tag = std::move(_callback);
    }

    bool send_ack(const std::string& _uid, unsigned int _seq_no) const override {
        m_frames.push_back({frame::ack, _uid, _seq_no, 0, {}, std::chrono::steady_clock::now()});
        return true;
    }
    bool send_enter_zone_event(const std::string& _uid, const zone_enter_event_t& _event) override {
        const unsigned int seq_no = get_new_sequence_number();
        m_frames.push_back({frame::enter, _uid, seq_no, _event.zone_descriptor.zone_id, _event,
                            std::chrono::steady_clock::now()});
        return m_post_result;
    }
    bool send_leave_zone_event(const std::string& _uid, unsigned int _zone_id) override {
        const unsigned int seq_no = get_new_sequence_number();
        m_frames.push_back(
            {frame::leave, _uid, seq_no, _zone_id, {}, std::chrono::steady_clock::now()});
        return m_post_result;
    }

    // The answers are fed by hand, so all are read, unless a test holds some back unread.
    std::chrono::steady_clock::time_point answers_read_until() override {
        return m_read_until ? *m_read_until : std::chrono::steady_clock::now();
    }

    unsigned char get_last_sequence_number() const override { return m_sequence_number; }
    unsigned char get_new_sequence_number() override { return ++m_sequence_number; }

    // The devices' side.
    void ack(const std::string& _uid, unsigned int _seq_no, tvk::libs::core::timestamp _ts) {
        callback(m_on_ack)(_uid, _seq_no, _ts);
    }
    void nack(const std::string& _uid, unsigned int _seq_no, unsigned int _error_code,
              tvk::libs::core::timestamp _ts) {
        callback(m_on_nack)(_uid, _seq_no, _error_code, _ts);
    }
    void register_tag(const std::string& _uid, const std::string& _mac,
                      tvk::libs::core::timestamp _ts) {
        callback(m_on_register_tag)(_uid, _mac, _ts);
    }
    void reboot(const std::string& _uid) { callback(m_on_reboot)(_uid); }
    void heartbeat(const std::string& _uid) { callback(m_on_heartbeat)(_uid); }

    // How many of the five callbacks are set.
    int callbacks_set() const {
        return !!m_on_reboot + !!m_on_heartbeat + !!m_on_ack + !!m_on_nack + !!m_on_register_tag;
    }

    // The texts of the frames from _first on.
    std::vector<std::string> texts(std::size_t _first = 0) const {
        std::vector<std::string> result;
        for (std::size_t i = _first; i < m_frames.size(); ++i) {
            result.push_back(m_frames[i].text());
        }
        return result;
    }

    mutable std::vector<frame> m_frames;
    unsigned char m_sequence_number = 0;
    // What the sends report; the dispatcher must not care.
    bool m_post_result = true;
    // Set: answers that came since then wait unread.
    boost::optional<std::chrono::steady_clock::time_point> m_read_until;

private:
    template <class F>
    static const F& callback(const F& _callback) {
        if (!_callback) {
            throw std::logic_error("no callback set");
        }
        return _callback;
    }

    on_reboot_callback m_on_reboot;
    on_heartbeat_callback m_on_heartbeat;
    on_ack_callback m_on_ack;
    on_nack_callback m_on_nack;
    on_register_tag_callback m_on_register_tag;
};

}  // namespace service_test
