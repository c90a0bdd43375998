// careless_caller: starts a program with the process state that a careless
// caller hands over through exec, as daemons and language runtimes do.
// Usage: careless_caller STATE PROGRAM [ARGUMENT...]
#include <csignal>
#include <cstdio>
#include <cstring>
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
        std::fputs("usage: careless_caller blocked|ignored|pending|timer|closed_stdio|no_file_size "
                   "PROGRAM [ARGUMENT...]\n",
                   stderr);
        return 2;
    }
    if (!set_up(argv[1]))
        return 125;
    execvp(argv[2], argv + 2);
    return 127;
}
