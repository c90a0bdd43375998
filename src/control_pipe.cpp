#include "control_pipe.hpp"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#ifndef CONTROL_PIPE_PATH
#error "CONTROL_PIPE_PATH must be set by the build"
#endif
#ifndef CONTROL_PIPE_TIMEOUT_MS
#error "CONTROL_PIPE_TIMEOUT_MS must be set by the build"
#endif

const char control_pipe_path[] = CONTROL_PIPE_PATH;
const int control_pipe_timeout_ms = CONTROL_PIPE_TIMEOUT_MS;
// Checked as the int it became: a value past INT_MAX wraps to one that gives
// up before it starts.
static_assert(control_pipe_timeout_ms > 0, "the bound must be a positive int of milliseconds");

// What a copied executable was built for, for `strings` to show: plain
// bytes, so the loader has nothing to do for them at start-up.
#define FIFO_CLIENT_TEXT(x) #x
#define FIFO_CLIENT_NUMBER_TEXT(x) FIFO_CLIENT_TEXT(x)
[[gnu::used]] constexpr char built_for[] = "fifo_client_1 built for pipe " CONTROL_PIPE_PATH
                                           ", bound " FIFO_CLIENT_NUMBER_TEXT(CONTROL_PIPE_TIMEOUT_MS) " ms";

namespace {

// How often a waiting client wakes to look at the clock and at the path.
// A FIFO made anew is followed within a tick; a client that waits out its
// bound makes five to eight system calls a tick, so at most about 135 a
// second.
constexpr int tick_ms = 60;
constexpr itimerval timer_off{};

// When the client gives up, on the monotonic clock: no tick is counted, so
// a tick lost, late or sent by someone else cannot move it.
timespec deadline;

// Only has to exist: its signal ends a blocked open or write with EINTR,
// after which the client looks at the clock.
void on_tick(int) {}

bool start_ticking(int timeout_ms)
{
    if (timeout_ms <= 0)
        return false;

    // Zeroed in static storage (zeroing one on the stack would import
    // memset on ARM): an empty mask, and no SA_RESTART, on purpose. The
    // handler goes in first, so that neither a tick still pending from the
    // caller nor a timer the caller left armed can kill the client.
    static struct sigaction tick_handler;
    tick_handler.sa_handler = on_tick;
    if (sigaction(SIGALRM, &tick_handler, nullptr) != 0)
        return false;

    // A blocked mask survives exec; with SIGALRM blocked no tick would ever
    // end a wait. Only SIGALRM is let through: what else the caller blocked
    // stays blocked.
    static sigset_t alarm_only; // zeroed, as above
    sigaddset(&alarm_only, SIGALRM);
    if (sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr) != 0)
        return false;

    // Read before the timer starts, so the tick that falls on a bound made
    // of whole ticks finds it passed.
    if (clock_gettime(CLOCK_MONOTONIC, &deadline) != 0)
        return false;
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
        deadline.tv_nsec -= 1'000'000'000;
        ++deadline.tv_sec;
    }

    // Replaces any timer the caller left armed. The first tick comes after
    // what the bound holds beyond whole ticks, so that the last one falls on
    // the deadline. The kernel re-arms the timer at each tick taken, so it
    // keeps ticking with nothing more done here.
    const int first_tick_ms = timeout_ms % tick_ms != 0 ? timeout_ms % tick_ms : tick_ms;
    const itimerval ticking{.it_interval = {.tv_sec = 0, .tv_usec = tick_ms * 1000},
                            .it_value = {.tv_sec = 0, .tv_usec = first_tick_ms * 1000}};
    return setitimer(ITIMER_REAL, &ticking, nullptr) == 0;
}

void stop_ticking()
{
    // Cannot fail with a valid timer; if it did, the next tick would only
    // interrupt a call that does not block.
    (void)setitimer(ITIMER_REAL, &timer_off, nullptr);
}

