// The pipe writer called in-process, where the test can see what it leaves
// behind in its caller: the descriptor, the timer.
#include "control_pipe.hpp"
#include "fifo_ends.hpp"
#include "files.hpp"
#include "scratch_dir.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
constexpr int bound_ms = 300;
constexpr milliseconds bound{bound_ms};
// The writer's tick: one that lands between a look at the clock and the
// call after it costs that much.
constexpr milliseconds tick{60};

class control_pipe : public testing::Test {
protected:
    void SetUp() override
    {
        // The client's main does this; the tests stand in for it here.
        install_tick_handler();
        std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    }

    static bool timer_armed()
    {
        itimerval timer{};
        getitimer(ITIMER_REAL, &timer);
        return timer.it_value.tv_sec != 0 || timer.it_value.tv_usec != 0;
    }

    scratch_dir dir;
    std::string pipe = dir / "morvelin.fifo";
};

TEST_F(control_pipe, delivery_writes_one_byte_and_closes_at_once)
{
    for (const auto& [command, byte] : {std::pair{resume_command, "1"}, std::pair{stop_command, "0"}}) {
        fifo_reader reader(pipe);
        ASSERT_EQ(deliver_pipe_command(pipe.c_str(), command, bound_ms), delivery_result::delivered);
        EXPECT_EQ(reader.take(), byte);
        EXPECT_TRUE(reader.at_eof()) << "the write end is still open after the call";
        EXPECT_FALSE(timer_armed()) << "the call left its timer running";
    }
}

TEST_F(control_pipe, deliveries_arrive_in_order)
{
    fifo_reader reader(pipe);
    for (pipe_command command : {resume_command, stop_command, stop_command, resume_command})
        ASSERT_EQ(deliver_pipe_command(pipe.c_str(), command, bound_ms), delivery_result::delivered);
    EXPECT_EQ(reader.take(), "1001");
}

TEST_F(control_pipe, missing_pipe_is_not_created)
{
    ASSERT_EQ(unlink(pipe.c_str()), 0);
    EXPECT_EQ(deliver_pipe_command(pipe.c_str(), resume_command, bound_ms), delivery_result::no_fifo);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(pipe)));
    EXPECT_FALSE(timer_armed());
}

// A plain sleep as long as `wait`, taken beside the writer's: late by what
// no writer can help, the machine's stalls included.
std::future<steady_clock::duration> sleep_beside(milliseconds wait)
{
    return std::async(std::launch::async, [wait] {
        const auto started = steady_clock::now();
        std::this_thread::sleep_for(wait);
        return steady_clock::now() - started;
    });
}

TEST_F(control_pipe, waits_for_a_reader_no_longer_than_the_bound)
{
    // A bound of whole ticks, one that is not, and one shorter than a tick.
    for (const int wait_ms : {bound_ms, 130, 25}) {
        const milliseconds wait_bound{wait_ms};
        auto beside = sleep_beside(wait_bound);
        const auto started = steady_clock::now();
        EXPECT_EQ(deliver_pipe_command(pipe.c_str(), resume_command, wait_ms), delivery_result::gave_up);
        const auto waited = steady_clock::now() - started;
        EXPECT_GE(waited, wait_bound - milliseconds(5)) << "gave up before the bound: the open did not wait";
        EXPECT_LE(waited, beside.get() + tick) << "waited past the bound";
        EXPECT_FALSE(timer_armed());
    }
}

TEST_F(control_pipe, full_pipe_is_given_up_within_the_bound)
{
    fifo_reader reader(pipe);
    fifo_filler filler(pipe);

    auto beside = sleep_beside(bound);
    const auto started = steady_clock::now();
    EXPECT_EQ(deliver_pipe_command(pipe.c_str(), resume_command, bound_ms), delivery_result::gave_up);
    const auto waited = steady_clock::now() - started;
    EXPECT_GE(waited, bound - milliseconds(5)) << "gave up before the bound: a tick ended the write";
    EXPECT_LE(waited, beside.get() + tick) << "waited past the bound";
    EXPECT_EQ(reader.take(), std::string(filler.queued(), 'x')) << "a byte went in after all";
}

TEST_F(control_pipe, anything_but_a_fifo_is_left_untouched)
{
    ASSERT_EQ(unlink(pipe.c_str()), 0);
    write_file(pipe, "hello");
    const file_state before = state_of(pipe);
    EXPECT_EQ(deliver_pipe_command(pipe.c_str(), resume_command, bound_ms), delivery_result::no_fifo);
    EXPECT_TRUE(state_of(pipe) == before) << "the regular file was changed";

    ASSERT_EQ(unlink(pipe.c_str()), 0);
    ASSERT_EQ(mkdir(pipe.c_str(), 0700), 0);
    EXPECT_EQ(deliver_pipe_command(pipe.c_str(), resume_command, bound_ms), delivery_result::no_fifo);
    EXPECT_EQ(entries_in(pipe), 0);
}

} // namespace
