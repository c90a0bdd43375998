// The stand-in service that the demo and development use.
#include "child_process.hpp"
#include "files.hpp"
#include "scratch_dir.hpp"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void send(const std::string& pipe, const std::string& bytes)
{
    const int fd = open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

TEST(stand_in, makes_the_pipe_and_prints_a_line_per_byte)
{
    scratch_dir dir;
    const std::string pipe = dir / "morvelin.fifo";
    // The usual umask, which must not take the others' write permission away.
    const mode_t caller_umask = umask(022);
    child_process service(stand_in_command({pipe, "5"}), dir.path());
    umask(caller_umask);
    ASSERT_TRUE(wait_for_fifo(pipe));
    send(pipe, std::string("10x\0", 4));
    send(pipe, "1");
    const run_result result = service.wait();
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "resume\nstop\n0x78\n0x00\nresume\n");
    struct stat status {};
    ASSERT_EQ(stat(pipe.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0622U) << "not writable by other users";
}

TEST(stand_in, receives_what_the_client_sends)
{
    scratch_dir dir;
    ASSERT_EQ(mkdir((dir / "sock").c_str(), 0755), 0);
    const std::string pipe = dir / "sock/morvelin.fifo";
    child_process service(stand_in_command({pipe, "2"}), dir.path());
    ASSERT_TRUE(wait_for_fifo(pipe));
    for (const char* action : {"resume_music", "stop_music"})
        EXPECT_EQ(run(client_command({action}), dir.path()).status, 0);
    EXPECT_EQ(service.wait().out, "resume\nstop\n");
}

// Commands the pipe took while the service was not reading were delivered:
// they die with the pipe's last opener unless read before it exits.
TEST(stand_in, prints_what_the_pipe_holds_when_told_to_stop)
{
    for (const int stop_signal : {SIGTERM, SIGINT}) {
        scratch_dir dir;
        ASSERT_EQ(mkdir((dir / "sock").c_str(), 0755), 0);
        const std::string pipe = dir / "sock/morvelin.fifo";
        child_process service(stand_in_command({pipe}), dir.path());
        ASSERT_TRUE(wait_for_fifo(pipe));
        // Its open ends once the service holds the pipe, and so is ready.
        EXPECT_EQ(run(client_command({"stop_music"}), dir.path()).status, 0);
        service.send(SIGSTOP);
        for (const char* action : {"resume_music", "stop_music", "resume_music"})
            EXPECT_EQ(run(client_command({action}), dir.path()).status, 0);
        service.send(stop_signal);
        service.send(SIGCONT);
        const run_result result = service.wait();
        EXPECT_TRUE(result.exited) << "killed by signal " << result.signal;
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "stop\nresume\nstop\nresume\n");
    }
}

// What the stand-in refuses, with its status; nothing is made or changed.
struct refusal {
    const char* name;
    std::vector<std::string> args;
    int status;
};

class stand_in_refuses : public testing::TestWithParam<refusal> {};

TEST_P(stand_in_refuses, and_leaves_the_folder_as_it_was)
{
    const refusal& given = GetParam();
    scratch_dir dir;
    write_file(dir / "plain", "data");
    const run_result result = run(stand_in_command(given.args), dir.path(), std::chrono::seconds(5));
    EXPECT_EQ(result.status, given.status) << "refusing " << given.name;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err, "");
    EXPECT_EQ(read_file(dir / "plain"), "data");
    EXPECT_EQ(entries_in(dir.path()), 1) << "something was made";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(stand_in, stand_in_refuses, testing::Values(
    refusal{"not_a_fifo", {"plain"}, 1},
    refusal{"an_option", {"--help"}, 2}),
    [](const testing::TestParamInfo<refusal>& param_info) { return std::string(param_info.param.name); });
// clang-format on

} // namespace
