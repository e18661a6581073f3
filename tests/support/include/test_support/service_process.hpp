#pragma once

#include <json/json.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "test_support/location_site.hpp"
#include "test_support/process.hpp"

namespace test_support {

// A configuration of the service for a run against _site: the pid file in _directory, log
// copies to the debug socket _debug_endpoint, outside debug mode, the HTTP time-out 5 s,
// posting allowed, and _zone_types.
Json::Value service_config(const location_site& _site, const temporary_directory& _directory,
                           const std::string& _debug_endpoint,
                           const std::vector<std::string>& _zone_types);

// The service binary running on a configuration written for it. Ended by SIGTERM at the end
// of its life if it still runs (SIGKILL when it does not end within 10 s).
class service_process {
public:
    // Writes _config as _directory's "quillmere.json" and starts "_binary -c" on it.
    service_process(const std::string& _binary, const temporary_directory& _directory,
                    const Json::Value& _config);
    ~service_process();
    service_process(const service_process&) = delete;
    service_process& operator=(const service_process&) = delete;

    pid_t pid() const { return m_child->pid(); }
    const std::string& config_file() const { return m_config_file; }

    // Sends _signal and waits for the end; false when the deadline passed first.
    bool stop(int _signal = SIGTERM, std::chrono::milliseconds _timeout = std::chrono::seconds(10));
    // Waits for the end without a signal; false at the deadline.
    bool wait(std::chrono::milliseconds _timeout);
    bool exited() const { return m_child->exited(); }
    int exit_code() const { return m_child->exit_code(); }
    std::string standard_error() const { return m_child->standard_error(); }

private:
    std::string m_config_file;
    std::unique_ptr<child_process> m_child;
};

}  // namespace test_support