bool deadline_passed()
{
    timespec now; // filled by clock_gettime
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return true;
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

// "/proc/self/fd/N": opening it opens the very inode that descriptor N
// holds, with no second lookup of the path that could land elsewhere.
// Written by hand: a formatting function would be one more import for the
// loader to bind at start-up.
class descriptor_path {
public:
    explicit descriptor_path(int fd)
    {
        auto number = static_cast<unsigned>(fd);
        char* end = text_ + sizeof prefix - 1;
        unsigned rest = number;
        do {
            ++end;
            rest /= 10;
        } while (rest != 0);
        *end = '\0';
        do {
            *--end = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number != 0);
    }
    const char* c_str() const { return text_; }

private:
    static constexpr char prefix[] = "/proc/self/fd/";
    // The prefix, the ten digits of the largest descriptor, the zero.
    char text_[sizeof prefix + 10] = "/proc/self/fd/";
};

// The FIFO found at the path: a handle on it that opens nothing, and which
// inode it is.
struct found_fifo {
    int handle = -1;
    dev_t device = 0;
    ino_t inode = 0;
};

// Whether descriptor `fd` holds the FIFO found.
bool holds_found(int fd, const found_fifo& found)
{
    struct stat status; // filled by fstat, read only when it succeeds
    return fstat(fd, &status) == 0 && status.st_dev == found.device && status.st_ino == found.inode;
}

// Looks `path` up, and keeps what is there in `found` when it is a FIFO;
// otherwise gives false, and `failure` says why. O_PATH opens nothing: no
// device acts on it and no file sees an open. Opening has effects on
// anything but a FIFO (notifications and broken leases on a file, a new
// terminal from /dev/ptmx, a device that acts on open), so only what is a
// FIFO is ever opened.
bool look_up(const char* path, found_fifo& found, delivery_result& failure)
{
    const int handle = open(path, O_PATH | O_CLOEXEC);
    if (handle < 0) {
        failure = errno == EINTR ? delivery_result::timed_out : delivery_result::open_failed;
        return false;
    }
    struct stat status; // filled by fstat, read only when it succeeds
    const bool examined = fstat(handle, &status) == 0;
    if (!examined || !S_ISFIFO(status.st_mode)) {
        (void)close(handle);
        failure = examined ? delivery_result::not_a_fifo : delivery_result::open_failed;
        return false;
    }
    found = {handle, status.st_dev, status.st_ino};
    return true;
}

// A service that restarts may make its FIFO anew (unlink, then mkfifo) and
// will only ever read the new one, so the client turns to it. A path that is
// missing for a moment, or that leads to anything but a FIFO, changes
// nothing. Gives whether the client now holds another FIFO.
bool follow_path(const char* path, found_fifo& found)
{
    found_fifo now;
    delivery_result ignored = delivery_result::open_failed;
    if (!look_up(path, now, ignored))
        return false;
    if (now.device == found.device && now.inode == found.inode) {
        (void)close(now.handle);
        return false;
    }
    (void)close(found.handle);
    found = now;
    return true;
}

// Whether `name` leads to the FIFO found; looked at without opening it.
bool leads_to_found(const char* name, const found_fifo& found)
{
    const int handle = open(name, O_PATH | O_CLOEXEC);
    if (handle < 0)
        return false;
    const bool found_there = holds_found(handle, found);
    (void)close(handle);
    return found_there;
}

// Opens the FIFO found for writing; on failure gives -1, and `failure` says
// why (timed_out: a tick ended the wait for a reader).
int open_found(const found_fifo& found, const char* path, delivery_result& failure)
{
    // A plain blocking open: a non-blocking one would fail at once while the
    // service is between two opens of its read end.
    const descriptor_path by_handle(found.handle);
    int fd = open(by_handle.c_str(), O_WRONLY);
    if (fd >= 0 && holds_found(fd, found))
        return fd;
    if (fd < 0 && errno == EINTR) {
        failure = delivery_result::timed_out;
        return -1;
    }
    if (fd >= 0) {
        // A /proc that is not the kernel's led elsewhere: never written.
        (void)close(fd);
    } else if (leads_to_found(by_handle.c_str(), found)) {
        // The FIFO itself refused (permissions). Its path would meet the
        // same refusal, or whatever was swapped in meanwhile: it stays
        // unopened.
        failure = delivery_result::open_failed;
        return -1;
    }
    // No usable /proc: none mounted (early boot, a bare chroot), one the
    // caller may not enter, or one that is not the kernel's. The path is
    // looked up again, and the check after the open keeps the write away
    // from anything but the FIFO found.
    fd = open(path, O_WRONLY);
    if (fd < 0) {
        failure = errno == EINTR ? delivery_result::timed_out : delivery_result::open_failed;
        return -1;
    }
    if (!holds_found(fd, found)) {
        (void)close(fd);
        failure = delivery_result::not_a_fifo;
        return -1;
    }
    return fd;
}

delivery_result write_command(int fd, pipe_command command)
{
    const ssize_t written = write(fd, command.data(), command.size());
    if (written == static_cast<ssize_t>(command.size()))
        return delivery_result::delivered;
    // A pipe write this small is all or nothing: when a tick ends a write
    // blocked on a full pipe, nothing went in, and it is made again.
    if (written < 0 && errno == EINTR)
        return delivery_result::timed_out;
    // SIGPIPE is ignored by the client, so a reader that is gone shows as
    // EPIPE; nothing went in either.
    if (written < 0 && errno == EPIPE)
        return delivery_result::reader_left;
    return delivery_result::write_failed;
}

delivery_result deliver_to_found(const found_fifo& found, const char* path, pipe_command command)
{
    delivery_result failure = delivery_result::open_failed;
    const int fd = open_found(found, path, failure);
    if (fd < 0)
        return failure;
    const delivery_result result = write_command(fd, command);
    // Nothing is left to do for a close that fails: the descriptor is gone
    // either way on Linux.
    (void)close(fd);
    return result;
}

// Tries until the command is delivered, a failure is final, or the deadline
// has passed. A tick that ends a wait (for a reader, or on a full pipe), and
// a reader that went away before the write, are followed by a fresh look at
// the path and a new attempt. A tick taken just before a blocking call is
// entered costs that call one more tick, no more. No failed attempt wrote
// anything, so the command arrives once, or not at all.
delivery_result deliver_within_bound(found_fifo& found, const char* path, pipe_command command)
{
    for (;;) {
        const delivery_result result = deliver_to_found(found, path, command);
        const bool waiting = result == delivery_result::timed_out || result == delivery_result::reader_left;
        // Without /proc, the path led to something other than the FIFO found.
        const bool path_moved = result == delivery_result::not_a_fifo;
        if ((!waiting && !path_moved) || deadline_passed())
            return result;
        if (!follow_path(path, found) && path_moved)
            return result;
    }
}

} // namespace

delivery_result deliver_pipe_command(const char* path, pipe_command command, int timeout_ms)
{
    // Without a bound a missing reader would hang the caller.
    if (!start_ticking(timeout_ms))
        return delivery_result::no_deadline;

    // The one lookup whose failure is final at once: a pipe that is not
    // there is not waited for.
    found_fifo found;
    delivery_result result = delivery_result::open_failed;
    if (look_up(path, found, result)) {
        result = deliver_within_bound(found, path, command);
        (void)close(found.handle);
    }

    stop_ticking();
    return result;
}

void send_pipe_command(pipe_command command)
{
    (void)deliver_pipe_command(control_pipe_path, command, control_pipe_timeout_ms);
}
