// morvelin_stand_in: a stand-in for the music service during development.
// Makes the control pipe at the given path when it is absent, writable by
// every user, holds its read end, and prints one line for each byte that
// arrives.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
        unsigned char bytes[64];
        size_t wanted = sizeof bytes;
        if (count != 0 && count - received < wanted)
            wanted = count - received;
        const ssize_t got = read(fd, bytes, wanted);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot read", path);
        }
        for (ssize_t i = 0; i < got; ++i)
            print_command(bytes[i]);
        received += static_cast<unsigned long>(got);
        std::fflush(stdout);
    }
    return 0;
}
