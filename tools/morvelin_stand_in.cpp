// morvelin_stand_in: a stand-in for the music service during development.
// Makes the control pipe at the given path when it is absent, writable by
// every user, holds its read end, and prints one line for each byte that
// arrives. Stopped with SIGTERM or SIGINT, it first prints what the pipe
// still holds: those commands were delivered, and die with the last opener.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void usage()
{
    std::fputs("usage: morvelin_stand_in PIPE [COUNT]\n"
               "  Receives commands on PIPE (made when absent); stops after COUNT bytes.\n",
               stderr);
    std::exit(2);
}

[[noreturn]] void fail(const char* what, const char* path)
{
    std::fprintf(stderr, "morvelin_stand_in: %s %s: %s\n", what, path, std::strerror(errno));
    std::exit(1);
}

void print_command(unsigned char byte)
{
    if (byte == '1')
        std::puts("resume");
    else if (byte == '0')
        std::puts("stop");
    else
        std::printf("0x%02x\n", byte);
}

volatile sig_atomic_t stop_asked = 0;

void ask_to_stop(int)
{
    stop_asked = 1;
}

// Prints what `got` bytes of `bytes` hold; flushed, so that a reader of
// the output sees each command as it comes.
void print_commands(const unsigned char* bytes, ssize_t got)
{
    for (ssize_t i = 0; i < got; ++i)
        print_command(bytes[i]);
    std::fflush(stdout);
}

// Reads what the pipe holds without waiting for more, and prints it.
void print_what_is_left(int fd, const char* path)
{
    if (fcntl(fd, F_SETFL, O_NONBLOCK) != 0)
        fail("cannot stop waiting on", path);
    unsigned char bytes[64];
    ssize_t got;
    while ((got = read(fd, bytes, sizeof bytes)) > 0)
        print_commands(bytes, got);
    if (got < 0 && errno != EAGAIN)
        fail("cannot read", path);
}

unsigned long parse_count(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long count = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || count == 0 || text[0] == '-')
        usage();
    return count;
}

} // namespace

int main(int argc, char* argv[])
{
    // Nothing that looks like an option is taken for a path to make.
    if (argc < 2 || argc > 3 || argv[1][0] == '-')
        usage();
    const char* path = argv[1];
    const unsigned long count = argc == 3 ? parse_count(argv[2]) : 0; // 0: no limit

    // SIGTERM and SIGINT are let in only while waiting for the pipe, so that
    // neither can come between a look at the request and the wait. Set up
    // before the pipe is opened, so that a service a client has reached is
    // ready to be stopped.
    struct sigaction on_stop {};
    on_stop.sa_handler = ask_to_stop;
    sigset_t stop_signals{};
    sigset_t while_waiting{};
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    if (sigprocmask(SIG_BLOCK, &stop_signals, &while_waiting) != 0 ||
        sigaction(SIGTERM, &on_stop, nullptr) != 0 || sigaction(SIGINT, &on_stop, nullptr) != 0)
        fail("cannot take the stop signals for", path);
    sigdelset(&while_waiting, SIGTERM);
    sigdelset(&while_waiting, SIGINT);

    // Any user may write commands, as a hotkey daemon's unprivileged user
    // must; only the service reads them.
    constexpr mode_t pipe_mode = 0622;
    const bool made = mkfifo(path, pipe_mode) == 0;
    if (!made && errno != EEXIST)
        fail("cannot make", path);

    // Read and write: the stand-in then counts as a writer itself, so a read
    // never sees end-of-file between two clients and the pipe always has a
    // reader.
    const int fd = open(path, O_RDWR);
    if (fd < 0)
        fail("cannot open", path);
    struct stat pipe_status {};
    if (fstat(fd, &pipe_status) != 0)
        fail("cannot examine", path);
    if (!S_ISFIFO(pipe_status.st_mode)) {
        std::fprintf(stderr, "morvelin_stand_in: %s is not a FIFO\n", path);
        return 1;
    }
    // mkfifo took the umask off the mode; a pipe found in place keeps its own.
    if (made && fchmod(fd, pipe_mode) != 0)
        fail("cannot set the mode of", path);

    unsigned long received = 0;
    while (count == 0 || received < count) {
        pollfd readable{.fd = fd, .events = POLLIN, .revents = 0};
        if (ppoll(&readable, 1, nullptr, &while_waiting) < 0) {
            if (errno != EINTR)
                fail("cannot wait on", path);
            if (stop_asked) {
                print_what_is_left(fd, path);
                return 0;
            }
            continue;
        }
        unsigned char bytes[64];
        size_t wanted = sizeof bytes;
        if (count != 0 && count - received < wanted)
            wanted = count - received;
        const ssize_t got = read(fd, bytes, wanted);
        if (got < 0)
            fail("cannot read", path);
        print_commands(bytes, got);
        received += static_cast<unsigned long>(got);
    }
    return 0;
}
