#pragma once

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "core/exception.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace detail {

// Raises when the process recorded in the file still runs.
inline void check_pid(const std::string& _pid_file_name) {
    std::ifstream file(_pid_file_name);
    if (!file.is_open()) {
        return;
    }
    long pid = 0;
    if (!(file >> pid)) {
        pid = 0;
    }
    file.close();
    // kill() with 0 or a negative pid addresses process groups, and our own pid is what a
    // restarted container often finds: none of them is another running service.
    if (pid <= 0 || pid == static_cast<long>(getpid()) ||
        pid != static_cast<long>(static_cast<pid_t>(pid))) {
        return;
    }
    if (kill(static_cast<pid_t>(pid), 0) == 0) {
        throw exception("Process is running", TVK_SOURCE_LOCATION);
    }
    const int error = errno;
    if (error != ESRCH) {
        throw exception(std::string("write_pid: kill(): ") + std::strerror(error),
                        TVK_SOURCE_LOCATION);
    }
}

// Records the own pid, replacing the file's content.
inline void write_pid(const std::string& _pid_file_name) {
    std::ofstream file(_pid_file_name, std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        throw exception("Error opening pid-file!", TVK_SOURCE_LOCATION);
    }
    file << getpid();
    file.close();
    if (file.fail()) {
        throw exception("Error writing pid-file!", TVK_SOURCE_LOCATION);
    }
}

}  // namespace detail

// Refuses while the recorded process runs, then records the own pid.
inline void write_pid(const std::string& _pid_file_name) {
    detail::check_pid(_pid_file_name);
    detail::write_pid(_pid_file_name);
}

}  // namespace core
}  // namespace libs
}  // namespace tvk
