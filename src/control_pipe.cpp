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

// At each tick a waiting client looks at the path again. Times are kept as
// the timer takes them, added and subtracted by hand: a 64-bit division is a
// call into libgcc on 32-bit ARM.
constexpr timeval tick_length{.tv_sec = 0, .tv_usec = 10'000};

// Expiries taken since the timer was last armed: the first is the tick.
volatile sig_atomic_t expiries = 0;
// What was left of the bound after the tick the timer was last armed with,
// and the interval it was armed with.
timeval rest_after_tick{};
timeval armed_interval{};
// The whole bound and a tick: longer than any rest.
timeval span{};

void count_expiry(int)
{
    expiries = expiries + 1; // ++ on a volatile is deprecated
}

bool is_zero(const timeval& t)
{
    return t.tv_sec == 0 && t.tv_usec == 0;
}

bool shorter(const timeval& a, const timeval& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_usec < b.tv_usec);
}

timeval sum(timeval a, const timeval& b)
{
    a.tv_sec += b.tv_sec;
    a.tv_usec += b.tv_usec;
    if (a.tv_usec >= 1'000'000) {
        a.tv_usec -= 1'000'000;
        ++a.tv_sec;
    }
    return a;
}

// a - b; negative seconds when b is longer.
timeval difference(timeval a, const timeval& b)
{
    a.tv_sec -= b.tv_sec;
    a.tv_usec -= b.tv_usec;
    if (a.tv_usec < 0) {
        a.tv_usec += 1'000'000;
        --a.tv_sec;
    }
    return a;
}

// Arms a tick within what is left of the bound; the last tick falls on the
// deadline. Once the tick is taken the kernel re-arms the timer with its
// interval, so stopping the timer at the next look tells how long ago the
// tick came: what remains is left + rest - interval.
// - The first arming takes the rest of the bound as its interval, so that a
//   tick taken before the first blocking call is entered (a slow start)
//   still ends that call at the deadline.
// - Later armings take a span, longer than the bound, so that a tick taken
//   late (the client stopped or starved across its deadline) still tells
//   exactly how late it is: with the rest as the interval the kernel would
//   skip whole intervals unseen.
// Counting ticks instead would stretch the bound on a starved processor;
// reading a clock would be one more import for the loader to bind at
// start-up. Inlined, so that the first arming, with the bound built in,
// costs no arithmetic at run time.
[[gnu::always_inline]] inline bool arm_tick(const timeval& left, bool first)
{
    const timeval tick = shorter(left, tick_length) ? left : tick_length;
    rest_after_tick = difference(left, tick);
    if (!first)
        armed_interval = span;
    else
        armed_interval = is_zero(rest_after_tick) ? tick_length : rest_after_tick;
    const itimerval pace{.it_interval = armed_interval, .it_value = tick};
    if (setitimer(ITIMER_REAL, &pace, nullptr) != 0)
        return false;
    expiries = 0;
    return true;
}

// A constant: nothing to zero at run time.
constexpr itimerval timer_off{};

void disarm_deadline()
{
    // Cannot fail with a valid timer; if it did, the next tick would only
    // interrupt a call that does not block.
    (void)setitimer(ITIMER_REAL, &timer_off, nullptr);
}

bool arm_deadline(int timeout_ms)
{
    if (timeout_ms <= 0)
        return false;

    // Zeroed in static storage (zeroing one on the stack would import
    // memset on ARM): an empty mask, and no SA_RESTART, on purpose. The
    // handler goes in first, so that neither a tick still pending from the
    // caller nor a timer the caller left armed can kill the client.
    static struct sigaction on_expiry;
    on_expiry.sa_handler = count_expiry;
    if (sigaction(SIGALRM, &on_expiry, nullptr) != 0)
        return false;

    // A blocked mask survives exec; with SIGALRM blocked no tick would ever
    // end a wait. Only SIGALRM is let through: what else the caller blocked
    // stays blocked. A tick the caller left pending is taken now, before
    // the count starts.
    static sigset_t alarm_only; // zeroed, as above
    sigaddset(&alarm_only, SIGALRM);
    if (sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr) != 0)
        return false;

    // Replaces any timer the caller left armed: from here on only this one
    // raises SIGALRM.
    const timeval bound{.tv_sec = timeout_ms / 1000,
                        .tv_usec = static_cast<suseconds_t>(timeout_ms % 1000) * 1000};
    span = sum(bound, tick_length);
    return arm_tick(bound, true);
}

// Whether any of the bound is left; if so, arms the next tick with what is
// left, read off the timer as it is stopped.
bool time_left()
{
    itimerval left; // filled by setitimer
    // An expiry not yet taken is taken as this call returns, and counted.
    if (setitimer(ITIMER_REAL, &timer_off, &left) != 0)
        return false;
    // A second expiry comes an interval after the tick: past the bound.
    if (expiries >= 2)
        return false;
    timeval rest;
    if (expiries == 0) {
        rest = sum(left.it_value, rest_after_tick); // the tick had yet to come
    } else if (is_zero(left.it_value)) {
        rest = rest_after_tick; // the tick was taken only now, before the kernel re-armed
    } else {
        // The tick came (interval - left) ago.
        rest = difference(sum(left.it_value, rest_after_tick), armed_interval);
    }
    return rest.tv_sec >= 0 && !is_zero(rest) && arm_tick(rest, false);
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

// Tries until the command is delivered, a failure is final, or the bound is
// reached. A tick that ends a wait (for a reader, or on a full pipe), and a
// reader that went away before the write, are followed by a fresh look at
// the path and a new attempt. No failed attempt wrote anything, so the
// command arrives once, or not at all.
delivery_result deliver_within_bound(found_fifo& found, const char* path, pipe_command command)
{
    // A tick already taken since the timer was armed would leave the next
    // blocking call waiting a whole span: it is counted as the tick it is
    // instead.
    bool tick_taken = false;
    for (;;) {
        const delivery_result result =
            tick_taken ? delivery_result::timed_out : deliver_to_found(found, path, command);
        const bool waiting = result == delivery_result::timed_out || result == delivery_result::reader_left;
        // Without /proc, the path led to something other than the FIFO found.
        const bool path_moved = result == delivery_result::not_a_fifo;
        if ((!waiting && !path_moved) || !time_left())
            return result;
        if (!follow_path(path, found) && path_moved)
            return result;
        tick_taken = expiries != 0;
    }
}

} // namespace

delivery_result deliver_pipe_command(const char* path, pipe_command command, int timeout_ms)
{
    // Without a bound a missing reader would hang the caller.
    if (!arm_deadline(timeout_ms))
        return delivery_result::no_deadline;

    // The one lookup whose failure is final at once: a pipe that is not
    // there is not waited for.
    found_fifo found;
    delivery_result result = delivery_result::open_failed;
    if (look_up(path, found, result)) {
        result = deliver_within_bound(found, path, command);
        (void)close(found.handle);
    }

    disarm_deadline();
    return result;
}

void send_pipe_command(pipe_command command)
{
    (void)deliver_pipe_command(control_pipe_path, command, control_pipe_timeout_ms);
}
