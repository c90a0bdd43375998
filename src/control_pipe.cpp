#include "control_pipe.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
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
// first tick that lands just before the blocking call is entered cannot
// leave that call waiting for ever.
constexpr suseconds_t retry_tick_us = 10'000;

// Does nothing: its only job is to make a blocked open or write return EINTR.
void interrupt_blocked_call(int) {}

bool arm_deadline(int timeout_ms)
{
    // A zero timer value would disarm the timer, not expire at once.
    if (timeout_ms <= 0)
        return false;

    // Value-initialised: an empty mask, and no SA_RESTART, on purpose.
    struct sigaction on_alarm {};
    on_alarm.sa_handler = interrupt_blocked_call;
    if (sigaction(SIGALRM, &on_alarm, nullptr) != 0)
        return false;

    itimerval deadline{};
    deadline.it_value.tv_sec = timeout_ms / 1000;
    deadline.it_value.tv_usec = static_cast<suseconds_t>(timeout_ms % 1000) * 1000;
    deadline.it_interval.tv_usec = retry_tick_us;
    return setitimer(ITIMER_REAL, &deadline, nullptr) == 0;
}

void disarm_deadline()
{
    const itimerval off{};
    // Cannot fail with a valid timer; if it did, the next tick would only
    // interrupt a call that does not block.
    (void)setitimer(ITIMER_REAL, &off, nullptr);
}

delivery_result write_to_fifo(int fd, pipe_command command)
{
    struct stat target {};
    if (fstat(fd, &target) != 0)
        return delivery_result::write_failed;
    // Anything but a FIFO (a regular file, a device) is not the service's
    // pipe, and writing to it would damage it.
    if (!S_ISFIFO(target.st_mode))
        return delivery_result::not_a_fifo;

    const size_t length = std::strlen(command);
    const ssize_t written = write(fd, command, length);
    if (written == static_cast<ssize_t>(length))
        return delivery_result::delivered;
    if (written < 0 && errno == EINTR)
        return delivery_result::timed_out;
    // EPIPE (SIGPIPE is ignored by the client) or nothing taken: the command
    // is lost, which the protocol leaves unreported.
    return delivery_result::write_failed;
}

} // namespace

delivery_result deliver_pipe_command(const char* path, pipe_command command, int timeout_ms)
{
    // Without a bound a missing reader would hang the caller.
    if (!arm_deadline(timeout_ms))
        return delivery_result::no_deadline;

    // A plain blocking open: a non-blocking one would fail at once while the
    // service is between two opens of its read end.
    const int fd = open(path, O_WRONLY);
    if (fd < 0) {
        const bool interrupted = errno == EINTR;
        disarm_deadline();
        return interrupted ? delivery_result::timed_out : delivery_result::open_failed;
    }

    const delivery_result result = write_to_fifo(fd, command);
    disarm_deadline();
    // Nothing is left to do for a close that fails: the descriptor is gone
    // either way on Linux.
    (void)close(fd);
    return result;
}

void send_pipe_command(pipe_command command)
{
    (void)deliver_pipe_command(control_pipe_path, command, control_pipe_timeout_ms);
}
