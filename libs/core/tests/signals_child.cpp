// Runs an events loop under stop_on_signals and reports on standard output; the signals tests
// drive it. Exit status 0 when every check held, 1 when one failed, 2 when it timed out.
#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <iostream>
#include <string>
#include <thread>

#include "core/core.hpp"
#include "core/events_loop.hpp"
#include "core/logger.hpp"

using namespace std::chrono_literals;

namespace {
int thread_count() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        ::closedir(tasks);
    }
    return count;
}

// Waits until the process has _count threads; false after two seconds.
bool wait_for_thread_count(int _count) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (thread_count() != _count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void report(const std::string& _line) {
    std::cout << _line << std::endl;
}

// Waits until each of _signals is pending; false after five seconds.
bool wait_for_pending(std::initializer_list<int> _signals) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        sigset_t pending;
        sigpending(&pending);
        if (std::all_of(_signals.begin(), _signals.end(),
                        [&](int _signal) { return sigismember(&pending, _signal) == 1; })) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
}
}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    // "held" modes: as the service does, SIGINT and SIGTERM are blocked from the start in
    // every thread.
    const bool held = mode.compare(0, 4, "held") == 0;
    if (held) {
        tvk::libs::core::hold_stop_signals();
    }
    tvk::libs::core::logger logger("signals_child", "main");
    auto core = tvk::libs::core::core::create(logger);
    auto loop = core->create_events_loop("main loop");
    const auto work = loop->create_work();
    bool timed_out = false;
    auto deadline = loop->get_timers().create_timer(
        10s, "deadline",
        [&](tvk::libs::core::timer::time_point) {
            timed_out = true;
            loop->stop();
        },
        TVK_SOURCE_LOCATION);
    const int baseline = thread_count();
    if (mode == "held_early") {
        // The signal comes before the watch exists.
        report("held");
        if (!wait_for_pending({argc > 2 ? std::stoi(argv[2]) : SIGTERM})) {
            report("no signal");
            return 2;
        }
        auto handle = loop->stop_on_signals();
        const bool at_once = loop->is_stopped() && handle->signal_is_received();
        report(at_once ? "stopped at once" : "not stopped");
        loop->run_catch_exceptions(TVK_SOURCE_LOCATION);
        handle.reset();
        return timed_out ? 2 : (at_once ? 0 : 1);
    }
    auto handle = loop->stop_on_signals();
    bool ok = thread_count() == baseline + 1;

    if (mode == "no_signal") {
        // The handle goes while the loop runs; the loop must go on.
        auto check = loop->get_timers().create_timer(
            20ms, "drop handle",
            [&](tvk::libs::core::timer::time_point) {
                ok = ok && !handle->signal_is_received();
                handle.reset();
                ok = ok && thread_count() == baseline && !loop->is_stopped();
                loop->post(
                    [&] {
                        report("running after handle");
                        loop->stop();
                    },
                    TVK_SOURCE_LOCATION);
            },
            TVK_SOURCE_LOCATION);
        loop->run_catch_exceptions(TVK_SOURCE_LOCATION);
        report(ok ? "ok" : "failed");
        return timed_out ? 2 : (ok ? 0 : 1);
    }

    report("ready");
    loop->run_catch_exceptions(TVK_SOURCE_LOCATION);
    if (timed_out) {
        report("timed out");
        return 2;
    }
    const bool received = handle->signal_is_received();
    report(received ? "received" : "not received");
    // The signal thread ends by itself once it has stopped the loop.
    const bool thread_ended = wait_for_thread_count(baseline);
    report(thread_ended ? "thread ended" : "thread still runs");
    handle.reset();
    ok = ok && received && thread_ended;
    if (held) {
        // No longer watched, and still blocked: the next ones wait, without effect.
        report("unwatched");
        const bool both = wait_for_pending({SIGINT, SIGTERM});
        report(both ? "still held" : "not held");
        return ok && both ? 0 : 1;
    }
    if (mode == "twice") {
        // No longer watched: the next signal ends the process the default way.
        report("unwatched");
        std::this_thread::sleep_for(5s);
        report("survived");
        return 1;
    }
    return ok ? 0 : 1;
}
