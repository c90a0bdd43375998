// A scratch folder laid out as the client under test expects it: its pipe
// at sock/morvelin.fifo, relative to the folder it runs in.
#pragma once

#include "child_process.hpp"
#include "scratch_dir.hpp"
#include "test_config.hpp"

#include <filesystem>
#include <gtest/gtest.h>
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

// What a run that waited out the client's whole bound for a reader looks like.
inline void expect_waited_out_the_bound(const run_result& result)
{
    EXPECT_GE(result.elapsed, test_config::client_pipe_bound - std::chrono::milliseconds(5))
        << "gave up before the bound";
    EXPECT_LT(result.elapsed, test_config::client_pipe_bound + std::chrono::milliseconds(1500));
}
