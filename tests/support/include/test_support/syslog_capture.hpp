#pragma once

#include <sys/types.h>
#include <syslog.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "test_support/collected.hpp"
#include "test_support/polling_thread.hpp"

namespace test_support {

// One datagram that syslog(3) sent.
struct syslog_line {
    pid_t pid = 0;        // the sender, as the kernel tells it
    int priority = 0;     // the level: facility bits removed
    int facility = 0;     // facility << 3, as in LOG_USER
    std::string ident;    // the text before ": "
    std::string message;  // the text after the first ": " that follows the time stamp
};

// Receives the process's syslog lines by binding a datagram socket at /dev/log. Only
// possible where no system logger holds that path: available() tells, skip_reason() says why.
// Tests that use it must not run at the same time as each other (ctest RESOURCE_LOCK dev_log).
// Other processes may log meanwhile: look only at the lines of the process under test.
class syslog_capture {
public:
    syslog_capture();
    ~syslog_capture();
    syslog_capture(const syslog_capture&) = delete;
    syslog_capture& operator=(const syslog_capture&) = delete;

    bool available() const { return m_fd >= 0; }
    const std::string& skip_reason() const { return m_skip_reason; }

    // The lines that _pid sent.
    std::vector<syslog_line> lines(pid_t _pid) const;
    void clear();

    // Waits until _predicate holds for the lines that _pid sent, or the deadline passes.
    bool wait_for(pid_t _pid,
                  const std::function<bool(const std::vector<syslog_line>&)>& _predicate,
                  std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;
    bool wait_for_message_containing(
        pid_t _pid, const std::string& _text,
        std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;

    static syslog_line parse(const std::string& _datagram);

private:
    void receive();

    int m_fd = -1;
    std::string m_skip_reason;
    collected<syslog_line> m_lines;
    polling_thread m_thread;
};

}  // namespace test_support

// Skips the current test when syslog cannot be captured here, saying why.
#define TEST_SUPPORT_REQUIRE_SYSLOG(capture)                                      \
    do {                                                                          \
        if (!(capture).available()) {                                             \
            GTEST_SKIP() << "syslog not capturable: " << (capture).skip_reason(); \
        }                                                                         \
    } while (false)
