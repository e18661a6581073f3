#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace test_support {

// A fresh directory under the system's temporary directory, removed with its content at the end.
class temporary_directory {
public:
    temporary_directory();
    ~temporary_directory();
    temporary_directory(const temporary_directory&) = delete;
    temporary_directory& operator=(const temporary_directory&) = delete;

    const std::string& path() const { return m_path; }
    // _name inside the directory.
    std::string file(const std::string& _name) const { return m_path + "/" + _name; }
    // Writes _content to _name inside the directory; returns the path.
    std::string write_file(const std::string& _name, const std::string& _content) const;

private:
    std::string m_path;
};

// A child process with its standard output and error captured into files.
class child_process {
public:
    // Starts _program with _arguments (argv[0] is _program) in _working_directory (empty:
    // the current one).
    child_process(const std::string& _program, const std::vector<std::string>& _arguments,
                  const std::string& _working_directory = std::string());
    ~child_process();  // kills the child if it still runs
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    pid_t pid() const { return m_pid; }
    void send_signal(int _signal) const;

    // Waits for the end; false when the deadline passed first.
    bool wait(std::chrono::milliseconds _timeout);
    bool exited() const { return m_exited; }
    // The exit status, or 128 + signal number when a signal ended it.
    int exit_code() const { return m_exit_code; }

    std::string standard_output() const;
    std::string standard_error() const;

private:
    temporary_directory m_directory;  // holds the captured output
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_exit_code = -1;
};

struct process_result {
    bool finished = false;  // false: killed at the deadline
    int exit_code = -1;
    std::string standard_output;
    std::string standard_error;
};

// Runs a program to its end, bounded by _timeout.
process_result run_process(const std::string& _program, const std::vector<std::string>& _arguments,
                           std::chrono::milliseconds _timeout = std::chrono::seconds(20),
                           const std::string& _working_directory = std::string());

std::string read_file(const std::string& _path);

}  // namespace test_support
