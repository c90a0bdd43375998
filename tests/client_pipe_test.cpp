// The client, run as a program, against what it may find at its pipe path.
#include "client_fixture.hpp"
#include "fifo_peer.hpp"

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

class client_pipe : public client_fixture {};

TEST_F(client_pipe, two_runs_arrive_in_order)
{
    fifo_reader reader(pipe);
    expect_quiet_end(run_client({"resume_music"}), 0);
    expect_quiet_end(run_client({"stop_music"}), 0);
    EXPECT_EQ(reader.take(), "10");
}

TEST_F(client_pipe, missing_pipe_is_not_created)
{
    ASSERT_EQ(unlink(pipe.c_str()), 0);
    expect_quiet_end(run_client({"resume_music"}), 0);
    EXPECT_EQ(entries_in(sock_dir), 0);

    ASSERT_EQ(rmdir(sock_dir.c_str()), 0);
    expect_quiet_end(run_client({"stop_music"}), 0);
    EXPECT_EQ(entries_in(dir.path()), 0);
}

TEST_F(client_pipe, without_a_reader_gives_up_at_the_bound)
{
    const run_result result = run_client({"resume_music"});
    expect_quiet_end(result, 0);
    EXPECT_GE(result.elapsed_ms, test_config::client_timeout_ms - 5) << "did not wait for a reader";
    EXPECT_LT(result.elapsed_ms, test_config::client_timeout_ms + 1500);
}

TEST_F(client_pipe, reader_that_opens_within_the_bound_gets_the_command)
{
    child_process client(client_command({"stop_music"}), dir.path());
    // Long enough for the client to be waiting in its open, short of the bound.
    sleep_ms(test_config::client_timeout_ms / 2);
    fifo_reader reader(pipe);
    expect_quiet_end(client.wait(), 0);
    EXPECT_EQ(reader.take(), "0");
}

TEST_F(client_pipe, reader_that_leaves_before_the_write_does_not_kill_the_client)
{
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        // A full pipe holds the client in its write until the last reader
        // leaves, which fails the write with EPIPE and raises SIGPIPE.
        auto reader = std::make_unique<fifo_reader>(pipe);
        const int filler = open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(filler, 0);
        const std::string block(4096, 'x');
        while (write(filler, block.data(), block.size()) > 0) {
        }
        open_watch watch(pipe);
        child_process client(client_command({"resume_music"}), dir.path());
        ASSERT_EQ(watch.opens(5000), 1);
        sleep_ms(test_config::client_timeout_ms / 4);
        reader.reset();
        const run_result result = client.wait();
        close(filler);
        expect_quiet_end(result, 0);
        EXPECT_LT(result.elapsed_ms, test_config::client_timeout_ms)
            << "the write was not woken by the leaving reader";
        if (HasFailure())
            return;
    }
}

TEST_F(client_pipe, regular_file_and_directory_are_left_untouched)
{
    ASSERT_EQ(unlink(pipe.c_str()), 0);
    write_file(pipe, "hello");
    const file_state before = state_of(pipe);
    expect_quiet_end(run_client({"resume_music"}), 0);
    EXPECT_TRUE(state_of(pipe) == before) << "the regular file was changed";

    ASSERT_EQ(unlink(pipe.c_str()), 0);
    ASSERT_EQ(mkdir(pipe.c_str(), 0755), 0);
    expect_quiet_end(run_client({"stop_music"}), 0);
    EXPECT_EQ(entries_in(pipe), 0);
}

TEST_F(client_pipe, pipe_the_caller_may_not_write_is_quietly_skipped)
{
    // Root may write anything, so as root the client runs as "nobody", from
    // a copy that user can reach.
    const bool as_root = geteuid() == 0;
    ASSERT_EQ(chmod(pipe.c_str(), as_root ? 0644 : 0400), 0);
    fifo_reader reader(pipe);
    command_line command = client_command({"resume_music"});
    if (as_root) {
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        const std::string copy = dir / "fifo_client_1";
        write_file(copy, read_file(test_config::client_program));
        ASSERT_EQ(chmod(copy.c_str(), 0755), 0);
        command = as_nobody(program_command(copy, {"resume_music"}));
    }
    expect_quiet_end(run(command, dir.path()), 0);
    EXPECT_EQ(reader.take(), "");
}

} // namespace
