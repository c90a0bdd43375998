#include "control_pipe.hpp"

#include <cerrno>
#include <csignal>
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
static_assert(CONTROL_PIPE_TIMEOUT_MS > 0, "an unbounded wait could hang the caller");

const char control_pipe_path[] = CONTROL_PIPE_PATH;
const int control_pipe_timeout_ms = CONTROL_PIPE_TIMEOUT_MS;

namespace {

// Once the deadline has passed the timer keeps firing at this pace, so a
// tick that lands just before a blocking call is entered cannot leave that
// call waiting for ever.
constexpr suseconds_t retry_tick_us = 10'000;

// Set by the timer. Blocking calls also return EINTR on a tick, but a retry
// made of calls that do not block only learns of the deadline here.
volatile sig_atomic_t deadline_passed = 0;

void note_deadline(int)
{
    deadline_passed = 1;
}

void disarm_deadline()
{
    static constexpr itimerval off{}; // a constant: nothing to zero at run time
    // Cannot fail with a valid timer; if it did, the next tick would only
    // interrupt a call that does not block.
    (void)setitimer(ITIMER_REAL, &off, nullptr);
}

bool arm_deadline(int timeout_ms)
{
    // A zero timer value would disarm the timer, not expire at once.
    if (timeout_ms <= 0)
        return false;

    // Zeroed in static storage (zeroing one on the stack would import
    // memset on ARM): an empty mask, and no SA_RESTART, on purpose. The
    // handler goes in first, so that neither a tick still pending from the
    // caller nor a timer the caller left armed can kill the client.
    static struct sigaction on_alarm;
    on_alarm.sa_handler = note_deadline;
    if (sigaction(SIGALRM, &on_alarm, nullptr) != 0)
        return false;

    // Replaces any timer the caller left armed: from here on only this one
    // raises SIGALRM.
    // Every field given, so nothing is zeroed first.
    const itimerval deadline{
        .it_interval = {.tv_sec = 0, .tv_usec = retry_tick_us},
        .it_value = {.tv_sec = timeout_ms / 1000,
                     .tv_usec = static_cast<suseconds_t>(timeout_ms % 1000) * 1000},
    };
    if (setitimer(ITIMER_REAL, &deadline, nullptr) != 0)
        return false;

    // A blocked mask survives exec; with SIGALRM blocked no tick would ever
    // end a wait. Only SIGALRM is let through: what else the caller blocked
    // stays blocked.
    static sigset_t alarm_only; // zeroed, as above
    sigaddset(&alarm_only, SIGALRM);
    if (sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr) != 0) {
        disarm_deadline();
        return false;
    }
    // A tick the caller left pending was delivered just now, and is not ours.
    // Should ours have come in between, the next one is 10 ms behind it.
    deadline_passed = 0;
    return true;
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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

// Opens `name` for writing and keeps the descriptor only if it is the FIFO
// that was found; on failure gives -1, and `failure` says why.
int open_if_found(const char* name, const struct stat& found_status, delivery_result& failure)
{
    // A plain blocking open: a non-blocking one would fail at once while the
    // service is between two opens of its read end.
    const int fd = open(name, O_WRONLY);
    if (fd < 0) {
        failure = errno == EINTR ? delivery_result::timed_out : delivery_result::open_failed;
        return -1;
    }
    struct stat opened; // filled by fstat, read only when it succeeds
    if (fstat(fd, &opened) != 0 || !same_file(opened, found_status)) {
        (void)close(fd);
        failure = delivery_result::not_a_fifo;
        return -1;
    }
    return fd;
}

// Opens for writing the FIFO that `found` (an O_PATH descriptor) holds.
int open_found_fifo(int found, const struct stat& found_status, const char* path, delivery_result& failure)
{
    const int fd = open_if_found(descriptor_path(found).c_str(), found_status, failure);
    if (fd >= 0 || failure == delivery_result::timed_out)
        return fd;
    // No usable /proc: none mounted (early boot, a bare chroot), one the
    // caller may not enter, or one that is not the kernel's. The path is
    // looked up again, and the check after the open keeps the write away
    // from anything but the FIFO found.
    return open_if_found(path, found_status, failure);
}

delivery_result write_command(int fd, pipe_command command)
{
    const ssize_t written = write(fd, command.data(), command.size());
    if (written == static_cast<ssize_t>(command.size()))
        return delivery_result::delivered;
    if (written < 0 && errno == EINTR)
        return delivery_result::timed_out;
    // SIGPIPE is ignored by the client, so a reader that is gone shows as
    // EPIPE. A pipe write this small is all or nothing: nothing went in.
    if (written < 0 && errno == EPIPE)
        return delivery_result::reader_left;
    return delivery_result::write_failed;
}

delivery_result deliver_to_found(int found, const char* path, pipe_command command)
{
    // Opening alone has effects on anything but a FIFO: notifications and
    // broken leases on a file, a new terminal from /dev/ptmx, a device that
    // acts on open. So only what is a FIFO gets opened.
    struct stat found_status; // filled by fstat, read only when it succeeds
    if (fstat(found, &found_status) != 0)
        return delivery_result::open_failed;
    if (!S_ISFIFO(found_status.st_mode))
        return delivery_result::not_a_fifo;

    delivery_result failure = delivery_result::open_failed;
    const int fd = open_found_fifo(found, found_status, path, failure);
    if (fd < 0)
        return failure;
    const delivery_result result = write_command(fd, command);
    // Nothing is left to do for a close that fails: the descriptor is gone
    // either way on Linux.
    (void)close(fd);
    return result;
}

delivery_result deliver_once(const char* path, pipe_command command)
{
    // The one lookup of the path. O_PATH opens nothing: no device acts on
    // it and no file sees an open.
    const int found = open(path, O_PATH | O_CLOEXEC);
    if (found < 0)
        return errno == EINTR ? delivery_result::timed_out : delivery_result::open_failed;
    const delivery_result result = deliver_to_found(found, path, command);
    (void)close(found);
    return result;
}

} // namespace

delivery_result deliver_pipe_command(const char* path, pipe_command command, int timeout_ms)
{
    // Without a bound a missing reader would hang the caller.
    if (!arm_deadline(timeout_ms))
        return delivery_result::no_deadline;

    // A service that restarts, or reopens its read end, is back a moment
    // later: the command goes to the next reader, at most once since a
    // failed write wrote nothing.
    delivery_result result = deliver_once(path, command);
    while (result == delivery_result::reader_left && deadline_passed == 0)
        result = deliver_once(path, command);

    disarm_deadline();
    return result;
}

void send_pipe_command(pipe_command command)
{
    (void)deliver_pipe_command(control_pipe_path, command, control_pipe_timeout_ms);
}
