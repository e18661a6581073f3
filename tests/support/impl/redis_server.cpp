#include "test_support/redis_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <thread>

#include "test_support/free_port.hpp"
#include "test_support/redis_data.hpp"

namespace test_support {

namespace {
constexpr const char* redis_program = "/usr/bin/redis-server";

// How long a server may take to start; it is a bound only, for a machine that runs the tests
// in parallel under sanitizers. A server that ends meanwhile is seen at once.
constexpr std::chrono::seconds start_deadline(30);
// Servers started in a row when each ends at once (its port taken, say).
constexpr int start_attempts = 5;

// The last _count lines of _text.
std::string last_lines(const std::string& _text, std::size_t _count) {
    std::size_t begin = _text.size();
    for (std::size_t lines = 0; begin > 0; --begin) {
        // A newline ends a line; the final one begins none.
        if (_text[begin - 1] == '\n' && begin != _text.size() && ++lines == _count) {
            break;
        }
    }
    return _text.substr(begin);
}

// A connected loopback socket, or -1. Bounded: a listener that takes no connections (the
// port held by another process) lets a connect wait for minutes once its backlog is full.
int connect_to(int _port, std::chrono::milliseconds _timeout = std::chrono::seconds(1)) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(_port));
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd waiting{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof(error);
        connected = ::poll(&waiting, 1, static_cast<int>(_timeout.count())) == 1 &&
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    // The callers send and read blocking, each read bounded by poll.
    if (!connected || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool send_all(int _fd, const std::string& _data) {
    std::size_t sent = 0;
    while (sent < _data.size()) {
        const auto n = ::send(_fd, _data.data() + sent, _data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// True once _text holds one whole reply.
bool is_complete_reply(const std::string& _text) {
    try {
        parse_redis_reply(_text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Reads until one whole reply has come or the deadline passes. Returns what was read. The
// reply is parsed only once the socket has nothing more to read right now, so that a reply of
// many megabytes is not parsed again for each of its parts.
std::string read_reply(int _fd, std::chrono::milliseconds _timeout) {
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + _timeout;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd waiting{_fd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        const auto n = ::recv(_fd, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            break;
        }
        reply.append(buffer, static_cast<std::size_t>(n));
        pollfd more{_fd, POLLIN, 0};
        if (::poll(&more, 1, 0) <= 0 && is_complete_reply(reply)) {
            break;
        }
    }
    return reply;
}

std::string encode(const std::initializer_list<std::string>& _words) {
    std::string text = "*" + std::to_string(_words.size()) + "\r\n";
    for (const auto& word : _words) {
        text += "$" + std::to_string(word.size()) + "\r\n" + word + "\r\n";
    }
    return text;
}
}  // namespace

redis_server::redis_server() : m_port(free_port()) {
    // A port free when it was picked may be taken before the server binds it.
    launch_answering(true);
}

redis_server::~redis_server() {
    try {
        stop();
    } catch (...) {
    }
}

pid_t redis_server::pid() const {
    return m_process ? m_process->pid() : -1;
}

void redis_server::start(bool _saved_data) {
    if (m_process) {
        return;
    }
    if (!_saved_data) {
        std::remove(m_directory.file("dump.rdb").c_str());
    }
    // On the same port, which the clients know.
    launch_answering(false);
}

void redis_server::launch_answering(bool _other_port) {
    for (int attempt = 1;; ++attempt) {
        const auto failure = launch_until_ready(
            0, [this] { return answers_ping(); }, "answer");
        if (!failure) {
            return;
        }
        if (!failure->exited || attempt == start_attempts) {
            throw std::runtime_error("redis_server, attempt " + std::to_string(attempt) + " of " +
                                     std::to_string(start_attempts) + ": " + failure->text);
        }
        if (_other_port) {
            m_port = free_port();
        } else {
            // Whoever took the port meanwhile may let it go.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
}

std::optional<redis_server::start_failure> redis_server::launch_until_ready(
    long long _key_load_delay, const std::function<bool()>& _ready, const std::string& _awaited) {
    const std::string log = m_directory.file("redis.log");
    // The log is appended to by every server started here: only this one's lines count.
    const std::size_t logged_before = read_file(log).size();
    launch(_key_load_delay);
    const auto deadline = std::chrono::steady_clock::now() + start_deadline;
    for (;;) {
        if (_ready()) {
            return std::nullopt;
        }
        if (m_process->wait(std::chrono::milliseconds::zero()) ||
            std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    start_failure failure;
    failure.exited = m_process->exited();
    failure.text =
        "redis-server on port " + std::to_string(m_port) + " did not " + _awaited +
        (failure.exited
             ? "; it exited with status " + std::to_string(m_process->exit_code())
             : " within " + std::to_string(start_deadline.count()) + " s; it was killed");
    const std::string logged = read_file(log);
    const std::string own = logged.size() > logged_before ? logged.substr(logged_before) : "";
    failure.text +=
        own.empty() ? "; its log is empty" : "; the end of its log:\n" + last_lines(own, 20);
    const std::string error = m_process->standard_error();
    if (!error.empty()) {
        failure.text += "\nits standard error:\n" + last_lines(error, 20);
    }
    // Killed and waited for, if it still runs: no server is left behind.
    m_process.reset();
    return failure;
}

void redis_server::launch(long long _key_load_delay) {
    std::vector<std::string> arguments{
        "--bind", m_address, "--port", std::to_string(m_port), "--save", "", "--appendonly", "no",
        "--dir", m_directory.path(), "--daemonize", "no", "--logfile",
        m_directory.file("redis.log"),
        // DEBUG RELOAD reloads the data set in place; a load answers clients every kilobyte
        // it reads, not only every two megabytes.
        "--enable-debug-command", "local", "--loading-process-events-interval-bytes", "1024"};
    if (_key_load_delay != 0) {
        arguments.insert(arguments.end(), {"--key-load-delay", std::to_string(_key_load_delay)});
    }
    m_process = std::make_unique<child_process>(redis_program, arguments);
}

long long redis_server::slow_down_loading(std::chrono::milliseconds _loading) {
    command({"EVAL",
             "for i = 1, 256 do redis.call('SET', 'test_support:filler:' .. i, string.rep('x', "
             "256)) end",
             "0"});
    const long long keys = std::max(1LL, std::stoll(parse_redis_reply(command({"DBSIZE"})).text));
    const long long per_key =
        std::chrono::duration_cast<std::chrono::microseconds>(_loading).count() / keys;
    // The server sleeps (usleep) after each key, which costs about this much more than asked.
    constexpr long long sleep_cost = 90;
    if (per_key > 2 * sleep_cost) {
        return per_key - sleep_cost;
    }
    // Shorter than a sleep: a negative delay -n sleeps a moment after one key in n, on average.
    return -std::max(1LL, sleep_cost / std::max(1LL, per_key));
}

bool redis_server::wait_until_loading() {
    const auto deadline = std::chrono::steady_clock::now() + start_deadline;
    do {
        if (is_loading()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

void redis_server::restart_loading(std::chrono::milliseconds _loading) {
    const auto delay = slow_down_loading(_loading);
    stop_keeping_data();
    const auto failure = launch_until_ready(
        delay, [this] { return is_loading(); }, "begin to load its data");
    if (failure) {
        throw std::runtime_error(failure->text);
    }
}

void redis_server::reload_loading(std::chrono::milliseconds _loading) {
    const auto delay = slow_down_loading(_loading);
    command({"CONFIG", "SET", "key-load-delay", std::to_string(delay)});
    // Answered once the load has ended: kept open until then.
    m_reload_fd = connect_to(m_port);
    if (m_reload_fd < 0 || !send_all(m_reload_fd, encode({"DEBUG", "RELOAD"})) ||
        !wait_until_loading()) {
        throw std::runtime_error("redis_server: not loading after DEBUG RELOAD");
    }
}

bool redis_server::wait_until_loaded(std::chrono::milliseconds _timeout) {
    const bool loaded = ping(_timeout);
    if (m_reload_fd >= 0) {
        ::close(m_reload_fd);
        m_reload_fd = -1;
    }
    if (loaded) {
        command({"CONFIG", "SET", "key-load-delay", "0"});
    }
    return loaded;
}

bool redis_server::is_loading() const {
    const int fd = connect_to(m_port);
    if (fd < 0) {
        return false;
    }
    const bool loading = send_all(fd, "PING\r\n") &&
                         read_reply(fd, std::chrono::seconds(1)).rfind("-LOADING", 0) == 0;
    ::close(fd);
    return loading;
}

void redis_server::stop() {
    if (m_reload_fd >= 0) {
        ::close(m_reload_fd);
        m_reload_fd = -1;
    }
    if (!m_process) {
        return;
    }
    m_process->send_signal(SIGTERM);
    m_process->send_signal(SIGCONT);  // a frozen server ends too
    wait_until_stopped(std::chrono::seconds(5));
}

void redis_server::stop_keeping_data() {
    if (command({"SAVE"}).rfind("+OK", 0) != 0) {
        throw std::runtime_error("redis_server: SAVE failed");
    }
    stop();
}

void redis_server::pause() {
    if (m_process) {
        m_process->send_signal(SIGSTOP);
    }
}

void redis_server::resume() {
    if (m_process) {
        m_process->send_signal(SIGCONT);
    }
}

void redis_server::kill() {
    if (!m_process) {
        return;
    }
    m_process->send_signal(SIGKILL);
    wait_until_stopped(std::chrono::seconds(5));
}

void redis_server::wait_until_stopped(std::chrono::milliseconds _timeout) {
    if (!m_process->wait(_timeout)) {
        m_process->send_signal(SIGKILL);
        m_process->wait(std::chrono::seconds(5));
    }
    m_process.reset();
}

bool redis_server::answers_ping() const {
    const int fd = connect_to(m_port);
    if (fd < 0) {
        return false;
    }
    const bool answered =
        send_all(fd, "PING\r\n") && read_reply(fd, std::chrono::seconds(1)).rfind("+PONG", 0) == 0;
    ::close(fd);
    return answered;
}

bool redis_server::ping(std::chrono::milliseconds _timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + _timeout;
    do {
        if (answers_ping()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string redis_server::command(const std::initializer_list<std::string>& _words) const {
    const int fd = connect_to(m_port);
    if (fd < 0) {
        throw std::runtime_error("redis_server: cannot connect to port " + std::to_string(m_port));
    }
    std::string reply;
    if (send_all(fd, encode(_words))) {
        reply = read_reply(fd, std::chrono::seconds(5));
    }
    ::close(fd);
    if (reply.empty()) {
        throw std::runtime_error("redis_server: no reply");
    }
    return reply;
}

}  // namespace test_support
