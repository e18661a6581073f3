#pragma once

#include <atomic>
#include <ostream>
#include <string>

namespace quillmere_sim {

struct options {
    std::string service;  // path of the service binary
    bool short_run = false;
    bool verbose = false;  // every log line of the service, not only the telling ones
};

// Plays the location system, the stream and the devices around one run of the service and
// prints the timeline to _out. Ends early, stopping everything it started, once _interrupted
// is set. Returns the exit status: 0 when every step was seen, 1 when one was not, 130 when
// interrupted.
int run_demo(const options& _options, const std::atomic<bool>& _interrupted, std::ostream& _out);

}  // namespace quillmere_sim
