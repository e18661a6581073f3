#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <stdexcept>
#include <thread>

#include "loop_fixture.hpp"

using loop_test::steady;
using tvk::libs::core::source_location;
using namespace std::chrono_literals;

namespace {
class events_loop : public loop_test::loop_fixture {};
}  // namespace

TEST_F(events_loop, run_catch_exceptions_logs_each_exception_and_runs_on) {
    int runs_after = 0;
    for (int i = 1; i <= 3; ++i) {
        m_loop->post([i] { throw std::runtime_error("boom " + std::to_string(i)); },
                     TVK_SOURCE_LOCATION);
    }
    m_loop->post(
        [&] {
            ++runs_after;
            m_loop->stop();
        },
        TVK_SOURCE_LOCATION);
    EXPECT_TRUE(run_bounded(5s, true, source_location(33, __FILE__, "int main(int, char**)")));
    EXPECT_EQ(runs_after, 1);
    EXPECT_TRUE(m_loop->is_stopped());

    const auto lines = wait_for_log_lines(6);
    const std::string caught =
        "&quillmere:main <t> /libs/core/tests/events_loop_test.cpp:33 Caught exeption";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         caught,
                         "&quillmere:core <t> std::exception::what(): boom 1",
                         caught,
                         "&quillmere:core <t> std::exception::what(): boom 2",
                         caught,
                         "&quillmere:core <t> std::exception::what(): boom 3",
                     }));
}

TEST_F(events_loop, stop_before_run_returns_at_once) {
    const auto work = m_loop->create_work();
    bool guard_fired = false;
    const auto stopper = guard(3s, guard_fired);
    // Shared: the destructor's drain runs the handler after this test's body.
    auto posted_ran = std::make_shared<bool>(false);
    m_loop->post([posted_ran] { *posted_ran = true; }, TVK_SOURCE_LOCATION);
    m_loop->stop();
    EXPECT_TRUE(m_loop->is_stopped());
    const auto start = steady::now();
    m_loop->run();
    m_loop->run_catch_exceptions(TVK_SOURCE_LOCATION);
    EXPECT_LT(steady::now() - start, 1s);
    EXPECT_FALSE(guard_fired);
    EXPECT_FALSE(*posted_ran);
    EXPECT_TRUE(m_loop->is_stopped());
}

TEST_F(events_loop, run_returns_for_lack_of_work_only_without_a_work_object) {
    m_loop->run();
    // Asio counts a loop that ran out of work as stopped.
    EXPECT_TRUE(m_loop->is_stopped());
    m_loop->get_io_context().restart();

    auto work = m_loop->create_work();
    const auto start = steady::now();
    auto release = m_loop->get_timers().create_timer(
        30ms, "release", [&](steady::time_point) { work.reset(); }, TVK_SOURCE_LOCATION);
    m_loop->run();
    EXPECT_GE(steady::now() - start, 30ms);
    EXPECT_FALSE(work);
}

TEST_F(events_loop, post_from_another_thread_runs_on_the_loop_thread) {
    const auto work = m_loop->create_work();
    std::thread::id ran_on;
    std::thread poster([&] {
        m_loop->post(
            [&] {
                ran_on = std::this_thread::get_id();
                m_loop->stop();
            },
            TVK_SOURCE_LOCATION);
    });
    EXPECT_TRUE(run_bounded());
    poster.join();
    EXPECT_EQ(ran_on, std::this_thread::get_id());
}

TEST_F(events_loop, destructor_runs_what_is_queued_and_keeps_exceptions_in) {
    bool timer_ran = false;
    bool after_throw_ran = false;
    const auto start = steady::now();
    {
        // A stopped loop with queued work: the destructor still runs it.
        auto timer = std::make_shared<boost::asio::steady_timer>(m_loop->get_io_context(), 50ms);
        timer->async_wait(
            [timer, &timer_ran](const boost::system::error_code&) { timer_ran = true; });
        m_loop->post([] { throw std::runtime_error("thrown while draining"); },
                     TVK_SOURCE_LOCATION);
        m_loop->post([&] { after_throw_ran = true; }, TVK_SOURCE_LOCATION);
        m_loop->stop();
    }
    EXPECT_NO_THROW(m_loop.reset());
    const auto took = steady::now() - start;
    EXPECT_TRUE(timer_ran);
    EXPECT_TRUE(after_throw_ran);
    EXPECT_GE(took, 50ms);
    EXPECT_LT(took, 5s);
    EXPECT_TRUE(
        m_collector.wait_for_line_containing("std::exception::what(): thrown while draining"));
}

TEST_F(events_loop, destructor_with_nothing_queued_returns_at_once) {
    m_loop->post([] {}, TVK_SOURCE_LOCATION);
    m_loop->run();
    const auto start = steady::now();
    m_loop.reset();
    EXPECT_LT(steady::now() - start, 500ms);
}

TEST_F(events_loop, destructor_gives_up_draining_after_ten_seconds) {
    // A handler that always queues itself again never lets the queue run dry.
    auto spins = std::make_shared<std::atomic<long>>(0);
    std::function<void()> spin;
    auto* loop = m_loop.get();
    spin = [&spin, loop, spins] {
        ++*spins;
        std::this_thread::sleep_for(1ms);
        loop->post(spin, TVK_SOURCE_LOCATION);
    };
    m_loop->post(spin, TVK_SOURCE_LOCATION);
    const auto start = steady::now();
    m_loop.reset();
    const auto took = steady::now() - start;
    EXPECT_GE(took, 10s);
    EXPECT_LT(took, 12s);
    EXPECT_GT(spins->load(), 0);
}
