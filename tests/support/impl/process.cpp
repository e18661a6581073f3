#include "test_support/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace test_support {

namespace {
std::string make_temporary_directory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quillmere-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return std::string(buffer.data());
}

const char* const output_name = "stdout";
const char* const error_name = "stderr";
}  // namespace

child_process::child_process(const std::string& _program,
                             const std::vector<std::string>& _arguments,
                             const std::string& _working_directory) {
    // Everything the child uses is made before fork: a child of a threaded process must not
    // allocate.
    const std::string output_path = m_directory.file(output_name);
    const std::string error_path = m_directory.file(error_name);
    std::vector<std::string> words;
    words.push_back(_program);
    words.insert(words.end(), _arguments.begin(), _arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        const int out = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(error_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
        }
        if (err >= 0) {
            ::dup2(err, 2);
        }
        if (!_working_directory.empty() && ::chdir(_working_directory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(_program.c_str(), argv.data());
        ::_exit(127);
    }
}

child_process::~child_process() {
    if (m_pid > 0 && !m_exited) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

void child_process::send_signal(int _signal) const {
    if (m_pid > 0 && !m_exited) {
        ::kill(m_pid, _signal);
    }
}

bool child_process::wait(std::chrono::milliseconds _timeout) {
    if (m_exited) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + _timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_exited = true;
            m_exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string child_process::standard_output() const {
    return read_file(m_directory.file(output_name));
}
std::string child_process::standard_error() const {
    return read_file(m_directory.file(error_name));
}

process_result run_process(const std::string& _program, const std::vector<std::string>& _arguments,
                           std::chrono::milliseconds _timeout,
                           const std::string& _working_directory) {
    child_process child(_program, _arguments, _working_directory);
    process_result result;
    result.finished = child.wait(_timeout);
    result.exit_code = child.exit_code();
    result.standard_output = child.standard_output();
    result.standard_error = child.standard_error();
    return result;
}

temporary_directory::temporary_directory() : m_path(make_temporary_directory()) {}
temporary_directory::~temporary_directory() {
    // A directory left behind harms no test.
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string temporary_directory::write_file(const std::string& _name,
                                            const std::string& _content) const {
    const std::string path = file(_name);
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << _content;
    return path;
}

std::string read_file(const std::string& _path) {
    std::ifstream stream(_path, std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

}  // namespace test_support
