#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "test_support/process.hpp"

namespace test_support {

// A redis-server of the test's own on a free loopback port, without persistence, in a
// temporary directory. Started by the constructor, which waits until it answers PING; a server
// that ends at once (its port taken meanwhile) is started again on another port, a few times.
// A server that cannot be started raises with its exit status and the end of its log.
class redis_server {
public:
    redis_server();
    ~redis_server();  // stops the server if it still runs
    redis_server(const redis_server&) = delete;
    redis_server& operator=(const redis_server&) = delete;

    int port() const { return m_port; }
    const std::string& address() const { return m_address; }  // "127.0.0.1"
    bool running() const { return m_process != nullptr; }
    pid_t pid() const;

    // Ends the server: SIGTERM, then SIGKILL after a deadline. Clients see the connection close.
    void stop();
    // Saves the data set to disk (SAVE), then stops the server; start(true) loads it again.
    void stop_keeping_data();
    // Kills the server at once (SIGKILL): nothing is said to the clients.
    void kill();
    // Starts the server again on the same port, with an empty data set or, with
    // _saved_data, the one that stop_keeping_data saved last; waits for PING. A server that
    // ends at once is started again a few times; raises as the constructor does.
    void start(bool _saved_data = false);
    // Freezes the server (SIGSTOP): connections are still taken, nothing is answered.
    void pause();
    // Lets a frozen server go on (SIGCONT).
    void resume();

    // Saves the data set, stops the server and starts it again on that data, loaded slowly,
    // as a server restarted by its supervisor reloads its snapshot: for about _loading it
    // answers "-LOADING ..." to most commands (SELECT and the connection itself pass). Returns
    // once it answers so. Filler keys "test_support:filler:<n>" are added first, so that the
    // server reads enough of its snapshot to answer clients while it loads.
    void restart_loading(std::chrono::milliseconds _loading);
    // The same without a restart (DEBUG RELOAD): connections stay open meanwhile.
    void reload_loading(std::chrono::milliseconds _loading);
    // Waits until a slow load has ended; then loads are no longer slowed down.
    bool wait_until_loaded(std::chrono::milliseconds _timeout = std::chrono::seconds(20));
    // True when the server answers PING with LOADING.
    bool is_loading() const;

    // True when the server answers PING within _timeout.
    bool ping(std::chrono::milliseconds _timeout = std::chrono::seconds(5)) const;

    // Sends one command (words, RESP-encoded) and returns the raw reply text; throws on a
    // connection failure. For setting up and checking data without a client library.
    std::string command(const std::initializer_list<std::string>& _words) const;

private:
    struct start_failure {
        bool exited = false;  // by itself, rather than killed at the deadline
        std::string text;
    };

    void wait_until_stopped(std::chrono::milliseconds _timeout);
    // Launches the server and waits until _ready holds, or the server ends, or the deadline
    // passes; then the server is gone, and the failure says why: "did not <_awaited>", how it
    // ended and the end of its log.
    std::optional<start_failure> launch_until_ready(long long _key_load_delay,
                                                    const std::function<bool()>& _ready,
                                                    const std::string& _awaited);
    // Launches the server until it answers PING, again while it ends at once: on another port
    // with _other_port, else on the same one after a pause. Raises after a few attempts.
    void launch_answering(bool _other_port);
    // One PING, answered within a second.
    bool answers_ping() const;
    // Starts the process with redis-server's key-load-delay (0: none).
    void launch(long long _key_load_delay);
    // Adds the filler keys and gives the key-load-delay for a load that lasts about _loading.
    long long slow_down_loading(std::chrono::milliseconds _loading);
    bool wait_until_loading();

    temporary_directory m_directory;
    std::string m_address = "127.0.0.1";
    int m_port = 0;
    std::unique_ptr<child_process> m_process;
    // The connection that sent DEBUG RELOAD, open until the reload has ended.
    int m_reload_fd = -1;
};

}  // namespace test_support
