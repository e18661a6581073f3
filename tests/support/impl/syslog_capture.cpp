#include "test_support/syslog_capture.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace test_support {

namespace {
constexpr const char* log_path = "/dev/log";

sockaddr_un unix_address(const char* _path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, _path, sizeof(address.sun_path) - 1);
    return address;
}

// True when something answers on the path: a system logger we must not displace.
bool someone_listens(const char* _path) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const sockaddr_un address = unix_address(_path);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return connected;
}
}  // namespace

syslog_capture::syslog_capture() {
    struct stat info {};
    if (::lstat(log_path, &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            m_skip_reason = "/dev/log exists and is not a socket";
            return;
        }
        if (someone_listens(log_path)) {
            m_skip_reason = "a system logger holds /dev/log";
            return;
        }
        ::unlink(log_path);  // stale socket of an earlier run
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_skip_reason = std::string("socket(): ") + std::strerror(errno);
        return;
    }
    const sockaddr_un address = unix_address(log_path);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        m_skip_reason = std::string("bind(/dev/log): ") + std::strerror(errno);
        ::close(fd);
        return;
    }
    ::chmod(log_path, 0666);
    // The kernel then attaches the sender's credentials to every datagram.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on));
    m_fd = fd;
    m_thread.start([this] { receive(); });
}

syslog_capture::~syslog_capture() {
    if (m_fd < 0) {
        return;
    }
    m_thread.stop();
    ::close(m_fd);
    ::unlink(log_path);
}

void syslog_capture::receive() {
    // A short wait, so that the thread sees promptly that it is stopped.
    pollfd waiting{m_fd, POLLIN, 0};
    if (::poll(&waiting, 1, 50) <= 0) {
        return;
    }
    std::vector<char> buffer(65536);
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    const auto received = ::recvmsg(m_fd, &header, 0);
    if (received <= 0) {
        return;
    }
    auto line = parse(std::string(buffer.data(), static_cast<std::size_t>(received)));
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(c), sizeof(credentials));
            line.pid = credentials.pid;
        }
    }
    m_lines.add(std::move(line));
}

syslog_line syslog_capture::parse(const std::string& _datagram) {
    // glibc writes "<PRI>Mmm dd hh:mm:ss ident: message" (or "ident[pid]: ").
    syslog_line line;
    std::string rest = _datagram;
    if (!rest.empty() && rest[0] == '<') {
        const auto close = rest.find('>');
        if (close != std::string::npos) {
            const int value = std::atoi(rest.substr(1, close - 1).c_str());
            line.priority = value & 0x07;
            line.facility = value & ~0x07;
            rest = rest.substr(close + 1);
        }
    }
    // The time stamp has a fixed width of 15 characters and a blank.
    if (rest.size() >= 16) {
        rest = rest.substr(16);
    }
    const auto separator = rest.find(": ");
    if (separator != std::string::npos) {
        line.ident = rest.substr(0, separator);
        line.message = rest.substr(separator + 2);
    } else {
        line.message = rest;
    }
    while (!line.message.empty() && line.message.back() == '\n') {
        line.message.pop_back();
    }
    return line;
}

namespace {
std::vector<syslog_line> of_process(const std::vector<syslog_line>& _lines, pid_t _pid) {
    std::vector<syslog_line> result;
    std::copy_if(_lines.begin(), _lines.end(), std::back_inserter(result),
                 [_pid](const syslog_line& _line) { return _line.pid == _pid; });
    return result;
}
}  // namespace

std::vector<syslog_line> syslog_capture::lines(pid_t _pid) const {
    return of_process(m_lines.items(), _pid);
}

void syslog_capture::clear() {
    m_lines.clear();
}

bool syslog_capture::wait_for(
    pid_t _pid, const std::function<bool(const std::vector<syslog_line>&)>& _predicate,
    std::chrono::milliseconds _timeout) const {
    return m_lines.wait_for(
        [&](const std::vector<syslog_line>& _lines) {
            return _predicate(of_process(_lines, _pid));
        },
        _timeout);
}

bool syslog_capture::wait_for_message_containing(pid_t _pid, const std::string& _text,
                                                 std::chrono::milliseconds _timeout) const {
    return wait_for(
        _pid,
        [&](const std::vector<syslog_line>& _lines) {
            return std::any_of(_lines.begin(), _lines.end(), [&](const syslog_line& _line) {
                return _line.message.find(_text) != std::string::npos;
            });
        },
        _timeout);
}

}  // namespace test_support
