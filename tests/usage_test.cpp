// The client's entry point called in-process, for argument vectors that an
// exec can no longer produce.
#include "files.hpp"
#include "open_watch.hpp"
#include "scratch_dir.hpp"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

int fifo_client_1_main(int argc, char* argv[]);

namespace {

// Runs the entry point with standard output sent to a file, and returns
// what it printed.
std::string printed_by_main(int argc, char* argv[], int* status)
{
    std::fflush(stdout);
    FILE* capture = std::tmpfile();
    const int saved = dup(1);
    dup2(fileno(capture), 1);
    *status = fifo_client_1_main(argc, argv);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    lseek(fileno(capture), 0, SEEK_SET);
    std::string text = read_all(fileno(capture));
    std::fclose(capture);
    return text;
}

TEST(usage_in_process, without_a_program_name_names_the_client)
{
    scratch_dir dir;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    ASSERT_EQ(mkdir("sock", 0700), 0);
    ASSERT_EQ(mkfifo("sock/morvelin.fifo", 0600), 0);
    open_watch watch("sock/morvelin.fifo");

    char* no_arguments[] = {nullptr};
    int status = 0;
    EXPECT_EQ(
        printed_by_main(0, no_arguments, &status),
        "Usage:fifo_client_1 action\n\tresume_music\tresume play music.\n\tstop_music\tstop play music.\n");
    EXPECT_EQ(status, -1);
    EXPECT_EQ(watch.opens(), 0);
    ASSERT_EQ(chdir("/"), 0);
}

} // namespace
