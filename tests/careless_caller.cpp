// careless_caller: starts a program with the process state that a careless
// caller hands over through exec, as daemons and language runtimes do.
// Usage: careless_caller STATE PROGRAM [ARGUMENT...]
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

bool block(std::initializer_list<int> signals)
{
    sigset_t set{};
    for (int signal_number : signals)
        sigaddset(&set, signal_number);
    return sigprocmask(SIG_BLOCK, &set, nullptr) == 0;
}

// Standard output becomes a pipe that is full, so the program's first
// write blocks; a child of ours reads it empty 1.2 s later.
bool fill_standard_output()
{
    int ends[2];
    if (pipe2(ends, O_NONBLOCK) != 0)
        return false;
    const char filling[512] = {};
    while (write(ends[1], filling, sizeof filling) > 0) {
    }
    if (errno != EAGAIN || fcntl(ends[0], F_SETFL, 0) != 0 || fcntl(ends[1], F_SETFL, 0) != 0)
        return false;
    const pid_t drainer = fork();
    if (drainer == 0) {
        close(ends[1]);
        const timespec later{1, 200'000'000};
        nanosleep(&later, nullptr);
        char sink[4096];
        while (read(ends[0], sink, sizeof sink) > 0) {
        }
        _exit(0);
    }
    return drainer > 0 && dup2(ends[1], STDOUT_FILENO) == STDOUT_FILENO && close(ends[0]) == 0 &&
           close(ends[1]) == 0;
}

bool set_up(const char* state)
{
    if (std::strcmp(state, "blocked") == 0) {
        sigset_t all{};
        sigfillset(&all);
        return sigprocmask(SIG_BLOCK, &all, nullptr) == 0;
    }
    if (std::strcmp(state, "ignored") == 0)
        return std::signal(SIGALRM, SIG_IGN) != SIG_ERR;
    if (std::strcmp(state, "pending") == 0)
        return block({SIGALRM, SIGTERM}) && raise(SIGALRM) == 0 && raise(SIGTERM) == 0;
    if (std::strcmp(state, "timer") == 0) {
        // Ignored, or its first tick could end the program before it starts.
        const itimerval every_20_ms{{0, 20'000}, {0, 20'000}};
        return std::signal(SIGALRM, SIG_IGN) != SIG_ERR && setitimer(ITIMER_REAL, &every_20_ms, nullptr) == 0;
    }
    if (std::strcmp(state, "timer_full_stdout") == 0) {
        // SIGALRM at its default: the timer kills unless the program takes
        // it over; late enough for the program to have started.
        const itimerval later_every_50_ms{{0, 50'000}, {0, 400'000}};
        return fill_standard_output() && setitimer(ITIMER_REAL, &later_every_50_ms, nullptr) == 0;
    }
    if (std::strcmp(state, "closed_stdio") == 0)
        return close(0) == 0 && close(1) == 0 && close(2) == 0;
    if (std::strcmp(state, "no_file_size") == 0) {
        const rlimit none{0, 0};
        return setrlimit(RLIMIT_FSIZE, &none) == 0;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fputs("usage: careless_caller blocked|ignored|pending|timer|timer_full_stdout|closed_stdio|"
                   "no_file_size "
                   "PROGRAM [ARGUMENT...]\n",
                   stderr);
        return 2;
    }
    if (!set_up(argv[1]))
        return 125;
    execvp(argv[2], argv + 2);
    return 127;
}
