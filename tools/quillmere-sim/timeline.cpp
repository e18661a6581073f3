#include "timeline.hpp"

#include <cstdio>

namespace quillmere_sim {

namespace {
constexpr int source_width = 8;
constexpr int time_width = 7;
}  // namespace

timeline::timeline(std::ostream& _out) : m_out(_out), m_start(std::chrono::steady_clock::now()) {}

void timeline::line(const std::string& _source, const std::string& _text,
                    const std::string& _detail) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
    char prefix[32];
    std::snprintf(prefix, sizeof(prefix), "%*.3f  %-*s ", time_width, elapsed.count(), source_width,
                  _source.c_str());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out << prefix << _text << '\n';
    if (!_detail.empty()) {
        m_out << std::string(time_width + 2 + source_width + 1, ' ') << _detail << '\n';
    }
    m_out.flush();
}

void timeline::heading(const std::string& _text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out << '\n' << _text << std::endl;
}

}  // namespace quillmere_sim
