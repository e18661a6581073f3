#include "test_support/free_port.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace test_support {

namespace {

// A port the kernel has free now.
int unused_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw std::runtime_error("free_port: socket() failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("free_port: bind() failed");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

// Reserves _port for the rest of this process among the test processes of this machine: a
// lock on a file named after it, which the kernel releases when the process ends, however it
// ends. Tests run in parallel processes, and a server restarted on its port (Redis, the
// service) leaves the port free for a moment; without the reservation another test could
// take it then, and both would talk to the same server.
bool reserve(int _port) {
    const std::string directory = "/tmp/quillmere-test-ports";
    if (::mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
        throw std::runtime_error("free_port: cannot make " + directory);
    }
    const std::string file = directory + "/" + std::to_string(_port);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw std::runtime_error("free_port: cannot open " + file);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    // Kept open on purpose: the lock lasts as long as the process.
    return true;
}

}  // namespace

int free_port() {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int port = unused_port();
        if (reserve(port)) {
            return port;
        }
    }
    throw std::runtime_error("free_port: every port tried is reserved by another test");
}

std::string free_tcp_endpoint() {
    return "tcp://127.0.0.1:" + std::to_string(free_port());
}

}  // namespace test_support
