// quillmere-sim: runs the service against a stand-in of the location system on loopback (a
// location server, the message stream, the tags' devices and a Redis server of its own) and
// prints what happens. scripts/demo builds and runs it.
#include <signal.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <string>

#include "scenario.hpp"

namespace {
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void on_signal(int) {
    interrupted = true;
}

void watch_signals() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // SIGPIPE too: a reader of the timeline that goes away ends the demo like Ctrl-C.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaction(signal, &action, nullptr);
    }
}

void usage(std::ostream& _out) {
    _out << "usage: quillmere-sim --service <quillmere binary> [--short] [--verbose]\n"
            "  --short    only a registration, a resend and a leave\n"
            "  --verbose  every log line of the service\n";
}
}  // namespace

int main(int argc, char* argv[]) {
    quillmere_sim::options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--service" && i + 1 < argc) {
            options.service = argv[++i];
        } else if (argument == "--short") {
            options.short_run = true;
        } else if (argument == "--verbose") {
            options.verbose = true;
        } else if (argument == "--help" || argument == "-h") {
            usage(std::cout);
            return 0;
        } else {
            usage(std::cerr);
            return 2;
        }
    }
    if (options.service.empty()) {
        usage(std::cerr);
        return 2;
    }
    // Handlers, unlike blocked signals, are not inherited by the service and Redis.
    watch_signals();
    return quillmere_sim::run_demo(options, interrupted, std::cout);
}
