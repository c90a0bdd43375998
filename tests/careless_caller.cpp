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
#include <linux/capability.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

// A /proc of the caller's own over the kernel's, in a mount namespace of
// this process alone, as a sandbox or a chroot gives one; `mode` is its top
// folder's.
bool replace_proc(const char* mode)
{
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", "/proc", "tmpfs", 0, (std::string("mode=") + mode).c_str()) == 0;
}

// Without these, root enters folders whatever their mode. Dropped from the
// bounding set, so that the program exec'd does not get them back.
bool drop_file_access_override()
{
    return prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
           prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0;
}

// Regular files where /proc/self/fd/N should lead to the program's own
// descriptors; an emulator may hold a few below the program's.
bool forge_descriptor_links()
{
    if (mkdir("/proc/self", 0755) != 0 || mkdir("/proc/self/fd", 0755) != 0)
        return false;
    for (int fd = 3; fd < 32; ++fd) {
        const int forged = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_CREAT | O_WRONLY, 0644);
        if (forged < 0 || write(forged, "ORIGINAL", 8) != 8 || close(forged) != 0)
            return false;
    }
    return true;
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
    if (std::strcmp(state, "proc_denied") == 0)
        return replace_proc("000") && drop_file_access_override();
    if (std::strcmp(state, "proc_forged") == 0)
        return replace_proc("755") && forge_descriptor_links();
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fputs("usage: careless_caller blocked|ignored|pending|timer|timer_full_stdout|closed_stdio|"
                   "no_file_size|proc_denied|proc_forged "
                   "PROGRAM [ARGUMENT...]\n",
                   stderr);
        return 2;
    }
    if (!set_up(argv[1]))
        return 125;
    execvp(argv[2], argv + 2);
    return 127;
}
