#pragma once

#include <string>

namespace test_support {

// A TCP port on 127.0.0.1 that nothing listened on a moment ago, reserved for the rest of
// the process: no other test process gets it from here, even while its server restarts.
int free_port();

// "tcp://127.0.0.1:<free port>".
std::string free_tcp_endpoint();

}  // namespace test_support
