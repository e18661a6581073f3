#include "test_support/redis_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "test_support/free_port.hpp"
#include "test_support/redis_data.hpp"

namespace test_support {

namespace {
constexpr const char* redis_program = "/usr/bin/redis-server";

// A connected loopback socket, or -1.
int connect_to(int _port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(_port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
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
    start();
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
    launch(0);
    if (!ping(std::chrono::seconds(10))) {
        m_process.reset();
        throw std::runtime_error("redis-server did not answer on port " + std::to_string(m_port));
    }
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
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
    launch(delay);
    if (!wait_until_loading()) {
        throw std::runtime_error("redis_server: not loading after the restart");
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

bool redis_server::ping(std::chrono::milliseconds _timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + _timeout;
    do {
        const int fd = connect_to(m_port);
        if (fd >= 0) {
            const bool answered = send_all(fd, "PING\r\n") &&
                                  read_reply(fd, std::chrono::seconds(1)).rfind("+PONG", 0) == 0;
            ::close(fd);
            if (answered) {
                return true;
            }
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
