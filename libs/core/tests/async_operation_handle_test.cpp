#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/async_operation_handle.hpp"
#include "core/async_operation_handle_impl.hpp"
#include "loop_fixture.hpp"

using tvk::libs::core::async_operation_handle;
using tvk::libs::core::async_operation_handle_impl;
using namespace std::chrono_literals;

namespace {
using handle_impl = async_operation_handle_impl<std::string>;

// Compiles the result-less form: only the callback without arguments exists there.
class no_result_handle : public async_operation_handle<> {
public:
    bool is_complete() const override { return true; }
    void restart() override {}
    void fire() { get_callback()(); }
};

class async_handles : public loop_test::loop_fixture {
protected:
    // A provider that finishes on a worker thread once released, keeping only the weak
    // pointer, as the HTTP client does.
    handle_impl::ptr start_on_worker(const std::string& _result) {
        auto handle = handle_impl::create(
            *m_loop,
            [this, _result](const handle_impl::ptr&, const std::weak_ptr<handle_impl>& _weak) {
                m_workers.emplace_back([this, _weak, _result] {
                    std::unique_lock<std::mutex> lock(m_mutex);
                    m_released.wait_for(lock, 5s, [this] { return m_release; });
                    lock.unlock();
                    if (const auto locked = _weak.lock()) {
                        locked->return_result(std::string(_result));
                    }
                    ++m_finished;
                });
            });
        handle->start();
        return handle;
    }

    void release_workers() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_release = true;
        }
        m_released.notify_all();
        for (auto& worker : m_workers) {
            worker.join();
        }
        m_workers.clear();
    }

    // A provider that returns at once, on the caller's thread; counts its runs.
    handle_impl::ptr start_at_once() {
        auto handle = handle_impl::create(
            *m_loop, [this](const handle_impl::ptr& _self, const std::weak_ptr<handle_impl>&) {
                _self->return_result("run " + std::to_string(++m_runs));
            });
        handle->start();
        return handle;
    }

    ~async_handles() override { release_workers(); }

    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_release = false;
    std::atomic<int> m_finished{0};
    std::vector<std::thread> m_workers;
    int m_runs = 0;
};
}  // namespace

TEST_F(async_handles, a_result_from_a_worker_is_delivered_on_the_loop_thread) {
    std::vector<std::string> results;
    std::thread::id delivered_on;
    auto handle = start_on_worker("done");
    handle->set_callback([&](std::string _result) {
        results.push_back(std::move(_result));
        delivered_on = std::this_thread::get_id();
        m_loop->stop();
    });
    EXPECT_FALSE(handle->is_complete());
    release_workers();
    EXPECT_TRUE(handle->is_complete());
    EXPECT_TRUE(run_bounded());
    EXPECT_EQ(results, std::vector<std::string>{"done"});
    EXPECT_EQ(delivered_on, std::this_thread::get_id());
}

TEST_F(async_handles, a_dropped_handle_never_calls_back) {
    int calls = 0;
    // Dropped while the operation runs: the worker finds it gone.
    {
        auto handle = start_on_worker("late");
        handle->set_callback([&](std::string) { ++calls; });
    }
    release_workers();
    EXPECT_EQ(m_finished, 1);
    // Dropped after the result was queued, before the loop delivered it.
    {
        auto handle = start_at_once();
        handle->set_callback([&](std::string) { ++calls; });
        EXPECT_TRUE(handle->is_complete());
    }
    run_during(20ms);
    EXPECT_EQ(calls, 0);
}

TEST_F(async_handles, a_callback_set_after_the_start_still_receives_the_result) {
    std::vector<std::string> results;
    auto handle = start_at_once();
    handle->set_callback([&](std::string _result) { results.push_back(std::move(_result)); });
    run_during(20ms);
    EXPECT_EQ(results, std::vector<std::string>{"run 1"});
}

TEST_F(async_handles, without_a_callback_the_result_is_dropped) {
    auto handle = start_at_once();
    run_during(20ms);
    EXPECT_TRUE(handle->is_complete());
    // A callback set afterwards gets nothing of the earlier run.
    int calls = 0;
    handle->set_callback([&](std::string) { ++calls; });
    run_during(20ms);
    EXPECT_EQ(calls, 0);
}

TEST_F(async_handles, restart_runs_again_and_delivers_again) {
    std::vector<std::string> results;
    bool complete_after_restart = true;
    auto handle = handle_impl::create(
        *m_loop, [this](const handle_impl::ptr&, const std::weak_ptr<handle_impl>& _weak) {
            const int run = ++m_runs;
            // The result comes on a later pass of the loop.
            m_loop->post(
                [_weak, run] {
                    if (const auto locked = _weak.lock()) {
                        locked->return_result("run " + std::to_string(run));
                    }
                },
                TVK_SOURCE_LOCATION);
        });
    handle->set_callback([&](std::string _result) {
        results.push_back(std::move(_result));
        if (results.size() == 1) {
            handle->restart();
            complete_after_restart = handle->is_complete();
        } else {
            m_loop->stop();
        }
    });
    handle->start();
    EXPECT_FALSE(handle->is_complete());
    EXPECT_TRUE(run_bounded());
    EXPECT_FALSE(complete_after_restart);
    EXPECT_TRUE(handle->is_complete());
    EXPECT_EQ(results, (std::vector<std::string>{"run 1", "run 2"}));
}

TEST_F(async_handles, a_callback_may_drop_the_last_handle_or_replace_itself) {
    std::vector<std::string> results;
    auto holder = std::make_unique<handle_impl::ptr>(start_at_once());
    std::weak_ptr<handle_impl> watch = *holder;
    (*holder)->set_callback([&](std::string _result) {
        holder.reset();
        results.push_back(std::move(_result));
    });
    auto other = start_at_once();
    other->set_callback([&](std::string _result) {
        other->set_callback([](std::string) {});
        results.push_back(std::move(_result));
    });
    run_during(20ms);
    EXPECT_EQ(results, (std::vector<std::string>{"run 1", "run 2"}));
    EXPECT_TRUE(watch.expired());
}

TEST_F(async_handles, a_callback_without_arguments_is_told_of_the_completion) {
    int calls = 0;
    auto handle = start_at_once();
    handle->set_callback(async_operation_handle<std::string>::void_callback([&] { ++calls; }));
    run_during(20ms);
    EXPECT_EQ(calls, 1);

    no_result_handle bare;
    int bare_calls = 0;
    bare.set_callback([&] { ++bare_calls; });
    bare.fire();
    EXPECT_EQ(bare_calls, 1);
}

TEST_F(async_handles, move_only_results_are_delivered) {
    using unique_impl = async_operation_handle_impl<std::unique_ptr<int>>;
    int received = 0;
    auto handle = unique_impl::create(
        *m_loop, [](const unique_impl::ptr& _self, const std::weak_ptr<unique_impl>&) {
            _self->return_result(std::make_unique<int>(7));
        });
    handle->set_callback([&](std::unique_ptr<int> _value) { received = *_value; });
    handle->start();
    run_during(20ms);
    EXPECT_EQ(received, 7);
}
