#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

namespace quillmere_sim {

// The demo's output: one line per happening, with the seconds since the start and a source
// ("stream", "post", "device", "service", "redis", "demo"). Thread-safe; each line is flushed.
class timeline {
public:
    explicit timeline(std::ostream& _out);

    // _detail, when given, is printed on a line of its own under the text.
    void line(const std::string& _source, const std::string& _text,
              const std::string& _detail = std::string());
    // A heading between the steps of the scenario.
    void heading(const std::string& _text);

private:
    std::ostream& m_out;
    std::mutex m_mutex;
    const std::chrono::steady_clock::time_point m_start;
};

}  // namespace quillmere_sim
