// Runs an events loop under stop_on_signals and reports on standard output; the signals tests
// drive it. Exit status 0 when every check held, 1 when one failed, 2 when it timed out.
#include <dirent.h>

#include <chrono>
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
}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
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
    if (mode == "twice") {
        // No longer watched: the next signal ends the process the default way.
        report("unwatched");
        std::this_thread::sleep_for(5s);
        report("survived");
        return 1;
    }
    return ok ? 0 : 1;
}
