// A scratch folder laid out as the client under test expects it: its pipe
// at sock/morvelin.fifo, relative to the folder it runs in.
#pragma once

#include "child_process.hpp"
#include "scratch_dir.hpp"
#include "test_config.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

class client_fixture : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(mkdir(sock_dir.c_str(), 0755), 0);
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    }

    run_result run_client(const std::vector<std::string>& args)
    {
        return run(client_command(args), dir.path());
    }

    // The client as a caller the FIFO refuses. Root may write anything, so
    // as root the client runs as "nobody", from a copy that user can reach;
    // otherwise the FIFO is made read-only.
    command_line refused_client_command(const std::vector<std::string>& args)
    {
        if (geteuid() != 0) {
            EXPECT_EQ(chmod(pipe.c_str(), 0400), 0);
            return client_command(args);
        }
        EXPECT_EQ(chmod(dir.path().c_str(), 0755), 0);
        const std::string copy = dir / "fifo_client_1";
        std::filesystem::copy_file(client_program(), copy);
        EXPECT_EQ(chmod(copy.c_str(), 0755), 0);
        return as_nobody(target_command(copy, args));
    }

    // The same command where it finds no FIFO and so ends at once: what
    // starting and ending cost here and now, with the same runner, emulator
    // and load.
    run_result control_run(const command_line& command) { return run(command, sock_dir); }

    // A plain sleep for the client's bound, started beside a client that is
    // to wait it out: late by whatever stalls the machine meanwhile.
    child_process sleep_beside()
    {
        const long ms = test_config::client_pipe_bound.count();
        const std::string seconds =
            std::to_string(ms / 1000) + "." + std::to_string(1000 + ms % 1000).substr(1);
        return child_process({"sleep", {"sleep", seconds}}, dir.path());
    }

    scratch_dir dir;
    std::string sock_dir = dir / "sock";
    std::string pipe = dir / test_config::client_pipe_path;
};

// What a run must always look like: ended by itself, with the status given
// and nothing on standard error.
inline void expect_quiet_end(const run_result& result, int status, const std::string& out = "")
{
    EXPECT_FALSE(result.hung);
    EXPECT_EQ(result.signal, 0);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, "");
}

// What a client may take beyond its bound: what a control run in the same
// moment took, once for starting and once for ending, and a tick, for one
// that lands between a look at the clock and the call after it.
inline std::chrono::milliseconds allowed_beyond_the_bound(const run_result& control)
{
    return 2 * control.elapsed + std::chrono::milliseconds(60);
}

// What a run that waited out the client's whole bound for a reader looks
// like, beside a sleep of the bound started with it.
inline void expect_waited_out_the_bound(const run_result& result, const run_result& beside,
                                        const run_result& control)
{
    EXPECT_GE(result.elapsed, test_config::client_pipe_bound - std::chrono::milliseconds(5))
        << "gave up before the bound";
    EXPECT_LE(result.elapsed, beside.elapsed + allowed_beyond_the_bound(control))
        << "the sleep beside it took " << beside.elapsed.count() << " ms, a control run "
        << control.elapsed.count() << " ms";
}

// Why the client cannot be started from careless_caller in `state` here;
// empty when it can.
inline std::string why_caller_cannot_be(const char* state)
{
    if (state == nullptr || !std::string_view(state).starts_with("proc_"))
        return "";
    if (geteuid() != 0)
        return "a /proc of the caller's own needs a private mount namespace, which needs root";
    if (test_config::client_sanitized)
        return "the sanitizers' runtime cannot start without its /proc";
    return "";
}
