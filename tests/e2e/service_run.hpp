#pragma once

#include <syslog.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "test_support/process.hpp"
#include "test_support/syslog_capture.hpp"

namespace e2e {

// One run of the service binary to its end.
struct service_run {
    bool finished = false;  // false: killed at the deadline
    int exit_code = -1;
    pid_t pid = -1;
    std::string standard_output;
    std::string standard_error;
    std::vector<test_support::syslog_line> lines;  // the syslog lines of this run only
};

// Runs the binary with _arguments. A run that fails gets its lines once the error line came;
// with _expect_error false a short grace period lets a wrong error line show up.
inline service_run run_service(const test_support::syslog_capture& _capture,
                               const std::vector<std::string>& _arguments,
                               bool _expect_error = true) {
    service_run run;
    test_support::child_process child(QUILLMERE_BINARY, _arguments);
    run.pid = child.pid();
    run.finished = child.wait(std::chrono::seconds(20));
    run.exit_code = child.exit_code();
    run.standard_output = child.standard_output();
    run.standard_error = child.standard_error();
    // The child has ended, so every datagram it sent is already queued at the capture.
    _capture.wait_for(
        run.pid,
        [](const std::vector<test_support::syslog_line>& _lines) {
            return std::any_of(
                _lines.begin(), _lines.end(),
                [](const test_support::syslog_line& _line) { return _line.priority == LOG_ERR; });
        },
        _expect_error ? std::chrono::milliseconds(5000) : std::chrono::milliseconds(300));
    run.lines = _capture.lines(run.pid);
    return run;
}

}  // namespace e2e
